// Stands in for a card driver in the host's loading tests: the stand-in extension
// loads it from the driver folder, if the host put that folder on the search path.
#include <windows.h>

extern "C" __declspec(dllexport) int FakeDriverMark() { return 17; }
