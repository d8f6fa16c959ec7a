#include "velk/host/velk_functions.h"

#include "velk/host/host.h"

#include <cstring>

namespace velk {

namespace {

int32_t __cdecl DefineDllModule() {
    Host* h = Host::current();
    return h ? h->defineDllModule() : 0;
}

int32_t __cdecl DefineDllVariable(const char* name, void* storage, uint32_t size) {
    Host* h = Host::current();
    return h ? h->defineDllVariable(name, storage, size) : 0;
}

int32_t __cdecl RegisterModuleClass(ClassRegistration* record) {
    Host* h = Host::current();
    return h ? h->registerModuleClass(record) : 0;
}

int32_t __cdecl RegisterMenuEntry(uint32_t entry, MenuEntryCallback callback) {
    Host* h = Host::current();
    return h ? h->registerMenuEntry(entry, callback) : 0;
}

int32_t __cdecl PerformDefaultAction(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    Host* h = Host::current();
    return h ? h->performDefaultAction(m, code, value1, value2) : 0;
}

DataBlock* __cdecl GetCurrentOutputBlock(OutputChannel* channel) {
    Host* h = Host::current();
    return h ? h->getCurrentOutputBlock(channel) : nullptr;
}

int32_t __cdecl NewReleaseOutputBlock(OutputChannel* channel, const char* tag, int32_t line) {
    Host* h = Host::current();
    return h ? h->releaseOutputBlock(channel, tag, line) : 0;
}

DataBlock* __cdecl GetInputBlock(ModuleRecord* m, uint32_t input) {
    Host* h = Host::current();
    return h ? h->getInputBlock(m, input) : nullptr;
}

int32_t __cdecl NewReleaseInputBlock(ModuleRecord* m, uint32_t input, const char* tag, int32_t line) {
    Host* h = Host::current();
    return h ? h->releaseInputBlock(m, input, tag, line) : 0;
}

int32_t __cdecl ChangeModuleSize(ModuleRecord* m, uint32_t inputCount, uint32_t outputCount) {
    Host* h = Host::current();
    return h ? h->changeModuleSize(m, inputCount, outputCount) : 0;
}

void* __cdecl NewMemAlloc(uint32_t size, const char* tag, int32_t line) {
    Host* h = Host::current();
    return h ? h->allocator().allocate(size, tag, line) : nullptr;
}

void __cdecl NewDoMemFree(void* p, const char* tag, int32_t line) {
    if (Host* h = Host::current()) h->allocator().release(p, tag, line);
}

void __cdecl ShowWarning(const char* caption, const char* text) {
    if (Host* h = Host::current()) h->showWarning(caption, text);
}

void __cdecl StopExperiment() {
    if (Host* h = Host::current()) h->stopExperiment();
}

HFONT __cdecl CreateStackedFontIndirect(const LOGFONTA* font) {
    Host* h = Host::current();
    return h ? h->createStackedFont(font) : nullptr;
}

int32_t __cdecl DeleteStackedObject(HGDIOBJ object) {
    Host* h = Host::current();
    return h ? h->deleteStackedObject(object) : 0;
}

// Each entry is checked against the signature the extension calls it with.
struct Entry {
    const char* name;
    void* address;
};

#define VELK_ENTRY(fn, type) {#fn, reinterpret_cast<void*>(static_cast<type>(&fn))}
const Entry kEntries[] = {
    VELK_ENTRY(DefineDllModule, DefineDllModuleFn),
    VELK_ENTRY(DefineDllVariable, DefineDllVariableFn),
    VELK_ENTRY(RegisterModuleClass, RegisterModuleClassFn),
    VELK_ENTRY(RegisterMenuEntry, RegisterMenuEntryFn),
    VELK_ENTRY(PerformDefaultAction, PerformDefaultActionFn),
    VELK_ENTRY(GetCurrentOutputBlock, GetCurrentOutputBlockFn),
    VELK_ENTRY(NewReleaseOutputBlock, NewReleaseOutputBlockFn),
    VELK_ENTRY(GetInputBlock, GetInputBlockFn),
    VELK_ENTRY(NewReleaseInputBlock, NewReleaseInputBlockFn),
    VELK_ENTRY(ChangeModuleSize, ChangeModuleSizeFn),
    VELK_ENTRY(NewMemAlloc, NewMemAllocFn),
    VELK_ENTRY(NewDoMemFree, NewDoMemFreeFn),
    VELK_ENTRY(ShowWarning, ShowWarningFn),
    VELK_ENTRY(StopExperiment, StopExperimentFn),
    VELK_ENTRY(CreateStackedFontIndirect, CreateStackedFontIndirectFn),
    VELK_ENTRY(DeleteStackedObject, DeleteStackedObjectFn),
};
#undef VELK_ENTRY

}  // namespace

void* implementedFunction(const std::string& name) {
    for (const Entry& e : kEntries)
        if (name == e.name) return e.address;
    return nullptr;
}

}  // namespace velk
