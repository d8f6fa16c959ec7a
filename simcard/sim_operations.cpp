// The twelve card operations of the simulated driver, each under the driver's lock,
// each logged and counted.
#include "simcard/sim_state.h"

#include <type_traits>

using namespace simcard;

extern "C" {

int32_t WINAPI Tk17GetVersion(void)
{
    Lock lock;
    int32_t r = enter(OpGetVersion, kNoSocket) ? kVersion : 0;
    logCall(OpGetVersion, 0, r);
    return r;
}

// Tk17Create takes the socket a card was put in (its section number) in the cell and
// stores its failures there; a card with a socket_cell writes that value back into
// the cell and is served under its low 16 bits from then on.
int32_t WINAPI Tk17Create(uint32_t* socketCell, HWND notifyWindow, uint32_t message, int32_t reserved)
{
    Lock lock;
    const uint32_t socket = socketCell ? *socketCell : kNoSocket;
    int32_t r = 0;
    if (enter(OpCreate, socket)) {
        if (!socketCell || !validSocket(socket)) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else {
            Card& card = g.cards[socket];
            if (card.removed) card.lastError = TK17SIM_ERR_CARD_REMOVED;
            else if (!card.present) card.lastError = TK17SIM_ERR_NO_CARD;
            else if (card.open) card.lastError = TK17SIM_ERR_ALREADY_OPEN;
            else {
                card.open = true;
                card.window = notifyWindow;
                card.message = message;
                card.markOpened(now());
                card.modeSet = false;
                card.sampling = false;
                card.status = 0;
                if (card.config.hasSocketCell) {
                    *socketCell = card.config.socketCell;
                    g.probeCard = static_cast<int>(socket);
                }
                r = succeeded(OpCreate);
            }
        }
    }
    CallEntry& e = logCall(OpCreate, socketCell ? socket : 0, r);
    e.null = socketCell == nullptr;
    e.args[0] = message;
    e.args[1] = reserved;
    e.argCount = 2;
    return r;
}

int32_t WINAPI Tk17Close(uint16_t socket)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpClose, socket)) {
        Card* served = cardFor(socket);
        if (served && served->removed && served->open) {
            served->open = false;  // released, but the card is gone
            r = failWith(socket, TK17SIM_ERR_CARD_REMOVED);
        } else if (Card* card = openCard(socket)) {
            card->open = false;
            card->sampling = false;
            card->window = nullptr;
            if (g.probeCard >= 0 && card == &g.cards[g.probeCard]) g.probeCard = -1;
            r = succeeded(OpClose);
        }
    }
    logCall(OpClose, socket, r);
    return r;
}

int32_t WINAPI Tk17GetResource(uint16_t socket, void* resource408)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpGetResource, socket)) {
        Card* card = openCard(socket);
        if (card && !resource408) r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        else if (card) {
            uint8_t* record = static_cast<uint8_t*>(resource408);
            memset(record, 0, sizeof(Tk17Resource));
            memcpy(record + TK17_RESOURCE_IO_ADDRESS, &card->config.ioAddress, 4);
            memcpy(record + TK17_RESOURCE_IO_LENGTH, &card->config.ioLength, 4);
            r = succeeded(OpGetResource);
        }
    }
    logCall(OpGetResource, socket, r);
    return r;
}

int32_t WINAPI Tk17SetMode(uint16_t socket, void* modeRecord)
{
    Lock lock;
    int32_t r = 0;
    Tk17Mode m{};
    if (modeRecord) memcpy(&m, modeRecord, sizeof m);
    const bool entered = enter(OpSetMode, socket);
    // Every call that reaches a card is recorded, also one that fails.
    if (Card* reached = cardFor(socket)) {
        ++reached->modeCalls;
        reached->modeAddress = reinterpret_cast<uintptr_t>(modeRecord);
        memcpy(reached->modeBytes, &m, sizeof m);
    }
    if (entered) {
        Card* card = openCard(socket);
        if (!card) {
        } else if (!modeRecord) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (card->sampling) {
            r = failWith(socket, TK17SIM_ERR_BUSY);
        } else if ((m.range != 0 && m.range != 1) || m.firstChannel < 0 || m.lastChannel >= kChannels ||
                   m.firstChannel > m.lastChannel || m.interval < 1 || m.interval > 255 ||
                   m.reserved16 != 0 || m.reserved20 != 1 || m.driverBufferSize < 2 || m.decimation < 1) {
            r = failWith(socket, TK17SIM_ERR_BAD_MODE);
        } else {
            card->mode = m;
            card->modeSet = true;
            r = succeeded(OpSetMode);
        }
    }
    CallEntry& e = logCall(OpSetMode, socket, r);
    e.null = modeRecord == nullptr;
    const int32_t fields[8] = {m.range, m.firstChannel, m.lastChannel, m.interval,
                               m.reserved16, m.reserved20, m.driverBufferSize, m.decimation};
    for (int i = 0; i < 8; ++i) e.args[i] = fields[i];
    e.argCount = 8;
    return r;
}

int32_t WINAPI Tk17StartSampling(uint16_t socket)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpStartSampling, socket)) {
        Card* card = openCard(socket);
        if (!card) {
        } else if (card->sampling) {
            r = failWith(socket, TK17SIM_ERR_BUSY);
        } else if (!card->modeSet) {
            r = failWith(socket, TK17SIM_ERR_NO_MODE);
        } else {
            card->startSampling(now());
            r = succeeded(OpStartSampling);
        }
    }
    logCall(OpStartSampling, socket, r);
    return r;
}

