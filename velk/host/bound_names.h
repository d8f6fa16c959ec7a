// The names Velk answers to its extension's look-ups (messages 30000 and 30001),
// and a distinct stand-in function for every function name, which records the
// call as unexpected if it is ever made.
#pragma once

#include <stddef.h>

#include <string>

namespace velk {

struct BoundName {
    const char* name;
    bool required;
};

extern const BoundName kVariableNames[];
extern const size_t kVariableNameCount;
extern const BoundName kFunctionNames[];
extern const size_t kFunctionNameCount;

// Index of the name in its list, or -1.
int variableIndex(const std::string& name);
int functionIndex(const std::string& name);
// The seven format settings that may legitimately answer 0.
bool isFormatSetting(const std::string& name);

// The stand-in for function number `index`; calling it reports
// "unexpected call to <name>" to the live host and returns 0.
void* unexpectedFunction(size_t index);

}  // namespace velk
