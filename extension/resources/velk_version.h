/* The release's version, shared by the version resources of Velk_ux1.dll and of the
   simulated driver, and by their tests. The About box's string table keeps its own
   "Module Version 2.10"; a test checks that the two agree. */
#pragma once
#define VELK_VERSION_MAJOR 2
#define VELK_VERSION_MINOR 10
#define VELK_VERSION_TEXT "2.10"
