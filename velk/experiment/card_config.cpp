#include "velk/experiment/card_config.h"

#include "simcard/vyttk17_sim.h"
#include "velk/common/paths.h"
#include "velk/common/text.h"

#include <string.h>

namespace velk {

namespace {

bool writeWhole(const std::string& path, const std::string& text, DWORD& code) {
    HANDLE f = CreateFileW(widePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    code = ok ? 0 : GetLastError();
    CloseHandle(f);
    return ok;
}

// A text the driver hands out, whole however long: asked for its length first.
template <typename Ask>
std::string driverText(Ask ask) {
    const int32_t n = ask(nullptr, 0u);
    if (n <= 0) return std::string();
    std::string text(static_cast<size_t>(n) + 1, '\0');
    ask(&text[0], static_cast<uint32_t>(text.size()));
    text.resize(strlen(text.c_str()));
    return text;
}

// The variables are read and set as UTF-16: the path of the configuration holds
// whatever characters its folders have, and a value is put back as it was.
std::string environment(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return std::string();
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, &value[0], n));
    return utf8Path(value);
}

bool setEnvironment(const wchar_t* name, const std::string* value) {
    return SetEnvironmentVariableW(name, value ? widePath(*value).c_str() : nullptr) != 0;
}

}  // namespace

CardConfiguration::~CardConfiguration() {
    if (wroteFile_) DeleteFileW(widePath(file_).c_str());
    if (!changedEnvironment_) return;
    setEnvironment(L"VYTTK17_CONFIG_TEXT", text_.set ? &text_.value : nullptr);
    setEnvironment(L"VYTTK17_CONFIG", path_.set ? &path_.value : nullptr);
}

bool CardConfiguration::arrange(std::string& error) {
    if (!sheet_.cardText.empty()) {
        wchar_t folder[MAX_PATH + 1];
        static unsigned serial = 0;
        const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
        file_ = utf8Path(std::wstring(folder, n <= MAX_PATH ? n : 0)) + "velk-card-" +
                std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".ini";
        DWORD code = 0;
        if (!writeWhole(file_, sheet_.cardText, code)) {
            error = "cannot write the card configuration to " + file_ + ": " + systemErrorText(code);
            file_.clear();
            return false;
        }
        wroteFile_ = true;
    } else if (!sheet_.driverConfig.empty()) {
        file_ = sheet_.resolve(sheet_.driverConfig);
        if (GetFileAttributesW(widePath(file_).c_str()) == INVALID_FILE_ATTRIBUTES) {
            // Named as the worksheet writes it (UTF-8), with the folder it is taken from.
            error = sheet_.at(sheet_.lineOf("driver_config")) + ": driver_config: '" + clipText(sheet_.driverConfig) +
                    "' does not exist" +
                    (isAbsolutePath(sheet_.driverConfig) ? "" : " in " + sheet_.baseDir);
            return false;
        }
    } else {
        return true;  // the driver finds its own: environment, vyttk17.ini beside it, default
    }
    for (Saved* saved : {&text_, &path_}) {
        const wchar_t* name = saved == &text_ ? L"VYTTK17_CONFIG_TEXT" : L"VYTTK17_CONFIG";
        saved->set = GetEnvironmentVariableW(name, nullptr, 0) > 0;
        saved->value = environment(name);
    }
    changedEnvironment_ = true;
    // The text variable would win over the file: it goes.
    if (!setEnvironment(L"VYTTK17_CONFIG_TEXT", nullptr) && !environment(L"VYTTK17_CONFIG_TEXT").empty()) {
        error = "cannot clear VYTTK17_CONFIG_TEXT for the card driver";
        return false;
    }
    if (!setEnvironment(L"VYTTK17_CONFIG", &file_) || environment(L"VYTTK17_CONFIG") != file_) {
        error = "cannot hand the card configuration " + file_ + " to the driver";
        return false;
    }
    return true;
}

bool CardConfiguration::check(HMODULE driver, std::string& error) const {
    const SimApi sim = SimApi::from(driver);
    if (!sim.ConfigError || !sim.ConfigSource) return true;
    const std::string used = driverText([&](char* text, uint32_t size) { return sim.ConfigSource(text, size); });
    if (!file_.empty() && used.compare(0, 5 + file_.size(), "file " + file_) != 0) {
        error = "the card driver did not take the configuration " + file_ + ": it used " + used;
        return false;
    }
    uint32_t line = 0;
    const std::string reason =
        driverText([&](char* text, uint32_t size) { return sim.ConfigError(&line, text, size); });
    if (reason.empty()) return true;
    std::string where;
    if (wroteFile_) {
        // The driver's line in the file made of the worksheet's card sections.
        const size_t index = line > 0 ? line - 1 : 0;
        const int sheetLine = index < sheet_.cardLines.size() ? sheet_.cardLines[index]
                              : sheet_.cardLines.empty()     ? 0
                                                             : sheet_.cardLines.front();
        where = sheet_.at(sheetLine);
    } else if (!file_.empty()) {
        // The driver_config file by the name the worksheet gives it, with the
        // driver's line; a file it could not read at all is the worksheet's
        // driver_config line's mistake.
        where = line > 0 ? clipText(sheet_.driverConfig) + ":" + std::to_string(line)
                         : sheet_.at(sheet_.lineOf("driver_config")) + ": driver_config " +
                               clipText(sheet_.driverConfig);
    } else {
        where = used.compare(0, 5, "file ") == 0 ? used.substr(5) : used;
        const size_t mark = where.rfind(" (");
        if (mark != std::string::npos) where.erase(mark);
        if (line > 0) where += ":" + std::to_string(line);
    }
    error = where + ": " + reason + " (the simulated card's configuration; nothing was built)";
    return false;
}

std::string CardConfiguration::describe() const {
    if (wroteFile_) {
        return sheet_.name + ", lines " + std::to_string(sheet_.cardLines.front()) + " to " +
               std::to_string(sheet_.cardLines.back());
    }
    if (!file_.empty()) return file_;
    return "the driver's own (VYTTK17_CONFIG_TEXT, VYTTK17_CONFIG, vyttk17.ini beside it or its default)";
}

}  // namespace velk
