// velk_screenshots: shows the extension's dialogs as a user meets them - device
// selection when an analog input module is created, the analog input setup dialog
// and its About box, the digital input and digital output setup dialogs - in the
// Velk stand-in with the real extension on the simulated card, and saves each dialog
// window as a PNG file.
//
// Then it runs a worksheet (the demo) as `velk run --windowed` does and saves the
// main window with the live view two seconds into the run.
//
//   velk_screenshots.exe [output folder] [worksheet]
//
// Writes devsel.png, analog_setup.png, about.png, digital_in_setup.png,
// digital_out_setup.png and live_view.png. Needs a graphics driver that
// draws (the x11 driver under an X server; tools/screenshots.sh arranges that).
#include "velk/common/paths.h"
#include "velk/recording/png.h"
#include "velk/host/host.h"
#include "velk/experiment/live_view.h"
#include "velk/experiment/runner.h"
#include "velk/dialogs/dialog_operator.h"

#include <stdio.h>

#include <string>
#include <vector>

namespace {

const char kAnalogClass[] = "KA:MMTK17";
const char kDigitalInClass[] = "KA:MMTK17DI";
const char kDigitalOutClass[] = "KA:MMTK17DO";
const char kDeviceTitle[] = "ハードウェア選択";
const char kSetupTitle[] = "VYT-TK17 アナログ入力";
const char kDigitalInTitle[] = "VYT-TK17 デジタル入力";
const char kDigitalOutTitle[] = "VYT-TK17 デジタル出力";
const char kAboutTitle[] = "このﾓｼﾞｭｰﾙについて";

const char kCards[] =
    "[card 0]\nio_address = 0x300\nclock = virtual\n"
    "[card 2]\nio_address = 0x340\nclock = virtual\n";

BOOL CALLBACK NeedsPaint(HWND child, LPARAM any) {
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) *reinterpret_cast<bool*>(any) = true;
    return TRUE;
}

// Waits (a few seconds at most) until the window is shown and neither it nor any of
// its children waits for painting: the dialog's thread paints when its queue is
// empty, after everything posted to it.
void WaitPainted(HWND window) {
    for (int round = 0; round < 300; ++round) {
        velk::ui::settle(window);
        bool pending = !IsWindowVisible(window) || GetUpdateRect(window, nullptr, FALSE);
        EnumChildWindows(window, NeedsPaint, reinterpret_cast<LPARAM>(&pending));
        if (!pending && round > 2) return;
        Sleep(10);
    }
}

// Copies the window, frame included, from its window DC once it is fully painted.
bool CaptureWindow(HWND window, const std::string& path) {
    WaitPainted(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    WaitPainted(window);
    RECT frame;
    if (!GetWindowRect(window, &frame)) return false;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib && bits) {
        HGDIOBJ previous = SelectObject(memory, dib);
        ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, previous);
        if (ok) {
            std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
            const uint8_t* bgra = static_cast<const uint8_t*>(bits);
            for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
                rgb[3 * i] = bgra[4 * i + 2];
                rgb[3 * i + 1] = bgra[4 * i + 1];
                rgb[3 * i + 2] = bgra[4 * i];
            }
            ok = velk::WritePng(path, width, height, rgb);
        }
    }
    if (dib) DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(window, source);
    printf("%s %s (%d x %d)\n", ok ? "wrote" : "FAILED", path.c_str(), width, height);
    return ok;
}

void Report(velk::ui::Operator& op, bool& allOk) {
    if (!op.join()) {
        printf("%s\n", op.report().c_str());
        allOk = false;
    }
}

// Creates a module on the first listed card.
ModuleRecord* CreateOnFirstCard(velk::Host& host, const char* classId, const velk::NewModule& how, bool& allOk) {
    velk::ui::Operator op([&](velk::ui::Operator& o) {
        HWND dlg = o.waitFor(kDeviceTitle);
        if (dlg) o.check(velk::ui::clickButton(dlg, IDOK), "OK");
    });
    ModuleRecord* m = host.createModule(classId, how);
    Report(op, allOk);
    return m;
}

// Opens a digital module's setup dialog, names channel `channel` and saves the picture.
void ShootDigital(velk::Host& host, ModuleRecord* m, const char* title, int channel, const char* name,
                  const std::string& path, bool& allOk) {
    velk::ui::Operator op([&](velk::ui::Operator& o) {
        HWND dlg = o.waitFor(title);
        if (!dlg) return;
        o.check(velk::ui::clickButton(dlg, 23002 + channel) && velk::ui::settle(dlg), "channel");
        o.check(velk::ui::typeText(GetDlgItem(dlg, 23021), name) && velk::ui::settle(dlg), "name");
        o.check(CaptureWindow(dlg, path), path);
        o.check(velk::ui::clickButton(dlg, IDCANCEL), "Cancel");
    });
    host.setupModule(m);
    Report(op, allOk);
}

