// Module instances: creation through the class's create code, restoring a saved
// module, removal, and the calls into a module's class.
#include "velk/host/host.h"

#include "velk/host/host_internal.h"

namespace velk {

ModuleInstance* Host::instanceOf(const ModuleRecord* m) const {
    for (const auto& inst : modules_)
        if (inst->record == m) return inst.get();
    return nullptr;
}

bool Host::isModule(const ModuleRecord* m) const { return m && instanceOf(m) != nullptr; }

const RegisteredClass* Host::classOf(const ModuleRecord* m) const {
    ModuleInstance* inst = instanceOf(m);
    return inst ? &classes_[inst->classIndex] : nullptr;
}

std::vector<ModuleRecord*> Host::modules() const {
    std::vector<ModuleRecord*> out;
    for (const auto& inst : modules_) out.push_back(inst->record);
    return out;
}

ModuleRecord* Host::createModule(const std::string& classId, const NewModule& how) {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i].classId() == classId) return createModuleOfClass(i, how);
    return nullptr;
}

ModuleRecord* Host::createModule(size_t classIndex, const NewModule& how) {
    return classIndex < classes_.size() ? createModuleOfClass(classIndex, how) : nullptr;
}

ModuleRecord* Host::createModuleOfClass(size_t classIndex, const NewModule& how) {
    const ClassRegistration reg = classes_[classIndex].record;
    if (!reg.classCallback) {
        log_.error("module class " + classes_[classIndex].classId() + " has no class callback");
        return nullptr;
    }
    ModuleInstance* made = allocateModule(classIndex, how);
    if (!made) return nullptr;
    ModuleRecord* rec = made->record;
    currentModule_ = rec;
    const int32_t created = reg.classCallback(rec, VELK_CODE_CREATE, 0, 0);
    if (created == 0) {
        freeModule(instanceOf(rec));
        return nullptr;
    }
    return rec;
}

ModuleRecord* Host::restoreModule(const std::string& classId, const SavedModule& saved, std::string& error) {
    size_t index = classes_.size();
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i].classId() == classId) index = i;
    if (index == classes_.size()) {
        error = "the extension registered no class " + classId;
        return nullptr;
    }
    const ClassRegistration& reg = classes_[index].record;
    if (saved.area.size() != reg.privateDataSize) {
        error = "the saved private data area has " + std::to_string(saved.area.size()) + " bytes; class " + classId +
                " registered " + std::to_string(reg.privateDataSize);
        return nullptr;
    }
    if (saved.inputCount > kMaxChannels || saved.outputCount > kMaxChannels) {
        error = "a module record holds at most " + std::to_string(kMaxChannels) + " input and output channels";
        return nullptr;
    }
    NewModule how;
    how.inputCount = saved.inputCount;
    how.outputCount = saved.outputCount;
    how.name = saved.name;
    how.comment = saved.comment;
    ModuleInstance* inst = allocateModule(index, how);
    if (!inst) {
        error = "class " + classId + " asks for areas larger than Velk could give";
        return nullptr;
    }
    if (!saved.area.empty()) std::memcpy(inst->privateBytes.get(), saved.area.data(), saved.area.size());
    return inst->record;
}

std::string Host::privateArea(const ModuleRecord* m) const {
    ModuleInstance* inst = instanceOf(m);
    if (!inst || !inst->privateBytes) return std::string();
    return std::string(reinterpret_cast<const char*>(inst->privateBytes.get()), inst->privateSize);
}

