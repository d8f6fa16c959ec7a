// The digital output module class: incoming samples become bits of an output
// byte per sample position, and every byte is written to the card's port.
#include "extension/card/devices.h"
#include "extension/card/driver.h"
#include "extension/digital_in/Vyttk17DIN.h"
#include "extension/digital_out/Tk17CtlDlgDOUT.h"
#include "extension/frame/classes.h"
#include "extension/frame/run_buffers.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kTag[] = "Vyttk17DOUT";
constexpr int32_t kLineAllocate = 154;
constexpr int32_t kLineFree = 177;
constexpr int32_t kLineFreeBeforeStart = 152;
constexpr int32_t kLineRelease = 336;

int32_t Create(ModuleRecord* m) {
    int32_t slot = SelectDevice(m->ownerWindow, CLASS_DIGITAL_OUT);
    if (slot == -1) return 0;
    if (m->inputCount == 0 && m->outputCount == 0) {
        m->inputCount = 1;
        m->outputCount = 0;
    }
    DigitalSettings* d = DigitalArea(m);
    ClaimDeviceSlot(slot, CLASS_DIGITAL_OUT, &d->socket);
    for (uint32_t i = 0; i < kDigitalMaxChannels; ++i) WriteDefaultChannelName(d->channelNames[i], i);
    return 1;
}

int32_t Start(ModuleRecord* m) {
    DigitalSettings* d = DigitalArea(m);
    // A buffer of this load's from a start without a stop is given back first; a
    // reference it did not allocate (a saved worksheet's) is only dropped.
    FreeRunBuffer(d, d->outputBuffer, kTag, kLineFreeBeforeStart);
    d->outputBuffer = nullptr;
    d->outputBuffer = static_cast<uint8_t*>(AllocateRunBuffer(d, uiGlobalBlockSize, kTag, kLineAllocate));
    if (d->outputBuffer == nullptr) {
        ShowWarning("VYT-TK17 D-Out:エラー", "出力バッファ確保を失敗しました");
        return 0;
    }
    memset(d->outputBuffer, 0, uiGlobalBlockSize);
    return 1;
}

int32_t Stop(ModuleRecord* m) {
    DigitalSettings* d = DigitalArea(m);
    if (d->outputBuffer != nullptr) {
        FreeRunBuffer(d, d->outputBuffer, kTag, kLineFree);
        d->outputBuffer = nullptr;
    }
    return 1;
}

}  // namespace

int32_t __cdecl DigitalOutputProcessing(ModuleRecord* m) {
    if (bExperimentIsPaused == 1) return 1;
    DigitalSettings* d = DigitalArea(m);
    // Without the buffer of a successful start there is nothing to write into.
    if (d->outputBuffer == nullptr || !IsRunBuffer(d, d->outputBuffer)) return 1;
    // Writes failing one after another in this call are one failure episode: the
    // experiment is stopped and the failure reported once, not once per sample.
    bool failing = false;
    for (uint32_t c = 0; c < m->inputCount; ++c) {
        DataBlock* block = GetInputBlock(m, c);
        if (block == nullptr) continue;
        for (uint32_t j = 0; j < block->sampleCount && j < uiGlobalBlockSize; ++j) {
            uint8_t& byte = d->outputBuffer[j];
            if (c <= 3) {
                if (block->samples[j] >= 5.0f)
                    byte = static_cast<uint8_t>(byte | (1u << c));
                else
                    byte = static_cast<uint8_t>(byte & ~(1u << c));
            }
            if (AccessDigitalPort(d->socket, 0, &byte) != 0) {
                failing = false;
            } else if (!failing) {
                failing = true;
                StopExperiment();
                char text[128];
                snprintf(text, sizeof(text), "データ出力に失敗しました\nエラーコード %d\nソケット番号 %d\n",
                         Tk17GetLastError(d->socket), static_cast<int>(d->socket));
                ShowWarning("サンプリングエラー", text);
            }
        }
        NewReleaseInputBlock(m, c, kTag, kLineRelease);
    }
    return 1;
}

int32_t __cdecl DigitalOutputClassCallback(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    switch (code) {
        case VELK_CODE_ACK1:
        case VELK_CODE_ACK104:
            return 1;
        case VELK_CODE_CREATE: return Create(m);
        case VELK_CODE_REMOVE:
            ReleaseDeviceSlot(DigitalArea(m)->socket, CLASS_DIGITAL_OUT);
            return 1;
        case VELK_CODE_SETUP:
            RunDigitalOutputSetupDialog(m->ownerWindow);
            return 1;
        case VELK_CODE_DEVICE_CHECK: return CheckDeviceSlot(DigitalArea(m)->socket, CLASS_DIGITAL_OUT);
        case VELK_CODE_START: return Start(m);
        case VELK_CODE_STOP: return Stop(m);
        default: return PerformDefaultAction(m, code, value1, value2);
    }
}
