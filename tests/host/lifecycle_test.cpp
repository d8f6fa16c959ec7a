// A Host's life in a test process: one at a time, a clean teardown that lets the
// next one start, and loading an extension (a stand-in here) with the driver folder
// on the search path.
#include "host_test_support.h"

#include "tests/host/fake_extension.h"

#include <stdexcept>

using velk::Host;

namespace {

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

bool registerNotifyClass() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = plainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TK17GETMSG";
    return RegisterClassA(&wc) != 0;
}

velk::HostOptions fakeExtension(const std::string& driverFolder) {
    velk::HostOptions o = hosttest::quietOptions();
    o.extensionPath = Host::exeDir() + "\\host_fake_ext.dll";
    o.driverDir = driverFolder;
    return o;
}

std::string fakeDriverFolder() { return Host::exeDir() + "\\host-fake-driver"; }

}  // namespace

TEST_F(HostTest, OnlyOneHostLivesAtATime) {
    EXPECT_EQ(Host::current(), nullptr);
    {
        Host first(hosttest::quietOptions());
        EXPECT_EQ(Host::current(), &first);
        EXPECT_THROW(Host second(hosttest::quietOptions()), std::logic_error);
        EXPECT_EQ(Host::current(), &first);
    }
    EXPECT_EQ(Host::current(), nullptr);
    Host again(hosttest::quietOptions());
    EXPECT_NE(again.mainWindow(), nullptr);
}

TEST_F(HostTest, FinishFreesTheProcessForTheNextHost) {
    Host first(hosttest::quietOptions());
    HWND window = first.mainWindow();
    first.finish();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Host::current(), nullptr);
    first.finish();  // a second teardown does nothing
    for (int i = 0; i < 3; ++i) {
        Host next(hosttest::quietOptions());
        EXPECT_TRUE(IsWindow(next.mainWindow())) << i;
        EXPECT_NE(next.lookUp(velk::LookupKind::Variable, "MainMenu"), 0) << i;
    }
}

TEST_F(HostTest, TeardownRemovesModulesWithTheRemoveCode) {
    {
        Host host(hosttest::quietOptions());
        hosttest::TestClass::registerWith(host);
        host.createModule("TEST:SRC");
        host.createModule("TEST:SRC");
    }
    auto& calls = hosttest::TestClass::get().calls;
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].code, VELK_CODE_REMOVE);
    EXPECT_EQ(calls[3].code, VELK_CODE_REMOVE);
}

