// The parts of the configuration that concern the driver as a whole rather than one
// card's signals: the [driver] section (each operation's success value) and the
// socket a card is served under (a card's socket_cell).
#include "simcard/sim_config.h"

#include "velk/common/strings.h"

namespace simcard {

bool hasSuccessValue(int op)
{
    return op >= 0 && op < kOperations && op != OpGetVersion && op != OpGetLastError;
}

// "success Tk17SetMode = 2": the operation returns 2 instead of 1 when it succeeds.
// The key word is not case-sensitive, the operation name is spelt as exported.
bool parseDriverKey(const std::string& key, const std::string& value, DriverConfig& driver, std::string& error)
{
    size_t space = key.find_first_of(" \t");
    const std::string word = velk::lowerAscii(key.substr(0, space));
    if (word != "success" || space == std::string::npos) {
        error = "unknown key '" + clip(key) + "' (success <operation>)";
        return false;
    }
    size_t begin = key.find_first_not_of(" \t", space);
    const std::string name = key.substr(begin);
    const int op = operationIndex(name);
    if (op < 0) {
        error = "unknown operation '" + clip(name) + "'";
        return false;
    }
    if (!hasSuccessValue(op)) {
        error = name + " has no success value (it answers a version or an error code)";
        return false;
    }
    int64_t v;
    if (!parseInteger(value, v) || v < INT32_MIN || v > static_cast<int64_t>(UINT32_MAX)) {
        error = "'" + clip(value) + "' is not a 32-bit number";
        return false;
    }
    if (v == 0) {
        error = "a success value of 0 would read as a failure";
        return false;
    }
    // 0x80000000 to 0xFFFFFFFF are written as the bits of a negative result.
    driver.success[op] = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

bool parseSocketCell(const std::string& value, uint32_t& cell, std::string& error)
{
    int64_t v;
    if (!parseInteger(value, v) || v < 0 || v > static_cast<int64_t>(UINT32_MAX)) {
        error = "socket_cell: '" + clip(value) + "' is not a 32-bit unsigned number";
        return false;
    }
    if ((v & 0xFFFF) >= kSockets) {
        error = "socket_cell: the low 16 bits name the socket, 0..3";
        return false;
    }
    cell = static_cast<uint32_t>(v);
    return true;
}

bool checkServedSockets(const Config& config, std::string& error, int& line)
{
    for (int a = 0; a < kSockets; ++a) {
        if (!config.cards[a].present) continue;
        for (int b = a + 1; b < kSockets; ++b) {
            if (!config.cards[b].present) continue;
            if (servedSocket(config.cards[a], a) != servedSocket(config.cards[b], b)) continue;
            error = "cards " + std::to_string(a) + " and " + std::to_string(b) + " would both be socket " +
                    std::to_string(servedSocket(config.cards[a], a)) + " (socket_cell)";
            line = config.cards[b].hasSocketCell ? config.cards[b].socketCellLine : config.cards[a].socketCellLine;
            return false;
        }
    }
    return true;
}

}  // namespace simcard
