#include "extension/digital_in/Vyttk17DIN.h"

#include "extension/card/devices.h"
#include "extension/card/driver.h"
#include "extension/digital_in/Tk17CtlDlgDIN.h"
#include "extension/frame/classes.h"

#include <math.h>
#include <stdio.h>

namespace {

const char kTag[] = "Vyttk17DIN";
constexpr int32_t kLineRelease = 351;

int32_t Create(ModuleRecord* m) {
    int32_t slot = SelectDevice(m->ownerWindow, CLASS_DIGITAL_IN);
    if (slot == -1) return 0;
    if (m->inputCount == 0 && m->outputCount == 0) {
        m->outputCount = 1;
        m->inputCount = 0;
    }
    DigitalSettings* d = DigitalArea(m);
    ClaimDeviceSlot(slot, CLASS_DIGITAL_IN, &d->socket);
    for (uint32_t i = 0; i < kDigitalMaxChannels; ++i) {
        WriteDefaultChannelName(d->channelNames[i], i);
        m->channelData[i]->animationPhase = 0;
    }
    return 1;
}

// The input port byte of one processing call, and whether its reads are failing.
struct PortReads {
    uint8_t port;
    bool failing;
};

// One port read per sample; the block is completed whatever the reads give. A failed
// read stops the experiment and is reported once per failure episode (reads failing
// one after another in a processing call): one warning, not one per sample.
void FillFromPort(ModuleRecord* m, uint32_t channel, float* samples, uint32_t count, void* context) {
    PortReads* reads = static_cast<PortReads*>(context);
    const uint16_t socket = DigitalArea(m)->socket;
    for (uint32_t j = 0; j < count; ++j) {
        if (AccessDigitalPort(socket, 1, &reads->port) != 0) {
            reads->failing = false;
        } else if (!reads->failing) {
            reads->failing = true;
            StopExperiment();
            char text[96];
            snprintf(text, sizeof(text), "LogSlot = %d\nChannel = %d\nErrCode = %d", static_cast<int>(socket),
                     static_cast<int>(channel), Tk17GetLastError(socket));
            ShowWarning("サンプリングエラー", text);
        }
        samples[j] = (channel <= 3 && (reads->port >> channel) & 1) ? 5.0f : 0.0f;
    }
}

// A filled block goes to Velk once real time has reached its nominal end.
int32_t ReleaseTimeReached(ModuleRecord* m, uint32_t channel, void*) {
    const uint32_t now = GetTickCount();
    const uint32_t releaseAt =
        dwExperimentStartTimeTicks + NominalElapsedMs(m->channelData[channel]->samplesDone, fGlobalMilliSecondsPerSample);
    return TickReached(now, releaseAt);
}

// The pacing needs a finite, non-negative period whose product with any sample
// count stays finite.
int32_t Start(ModuleRecord* m) {
    const double period = fGlobalMilliSecondsPerSample;
    if (!isfinite(period) || period < 0 || !isfinite(period * 4294967296.0)) {
        ShowWarning(kRefusalCaption, kBadSamplePeriodText);
        return 0;
    }
    ResetChannelStates(m, m->outputCount);
    return 1;
}

}  // namespace

uint32_t NominalElapsedMs(uint32_t samplesDone, double periodMs) {
    const double elapsed = trunc(static_cast<double>(samplesDone) * periodMs);
    if (!(elapsed >= 0) || !isfinite(elapsed)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(fmod(elapsed, 4294967296.0)));
}

int32_t TickReached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

int32_t __cdecl DigitalInputProcessing(ModuleRecord* m) {
    if (m->outputGate == 0 || bExperimentIsPaused == 1) return 1;
    PortReads reads = {0, false};
    for (uint32_t i = 0; i < m->outputCount && i < 16; ++i)
        ProduceChannelBlock(m, i, FillFromPort, ReleaseTimeReached, &reads, kTag, kLineRelease);
    return 1;
}

int32_t __cdecl DigitalInputClassCallback(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    switch (code) {
        case VELK_CODE_ACK1:
        case VELK_CODE_ACK104:
        case VELK_CODE_ACK201:
        case VELK_CODE_STOP:
            return 1;
        case VELK_CODE_CREATE: return Create(m);
        case VELK_CODE_REMOVE:
            ReleaseDeviceSlot(DigitalArea(m)->socket, CLASS_DIGITAL_IN);
            return 1;
        case VELK_CODE_SETUP:
            RunDigitalInputSetupDialog(m->ownerWindow);
            return 1;
        case VELK_CODE_DEVICE_CHECK: return CheckDeviceSlot(DigitalArea(m)->socket, CLASS_DIGITAL_IN);
        case VELK_CODE_START: return Start(m);
        default: return PerformDefaultAction(m, code, value1, value2);
    }
}