ModuleInstance* Host::allocateModule(size_t classIndex, const NewModule& how) {
    const ClassRegistration reg = classes_[classIndex].record;
    if (reg.privateDataSize > kLargestModuleArea || reg.channelDataSize > kLargestModuleArea) {
        log_.error("module class " + classes_[classIndex].classId() + " asks for " +
                    std::to_string(reg.privateDataSize) + " bytes of private data and " +
                    std::to_string(reg.channelDataSize) + " bytes per channel state record");
        return nullptr;
    }
    auto inst = std::make_unique<ModuleInstance>();
    inst->classIndex = classIndex;
    inst->number = ++moduleSerial_;
    inst->recordBytes.reset(new unsigned char[VELK_MODULE_RECORD_BYTES]());
    ModuleRecord* rec = reinterpret_cast<ModuleRecord*>(inst->recordBytes.get());
    inst->record = rec;
    rec->ownerWindow = mainWindow_;
    rec->outputGate = how.outputGate;
    rec->inputCount = how.inputCount;
    rec->outputCount = how.outputCount;
    copyField(rec->moduleName, sizeof rec->moduleName, how.name);
    copyField(rec->moduleComment, sizeof rec->moduleComment, how.comment);

    inst->privateSize = reg.privateDataSize;
    if (reg.privateDataSize) {
        const size_t n = size_t(reg.privateDataSize) + ModuleInstance::kGuardBytes;
        // Velk does not promise a cleared area: what the class needs cleared at create,
        // it clears itself.
        inst->privateBytes.reset(new unsigned char[n]);
        std::memset(inst->privateBytes.get(), ModuleInstance::kUnclearedByte, reg.privateDataSize);
        std::memset(inst->privateBytes.get() + reg.privateDataSize, ModuleInstance::kGuardByte,
                    ModuleInstance::kGuardBytes);
        rec->privateData = inst->privateBytes.get();
    }
    inst->channelSize = reg.channelDataSize;
    if (reg.channelDataSize) {
        const size_t stride = size_t(reg.channelDataSize) + ModuleInstance::kGuardBytes;
        inst->channelBytes.reset(new unsigned char[stride * kMaxChannels]);
        for (uint32_t i = 0; i < kMaxChannels; ++i) {
            unsigned char* p = inst->channelRecord(i);
            std::memset(p, ModuleInstance::kUnclearedByte, reg.channelDataSize);
            std::memset(p + reg.channelDataSize, ModuleInstance::kGuardByte, ModuleInstance::kGuardBytes);
            rec->channelData[i] = reinterpret_cast<ChannelState*>(p);
        }
    }
    for (uint32_t i = 0; i < kMaxChannels; ++i) {
        HostOutputChannel& oc = inst->outputs[i];
        std::memset(&oc.velk, 0, sizeof oc.velk);
        oc.magic = kOutputChannelMagic;
        oc.index = i;
        oc.module = inst.get();
        rec->outputChannels[i] = &oc.velk;
        inst->pools[i].setCapacity(options_.poolCapacity);
    }

    ModuleInstance* added = inst.get();
    modules_.push_back(std::move(inst));
    ++numberOfModules_;
    highModuleNumber_ = moduleSerial_;
    return added;
}

bool Host::removeModule(ModuleRecord* m) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) return false;
    const ClassCallback cb = classes_[inst->classIndex].record.classCallback;
    if (cb) cb(m, VELK_CODE_REMOVE, 0, 0);
    if (ModuleInstance* still = instanceOf(m)) freeModule(still);
    return true;
}

void Host::freeModule(ModuleInstance* inst) {
    if (!inst) return;
    for (const std::string& e : inst->damage()) log_.error(e);
    // Inputs it still holds go back to their sources.
    for (uint32_t i = 0; i < kMaxChannels; ++i)
        while (!inst->inputs[i].empty()) giveBackInput(inst, i);
    // Its blocks waiting at other modules disappear with it.
    for (auto& other : modules_) {
        if (other.get() == inst) continue;
        for (auto& queue : other->inputs)
            queue.erase(std::remove_if(queue.begin(), queue.end(),
                                       [&](const ModuleInstance::Waiting& w) {
                                           for (const BlockPool& p : inst->pools)
                                               if (w.block->home() == &p) return true;
                                           return false;
                                       }),
                        queue.end());
    }
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [&](const Connection& c) { return c.from == inst || c.to == inst; }),
                       connections_.end());
    recorders_.erase(std::remove_if(recorders_.begin(), recorders_.end(),
                                    [&](const Recorder& r) { return r.from == inst; }),
                     recorders_.end());
    lastChannel_ = nullptr;
    if (currentModule_ == inst->record) currentModule_ = nullptr;
    for (auto it = modules_.begin(); it != modules_.end(); ++it)
        if (it->get() == inst) {
            modules_.erase(it);
            break;
        }
    --numberOfModules_;
}

int32_t Host::callClass(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) return -1;
    const ClassCallback cb = classes_[inst->classIndex].record.classCallback;
    if (!cb) return -1;
    const int32_t result = cb(m, code, value1, value2);
    checkLinked();
    return result;
}

int32_t Host::process(ModuleRecord* m) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) return -1;
    const ProcessingRoutine routine = classes_[inst->classIndex].record.processingRoutine;
    if (!routine) return -1;
    ++inst->processCalls;
    const int32_t result = routine(m);
    checkLinked();
    return result;
}

uint64_t Host::processCalls(const ModuleRecord* m) const {
    const ModuleInstance* inst = instanceOf(m);
    return inst ? inst->processCalls : 0;
}

int32_t Host::setupModule(ModuleRecord* m) {
    if (!instanceOf(m)) return -1;
    currentModule_ = m;
    return callClass(m, VELK_CODE_SETUP, 0, 0);
}

}  // namespace velk
