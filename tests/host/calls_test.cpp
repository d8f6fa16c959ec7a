// Velk functions the extension calls for its user and its resources: ShowWarning,
// StopExperiment, the stacked fonts and the menu entry; and the event log that
// keeps them in order.
#include "host_test_support.h"
#include "tests/support/known_difference.h"

#include "velk/common/strings.h"
#include "velk/common/text.h"
#include "velk/dialogs/dialog_operator.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using velk::Host;

namespace {

int g_menuCalls = 0;
int32_t __cdecl menuCallback() {
    ++g_menuCalls;
    return 5;
}

}  // namespace

TEST(Text, CodePage932ConvertsToUtf8AndBack) {
    // Half-width katakana and a character whose trail byte is a backslash.
    const std::string hw = "\xC1\xAC\xDD\xC8\xD9";
    EXPECT_EQ(velk::cp932ToUtf8(hw), "\xEF\xBE\x81\xEF\xBD\xAC\xEF\xBE\x9D\xEF\xBE\x88\xEF\xBE\x99");
    EXPECT_EQ(velk::cp932ToUtf8("\x83\x5C"), "\xE3\x82\xBD");
    EXPECT_EQ(velk::utf8ToCp932("\xE3\x82\xBD"), "\x83\x5C");
    // The sources are compiled to code page 932.
    EXPECT_EQ(velk::hexBytes("ソ"), "83 5C");
    EXPECT_EQ(velk::cp932ToUtf8("警告 A"), u8"警告 A");
}

TEST_F(HostTest, WarningsAreRecordedAsGivenAndHookedInsideTheCall) {
    Host host(hosttest::quietOptions());
    std::vector<std::string> seenAtHook;
    host.setWarningHook([&](const velk::Warning& w) {
        seenAtHook.push_back(w.caption + "/" + w.text);
        EXPECT_EQ(host.log().warnings().size(), seenAtHook.size());  // already recorded
    });
    auto warn = hosttest::velkFunction<ShowWarningFn>(host, "ShowWarning");
    warn("VYT-TK17 警告", "カードを抜かないでください\n継続");
    warn("エラー", "");
    const auto w = host.log().warnings();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].caption, "VYT-TK17 \x8C\x78\x8D\x90");
    EXPECT_EQ(w[0].text, "カードを抜かないでください\n継続");
    EXPECT_EQ(w[1].caption, "エラー");
    EXPECT_EQ(seenAtHook.size(), 2u);
    const auto events = host.log().events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], std::string("ShowWarning|エラー|"));
}

TEST_F(HostTest, StopExperimentSetsTheStopRequestAndRunsTheHookFirst) {
    Host host(hosttest::quietOptions());
    std::vector<std::string> eventsAtStop;
    host.setStopHook([&] { eventsAtStop = host.log().events(); });
    auto stop = hosttest::velkFunction<StopExperimentFn>(host, "StopExperiment");
    auto warn = hosttest::velkFunction<ShowWarningFn>(host, "ShowWarning");
    EXPECT_FALSE(host.log().stopRequested());
    stop();
    warn("VYT-TK17", "バッファオーバーラン");
    EXPECT_TRUE(host.log().stopRequested());
    EXPECT_EQ(host.log().stopRequests(), 1);
    EXPECT_EQ(eventsAtStop, std::vector<std::string>{"StopExperiment"});
    EXPECT_EQ(host.log().events(),
              (std::vector<std::string>{"StopExperiment", "ShowWarning|VYT-TK17|バッファオーバーラン"}));
    host.log().clearStopRequest();
    EXPECT_FALSE(host.log().stopRequested());
    stop();
    EXPECT_EQ(host.log().stopRequests(), 2);
}