// Runs the worksheet with the live view in a shown main window and saves the window
// once the data have reached `atSeconds`.
bool ShootLiveView(const std::string& worksheet, double atSeconds, const std::string& path) {
    velk::WorksheetResult w = velk::loadWorksheet(worksheet);
    if (!w.ok()) {
        printf("%s\n", w.error.c_str());
        return false;
    }
    velk::HostOptions options;
    options.warnings = velk::WarningOutput::None;
    options.showMainWindow = true;
    options.windowX = 0;
    options.windowY = 0;
    velk::Experiment e(w.sheet, options);
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    e.setOutputDir(velk::utf8Path(std::wstring(temp, n <= MAX_PATH ? n : 0)));  // UTF-8, as paths are
    if (!e.prepare()) {
        printf("%s\n", e.error().c_str());
        return false;
    }
    bool shot = false;
    {
        velk::LiveView view(e.host());
        e.setLiveView(&view);
        if (e.start()) {
            while (e.round()) {
                view.tick(e.progressText());
                const velk::ModuleRun* first = e.modules().empty() ? nullptr : &e.modules().front();
                const double reached = first && !first->channels.empty() ? first->channels.front().lastTime : 0.0;
                if (!shot && reached >= atSeconds) {
                    view.tick(e.progressText(), true);
                    view.flush();
                    shot = CaptureWindow(e.host().mainWindow(), path);
                }
                Sleep(1);
            }
        }
        e.setLiveView(nullptr);
    }
    e.finish();
    return shot;
}

}  // namespace

// The folder comes as UTF-16 and is kept as UTF-8, as the stand-in's paths are.
int wmain(int argc, wchar_t** argv) {
    const std::string folder = argc > 1 ? velk::utf8Path(argv[1]) : ".";
    SetEnvironmentVariableA("VYTTK17_CONFIG_TEXT", kCards);
    velk::HostOptions options;
    options.warnings = velk::WarningOutput::None;
    velk::Host host(options);
    if (!host.load() || host.setup() != 1) {
        printf("the extension did not start: %s\n", host.loadError().c_str());
        return 1;
    }
    bool allOk = true;

    // Device selection, with the second card chosen so its details show.
    ModuleRecord* module = nullptr;
    {
        velk::ui::Operator op([&](velk::ui::Operator& o) {
            HWND dlg = o.waitFor(kDeviceTitle);
            if (!dlg) return;
            o.check(velk::ui::selectListLine(GetDlgItem(dlg, 103), 1) && velk::ui::settle(dlg), "choose a card");
            o.check(CaptureWindow(dlg, folder + "/devsel.png"), "devsel.png");
            o.check(velk::ui::selectListLine(GetDlgItem(dlg, 103), 0) && velk::ui::clickButton(dlg, IDOK), "OK");
        });
        velk::NewModule how;
        how.outputCount = 3;
        how.name = "アナログ1";
        how.comment = "振動測定 加速度センサー";
        module = host.createModule(kAnalogClass, how);
        Report(op, allOk);
    }
    if (!module) {
        printf("no module was created\n");
        return 1;
    }

    // The setup dialog with channel 1 selected and named, then its About box.
    {
        velk::ui::Operator op([&](velk::ui::Operator& o) {
            HWND dlg = o.waitFor(kSetupTitle);
            if (!dlg) return;
            o.check(velk::ui::clickButton(dlg, 23002 + 1) && velk::ui::settle(dlg), "channel 1");
            o.check(velk::ui::typeText(GetDlgItem(dlg, 23021), "加速度 Y軸") && velk::ui::settle(dlg), "name");
            o.check(CaptureWindow(dlg, folder + "/analog_setup.png"), "analog_setup.png");
            o.check(velk::ui::clickButton(dlg, 1006), "version button");
            HWND about = o.waitFor(kAboutTitle);
            if (about) {
                o.check(CaptureWindow(about, folder + "/about.png"), "about.png");
                o.check(velk::ui::clickButton(about, IDOK) && velk::ui::settle(dlg), "About OK");
            }
            o.check(velk::ui::clickButton(dlg, IDCANCEL), "Cancel");
        });
        host.setupModule(module);
        Report(op, allOk);
    }
    // The digital dialogs: three input lines and two output lines.
    velk::NewModule in;
    in.outputCount = 3;
    in.name = "スイッチ";
    in.comment = "扉と非常停止";
    if (ModuleRecord* m = CreateOnFirstCard(host, kDigitalInClass, in, allOk))
        ShootDigital(host, m, kDigitalInTitle, 2, "非常停止", folder + "/digital_in_setup.png", allOk);
    else
        allOk = false;
    velk::NewModule out;
    out.inputCount = 2;
    out.name = "ランプ";
    out.comment = "表示灯";
    if (ModuleRecord* m = CreateOnFirstCard(host, kDigitalOutClass, out, allOk))
        ShootDigital(host, m, kDigitalOutTitle, 1, "ランプ 赤", folder + "/digital_out_setup.png", allOk);
    else
        allOk = false;
    host.finish();
    if (argc > 2 && !ShootLiveView(velk::utf8Path(argv[2]), 2.0, folder + "/live_view.png")) allOk = false;
    return allOk ? 0 : 1;
}
