#include "velk/host/bound_names.h"

#include "abi/velk_names.h"
#include "velk/host/host.h"

#include <array>
#include <cstring>
#include <utility>

namespace velk {

#define VELK_BOUND_NAME(name, required) {name, (required) != 0},
const BoundName kVariableNames[] = {VELK_VARIABLE_NAMES(VELK_BOUND_NAME)};
const BoundName kFunctionNames[] = {VELK_FUNCTION_NAMES(VELK_BOUND_NAME)};
#undef VELK_BOUND_NAME
const size_t kVariableNameCount = sizeof kVariableNames / sizeof kVariableNames[0];
const size_t kFunctionNameCount = sizeof kFunctionNames / sizeof kFunctionNames[0];
static_assert(sizeof kVariableNames / sizeof kVariableNames[0] == VELK_VARIABLE_COUNT, "variable names");
static_assert(sizeof kFunctionNames / sizeof kFunctionNames[0] == VELK_FUNCTION_COUNT, "function names");

namespace {

int indexIn(const BoundName* list, size_t count, const std::string& name) {
    for (size_t i = 0; i < count; ++i)
        if (name == list[i].name) return static_cast<int>(i);
    return -1;
}

// One function per name: the index is part of the code, so no two are alike.
template <size_t I>
intptr_t __cdecl unexpected() {
    Host::reportUnexpectedCall(kFunctionNames[I].name);
    return 0;
}

template <size_t... I>
std::array<void*, sizeof...(I)> makeStandIns(std::index_sequence<I...>) {
    return {{reinterpret_cast<void*>(&unexpected<I>)...}};
}

const std::array<void*, VELK_FUNCTION_COUNT>& standIns() {
    static const auto table = makeStandIns(std::make_index_sequence<VELK_FUNCTION_COUNT>());
    return table;
}

}  // namespace

int variableIndex(const std::string& name) { return indexIn(kVariableNames, kVariableNameCount, name); }
int functionIndex(const std::string& name) { return indexIn(kFunctionNames, kFunctionNameCount, name); }

bool isFormatSetting(const std::string& name) {
    int i = variableIndex(name);
    return i >= 0 && !kVariableNames[i].required;
}

void* unexpectedFunction(size_t index) { return index < standIns().size() ? standIns()[index] : nullptr; }

}  // namespace velk
