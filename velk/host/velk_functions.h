// Velk's functions as the extension calls them: plain __cdecl entry points that
// hand each call to the live Host.
#pragma once

#include <string>

namespace velk {

// Entry address of the implemented Velk function of that name, or null.
void* implementedFunction(const std::string& name);

}  // namespace velk
