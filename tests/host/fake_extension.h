// What the stand-in extension of the host tests (host_fake_ext.dll) exports besides
// the three entry points, so that the tests can see what it saw.
#pragma once

#include <stdint.h>

// 1 when SetupVelkDLL found host_fake_drv.dll on the search path.
typedef int32_t (*FakeDriverLoadedFn)(void);
// The extension's own copy of the linked block size.
typedef uint32_t (*FakeLinkedBlockSizeFn)(void);
// The class id it registers when the driver is there.
#define FAKE_CLASS_ID "FAKE:EXT"