int32_t WINAPI Tk17StopSampling(uint16_t socket)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpStopSampling, socket)) {
        if (Card* card = openCard(socket)) {
            card->stopSampling();
            r = succeeded(OpStopSampling);
        }
    }
    logCall(OpStopSampling, socket, r);
    return r;
}

int32_t WINAPI Tk17GetSamplingStatus(uint16_t socket, uint32_t* sampleCount, uint32_t* status)
{
    Lock lock;
    int32_t r = 0;
    uint32_t count = 0, word = 0;
    if (enter(OpGetSamplingStatus, socket)) {
        Card* card = openCard(socket);
        if (card && (!sampleCount || !status)) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (card) {
            // The virtual clock needs no time: reading the performance counter costs
            // more under Wine than the rest of the call. The stepped clock's card time
            // moves on by one poll's worth first.
            card->advance(card->pollMicros);
            const Clock clock = cardClock(*card);
            const uint64_t converted = card->converted(clock);
            if (card->update(clock, converted)) postOverflow(*card, socket);
            if (card->sampling && card->countsOnly() && card->pollStep > 0) {
                if (card->available == TK17SIM_UNLIMITED) card->available = 0;
                uint64_t grown = static_cast<uint64_t>(card->available) + card->pollStep;
                card->available = static_cast<uint32_t>(std::min<uint64_t>(grown, TK17SIM_UNLIMITED - 1));
            }
            count = static_cast<uint32_t>(std::min<uint64_t>(card->ready(converted), UINT32_MAX));
            word = card->statusWord();
            *sampleCount = count;
            *status = word;
            r = succeeded(OpGetSamplingStatus);
        }
    }
    CallEntry& e = logCall(OpGetSamplingStatus, socket, r);
    e.detail = true;
    e.args[0] = count;
    e.args[1] = word;
    return r;
}

int32_t WINAPI Tk17GetData(uint16_t socket, uint16_t* buffer, uint32_t count)
{
    Lock lock;
    int32_t r = 0;
    if (enter(OpGetData, socket)) {
        Card* card = openCard(socket);
        if (!card) {
        } else if (!buffer && count > 0) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (!card->sampling) {
            r = failWith(socket, TK17SIM_ERR_NOT_SAMPLING);
        } else {
            const Clock clock = cardClock(*card);
            const uint64_t converted = card->converted(clock);
            if (card->update(clock, converted)) postOverflow(*card, socket);
            if (card->ready(converted) < count) {
                r = failWith(socket, TK17SIM_ERR_NOT_ENOUGH_DATA);
            } else {
                card->read(buffer, count);
                r = succeeded(OpGetData);
            }
        }
    }
    CallEntry& e = logCall(OpGetData, socket, r);
    e.args[0] = count;
    e.argCount = 1;
    return r;
}

int32_t WINAPI Tk17OutPort(uint16_t socket, uint8_t value)
{
    PortCall port(socket);
    Lock lock;
    int32_t r = 0;
    if (enter(OpOutPort, socket)) {
        if (Card* card = openCard(socket)) {
            card->lastOutput = value;
            g.outputLog.add(SimPortWrite{card->writeStamp(now()), socket, value});
            r = succeeded(OpOutPort);
        }
    }
    CallEntry& e = logCall(OpOutPort, socket, r);
    e.args[0] = value;
    e.argCount = 1;
    return r;
}

int32_t WINAPI Tk17InPort(uint16_t socket, uint8_t* value)
{
    PortCall port(socket);
    Lock lock;
    int32_t r = 0;
    uint8_t byte = 0;
    if (enter(OpInPort, socket)) {
        Card* card = openCard(socket);
        if (card && !value) {
            r = failWith(socket, TK17SIM_ERR_BAD_ARGUMENT);
        } else if (card) {
            byte = card->input.next(card->lastOutput);
            *value = byte;
            r = succeeded(OpInPort);
        }
    }
    CallEntry& e = logCall(OpInPort, socket, r);
    e.detail = true;
    e.args[0] = byte;
    return r;
}

int32_t WINAPI Tk17GetLastError(uint16_t socket)
{
    Lock lock;
    int32_t injected = 0;
    int32_t r;
    if (!enter(OpGetLastError, socket, &injected)) r = injected;
    else if (!validSocket(socket)) r = TK17SIM_ERR_BAD_ARGUMENT;
    else if (const Card* card = cardFor(socket)) r = card->lastError;
    else r = g.strayError[socket];
    logCall(OpGetLastError, socket, r);
    return r;
}

}  // extern "C"

// Each operation has exactly the type its callers call it through. On i686 the calling
// convention is part of that type, and a mismatch would unbalance the caller's stack.
#define SIM_SAME_TYPE_OPERATION(name) static_assert(std::is_same<decltype(&name), name##Fn>::value, #name);
SIM_SAME_TYPE_OPERATION(Tk17GetVersion)
SIM_SAME_TYPE_OPERATION(Tk17Create)
SIM_SAME_TYPE_OPERATION(Tk17Close)
SIM_SAME_TYPE_OPERATION(Tk17GetResource)
SIM_SAME_TYPE_OPERATION(Tk17SetMode)
SIM_SAME_TYPE_OPERATION(Tk17StartSampling)
SIM_SAME_TYPE_OPERATION(Tk17StopSampling)
SIM_SAME_TYPE_OPERATION(Tk17GetSamplingStatus)
SIM_SAME_TYPE_OPERATION(Tk17GetData)
SIM_SAME_TYPE_OPERATION(Tk17OutPort)
SIM_SAME_TYPE_OPERATION(Tk17InPort)
SIM_SAME_TYPE_OPERATION(Tk17GetLastError)
#undef SIM_SAME_TYPE_OPERATION
