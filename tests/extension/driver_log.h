// Reading what the extension asked of the simulated driver: the call log as lines,
// the lines of some operations, and setting a socket's last error without the
// extension's help. For the tests that check which socket each call named.
#pragma once

#include <string>
#include <vector>

#include "abi/tk17_abi.h"
#include "simcard/vyttk17_sim.h"

namespace exttest {

// The driver's call log, one entry per line.
inline std::vector<std::string> CallLines(const SimApi& sim) {
    const int32_t n = sim.GetCallLog(nullptr, 0);
    std::string text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
    sim.GetCallLog(&text[0], static_cast<uint32_t>(text.size()));
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    return lines;
}

// The lines of the call log that start with one of `operations` followed by a blank.
inline std::vector<std::string> CallLines(const SimApi& sim, const std::vector<std::string>& operations) {
    std::vector<std::string> picked;
    for (const std::string& line : CallLines(sim))
        for (const std::string& op : operations)
            if (line.compare(0, op.size() + 1, op + " ") == 0) picked.push_back(line);
    return picked;
}

// The distinct socket numbers of the log's calls of `operation` ("Tk17OutPort 2 0x01
// -> 1" names socket 2), in order of first appearance.
inline std::vector<int> SocketsCalled(const SimApi& sim, const std::string& operation) {
    std::vector<int> sockets;
    for (const std::string& line : CallLines(sim, {operation})) {
        const int socket = std::stoi(line.substr(operation.size() + 1));
        bool seen = false;
        for (int s : sockets) seen = seen || s == socket;
        if (!seen) sockets.push_back(socket);
    }
    return sockets;
}

// Makes Tk17GetLastError(socket) answer `code`: one call of the driver's own
// Tk17GetResource on that socket fails with it (an armed fault, disarmed again).
inline bool SetLastErrorOf(const SimApi& sim, uint16_t socket, int32_t code) {
    HMODULE driver = GetModuleHandleA("vyttk17.dll");
    auto getResource =
        reinterpret_cast<Tk17GetResourceFn>(reinterpret_cast<void*>(GetProcAddress(driver, "Tk17GetResource")));
    auto getLastError =
        reinterpret_cast<Tk17GetLastErrorFn>(reinterpret_cast<void*>(GetProcAddress(driver, "Tk17GetLastError")));
    if (!getResource || !getLastError || !sim.InjectFault("Tk17GetResource", socket, 1, code)) return false;
    Tk17Resource resource;
    const int32_t r = getResource(socket, &resource);
    sim.InjectFault("Tk17GetResource", socket, 0, 0);
    return r == 0 && getLastError(socket) == code;
}

}  // namespace exttest