TEST_F(HostTest, StackedFontsAreRealAndCounted) {
    Host host(hosttest::quietOptions());
    auto create = hosttest::velkFunction<CreateStackedFontIndirectFn>(host, "CreateStackedFontIndirect");
    auto destroy = hosttest::velkFunction<DeleteStackedObjectFn>(host, "DeleteStackedObject");
    LOGFONTA lf = {};
    lf.lfHeight = -12;
    lf.lfWeight = FW_NORMAL;
    std::strcpy(lf.lfFaceName, "MS UI Gothic");
    HFONT a = create(&lf);
    HFONT b = create(&lf);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(GetObjectType(a), DWORD(OBJ_FONT));
    LOGFONTA back = {};
    GetObjectA(a, sizeof back, &back);
    EXPECT_EQ(back.lfHeight, -12);
    EXPECT_EQ(host.liveFontCount(), 2u);
    EXPECT_EQ(destroy(a), 1);
    EXPECT_EQ(host.liveFontCount(), 1u);
    EXPECT_EQ(destroy(a), 0);  // already gone
    HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(destroy(stock), 0);
    EXPECT_EQ(create(nullptr), nullptr);
    EXPECT_EQ(host.liveFontCount(), 1u);
    EXPECT_EQ(host.log().errors().size(), 3u);
    // A font the extension never deleted still counts after teardown.
    host.finish();
    EXPECT_EQ(host.liveFontCount(), 1u);
}

TEST_F(HostTest, MenuEntryCallbackRunsWhenTheEntryIsChosen) {
    Host host(hosttest::quietOptions());
    g_menuCalls = 0;
    auto reg = hosttest::velkFunction<RegisterMenuEntryFn>(host, "RegisterMenuEntry");
    EXPECT_EQ(host.chooseMenuEntry(4990), 0);
    EXPECT_EQ(reg(4990, menuCallback), 1);
    ASSERT_EQ(host.menuEntries().size(), 1u);
    EXPECT_EQ(host.menuEntries()[0].entry, 4990u);
    EXPECT_EQ(host.chooseMenuEntry(4990), 5);
    EXPECT_EQ(host.chooseMenuEntry(4991), 0);
    // The user choosing it from Velk's menu bar: the command waits in the queue
    // until the host pumps.
    PostMessageA(host.mainWindow(), WM_COMMAND, MAKEWPARAM(4990, 0), 0);
    EXPECT_EQ(g_menuCalls, 1);
    EXPECT_GE(host.pump(), 1u);
    EXPECT_EQ(g_menuCalls, 2);
}

TEST_F(HostTest, DefineDllModuleIsCountedAndLogged) {
    Host host(hosttest::quietOptions());
    auto define = hosttest::velkFunction<DefineDllModuleFn>(host, "DefineDllModule");
    EXPECT_EQ(define(), 1);
    EXPECT_EQ(host.defineModuleCalls(), 1);
    EXPECT_EQ(host.log().events(), std::vector<std::string>{"DefineDllModule"});
    host.log().clearEvents();
    EXPECT_TRUE(host.log().events().empty());
}

TEST_F(HostTest, CommandLineHostPrintsWarningsAsUtf8) {
    velk::HostOptions o;
    o.warnings = velk::WarningOutput::Stdout;
    Host host(o);
    auto warn = hosttest::velkFunction<ShowWarningFn>(host, "ShowWarning");
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\host_tests_stdout.txt", Host::exeDir().c_str());
    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    const int file = _open(path, _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
    ASSERT_GE(file, 0);
    _dup2(file, _fileno(stdout));
    warn("VYT-TK17 警告", "ﾁｬﾝﾈﾙ ソ");
    std::fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(file);
    _close(saved);
    std::ifstream in(path, std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    in.close();
    DeleteFileA(path);
    EXPECT_EQ(got.str(), u8"[VYT-TK17 警告] ﾁｬﾝﾈﾙ ソ\n");
}

TEST_F(HostTest, WindowedHostShowsWarningsInAMessageBox) {
    VELK_SEEN_UNDER_WINE("message-box-text-control");
    velk::HostOptions o;
    o.warnings = velk::WarningOutput::MessageBox;
    Host host(o);
    auto warn = hosttest::velkFunction<ShowWarningFn>(host, "ShowWarning");
    std::string text;
    HWND owner = nullptr;
    velk::ui::Operator op([&](velk::ui::Operator& op) {
        HWND box = op.waitFor("サンプリングエラー");
        if (!box) return;
        owner = GetWindow(box, GW_OWNER);
        text = velk::ui::windowText(GetDlgItem(box, 0xFFFF));
        op.check(velk::ui::pressKey(box, VK_RETURN), "Enter");
    });
    warn("サンプリングエラー", "データ出力に失敗しました");
    EXPECT_TRUE(op.join()) << op.report();
    EXPECT_EQ(owner, host.mainWindow());
    EXPECT_EQ(text, "データ出力に失敗しました");
    EXPECT_EQ(host.log().warnings().size(), 1u);
}