TEST_F(HostTest, TeardownDestroysTheLeftNotificationWindowAndUnregistersItsClass) {
    HWND notify = nullptr;
    {
        Host host(hosttest::quietOptions());
        // What the extension does at set-up and never undoes.
        ASSERT_TRUE(registerNotifyClass());
        notify = CreateWindowExA(0, "TK17GETMSG", "GETMSG", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, host.mainWindow(), nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(notify, nullptr);
    }
    EXPECT_FALSE(IsWindow(notify));
    EXPECT_TRUE(registerNotifyClass());  // the class is free again
    UnregisterClassA("TK17GETMSG", GetModuleHandleA(nullptr));
}

// The notification window may stay to the end; any other window the extension
// leaves behind (here a dialog-like window owned by the main window) is a misuse.
TEST_F(HostTest, AWindowLeftBehindAtFinishIsAMisuseButTheNotificationWindowIsNot) {
    Host host(hosttest::quietOptions());
    ASSERT_TRUE(registerNotifyClass());
    HWND notify = CreateWindowExA(0, "TK17GETMSG", "GETMSG", WS_POPUP, 0, 0, 10, 10, host.mainWindow(), nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HWND left = CreateWindowExA(0, "STATIC", "left", WS_POPUP, 0, 0, 10, 10, host.mainWindow(), nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(notify && left);
    host.finish();
    EXPECT_FALSE(IsWindow(left));
    EXPECT_EQ(host.log().errors(), (std::vector<std::string>{"a window of class \"Static\" was left behind at finish"}));
    UnregisterClassA("TK17GETMSG", GetModuleHandleA(nullptr));
}

TEST_F(HostTest, MissingExtensionIsAReportedLoadFailure) {
    velk::HostOptions o = hosttest::quietOptions();
    o.extensionPath = Host::exeDir() + "\\no_such_extension.dll";
    Host host(o);
    EXPECT_FALSE(host.load());
    EXPECT_FALSE(host.isLoaded());
    EXPECT_NE(host.loadError().find("no_such_extension.dll"), std::string::npos) << host.loadError();
    EXPECT_EQ(host.setup(), -1);
    EXPECT_EQ(host.finishExtension(), -1);
    EXPECT_FALSE(host.setupCalled());
}

TEST_F(HostTest, DefaultPathsAreBesideTheProgram) {
    Host host(hosttest::quietOptions());
    EXPECT_EQ(host.extensionPath(), Host::exeDir() + "\\Velk_ux1.dll");
    EXPECT_EQ(host.driverDir(), Host::exeDir() + "\\driver");
}

TEST_F(HostTest, ExtensionFindsItsDriverInTheDriverFolder) {
    Host host(fakeExtension(fakeDriverFolder()));
    ASSERT_TRUE(host.load()) << host.loadError();
    EXPECT_EQ(host.setup(), 1);
    auto driverLoaded = reinterpret_cast<FakeDriverLoadedFn>(
        reinterpret_cast<void*>(GetProcAddress(host.extensionModule(), "FakeDriverLoaded")));
    auto blockSize = reinterpret_cast<FakeLinkedBlockSizeFn>(
        reinterpret_cast<void*>(GetProcAddress(host.extensionModule(), "FakeLinkedBlockSize")));
    ASSERT_TRUE(driverLoaded && blockSize);
    EXPECT_EQ(driverLoaded(), 1);
    EXPECT_EQ(host.lookups().size(), 59u + 102u);
    EXPECT_EQ(host.defineModuleCalls(), 1);
    EXPECT_EQ(host.variableLinks().size(), 7u);
    host.setBlockSize(512);
    EXPECT_EQ(blockSize(), 512u);

    ASSERT_EQ(host.classes().size(), 1u);
    EXPECT_EQ(host.classes()[0].classId(), FAKE_CLASS_ID);
    EXPECT_EQ(host.classes()[0].shortName(), "FakeExt");
    char caption[32] = {};
    GetMenuStringA(host.mainMenu(), 3, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, "FAKE(&F)");
    EXPECT_EQ(host.chooseMenuEntry(4990), 77);
    ModuleRecord* m = host.createModule(FAKE_CLASS_ID);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(host.process(m), 1);
    EXPECT_EQ(host.callWep(123), 1);

    host.finish();
    EXPECT_EQ(host.finishExtension(), 1);
    EXPECT_EQ(GetModuleHandleA("host_fake_ext.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("host_fake_drv.dll"), nullptr);
    EXPECT_TRUE(registerNotifyClass());
    UnregisterClassA("TK17GETMSG", GetModuleHandleA(nullptr));
    EXPECT_TRUE(host.log().errors().empty()) << host.log().errors().front();
}

TEST_F(HostTest, EmptyDriverFolderLeavesTheExtensionWithoutDriver) {
    Host host(fakeExtension(""));
    ASSERT_TRUE(host.load()) << host.loadError();
    EXPECT_EQ(host.setup(), 1);
    auto driverLoaded = reinterpret_cast<FakeDriverLoadedFn>(
        reinterpret_cast<void*>(GetProcAddress(host.extensionModule(), "FakeDriverLoaded")));
    EXPECT_EQ(driverLoaded(), 0);
    EXPECT_TRUE(host.classes().empty());
    EXPECT_EQ(GetMenuItemCount(host.mainMenu()), 5);
}

TEST_F(HostTest, ZeroAnswerFailsTheExtensionsSetupAndItIsStillFinished) {
    velk::HostOptions o = fakeExtension(fakeDriverFolder());
    o.zeroNames = {"TimeBaseDialog"};
    Host host(o);
    ASSERT_TRUE(host.load());
    EXPECT_EQ(host.setup(), 0);
    EXPECT_EQ(host.lookups().back().name, "TimeBaseDialog");
    EXPECT_EQ(host.defineModuleCalls(), 0);
    host.finish();
    EXPECT_EQ(host.finishExtension(), 1);
}

TEST_F(HostTest, TheExtensionCanBeLoadedAgainByTheNextHost) {
    for (int i = 0; i < 2; ++i) {
        Host host(fakeExtension(fakeDriverFolder()));
        ASSERT_TRUE(host.loadAndSetup()) << i;
        EXPECT_EQ(host.classes().size(), 1u) << i;
    }
}
