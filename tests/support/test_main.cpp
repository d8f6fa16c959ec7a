// The main of every test program: the suite's windows and dialogs live on a desktop
// of the process's own, so that suites and velk.exe runs working at the same time
// in one Wine prefix cannot take focus, capture or activation from each other.
#include <gtest/gtest.h>

#include "velk/ui_driver.h"

int main(int argc, char** argv) {
    velk::ui::useOwnDesktop();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
