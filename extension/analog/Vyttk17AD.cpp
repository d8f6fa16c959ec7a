#include "extension/analog/Vyttk17AD.h"

#include "extension/analog/Tk17CtlDlg.h"
#include "extension/analog/conversion.h"
#include "extension/card/devices.h"
#include "extension/card/driver.h"
#include "extension/frame/classes.h"
#include "extension/frame/run_buffers.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kTag[] = "Vyttk17AD";
constexpr int32_t kLineAllocate = 200;
constexpr int32_t kLineFreeAtStop = 235;
constexpr int32_t kLineFreeBeforeStart = 198;
constexpr int32_t kLineRelease = 422;

const char kDriverCaption[] = "VYT-TK17";

void ReportDriverFailure(uint16_t socket, const char* format) {
    StopExperiment();
    char text[160];
    snprintf(text, sizeof(text), format, Tk17GetLastError(socket));
    ShowWarning(kDriverCaption, text);
}

int32_t Create(ModuleRecord* m) {
    int32_t slot = SelectDevice(m->ownerWindow, CLASS_ANALOG_IN);
    if (slot == -1) return 0;
    if (m->inputCount == 0 && m->outputCount == 0) {
        m->inputCount = 0;
        m->outputCount = 1;
    }
    AnalogSettings* a = AnalogArea(m);
    ClaimDeviceSlot(slot, CLASS_ANALOG_IN, &a->socket);
    a->samplesPerRead = 0;
    a->mode.range = 0;
    a->mode.firstChannel = 0;
    a->mode.lastChannel = 0;
    a->mode.interval = 0;
    a->mode.reserved16 = 0;
    a->mode.reserved20 = 1;
    a->mode.driverBufferSize = 0;
    a->sampleBuffer = nullptr;
    a->bufferSizeIndex = kDefaultBufferSizeIndex;
    for (uint32_t i = 0; i < kAnalogMaxChannels; ++i) {
        WriteDefaultChannelName(a->channelNames[i], i);
        m->channelData[i]->animationPhase = 0;
    }
    return 1;
}

int32_t Remove(ModuleRecord* m) {
    ReleaseDeviceSlot(AnalogArea(m)->socket, CLASS_ANALOG_IN);
    return 1;
}

int32_t Stop(ModuleRecord* m) {
    AnalogSettings* a = AnalogArea(m);
    Tk17StopSampling(a->socket);
    if (a->sampleBuffer != nullptr) {
        FreeRunBuffer(a, a->sampleBuffer, kTag, kLineFreeAtStop);
        a->sampleBuffer = nullptr;
    }
    return 1;
}

int32_t Start(ModuleRecord* m) {
    AnalogSettings* a = AnalogArea(m);
    // The card has eight channels; a count beyond them (settings of another
    // version, a damaged worksheet) would program channels that do not exist.
    if (m->outputCount == 0 || m->outputCount > kAnalogMaxChannels) {
        char text[64];
        snprintf(text, sizeof(text), "チャンネル数 %u は使えません (1～8)", m->outputCount);
        ShowWarning(kRefusalCaption, text);
        return 0;
    }
    ResetChannelStates(m, m->outputCount);
    // The card knows ranges 0 (±10 V) and 1 (±5 V); any other value is read as
    // ±5 V everywhere else, so the card is given that.
    if (a->mode.range != 0) a->mode.range = 1;
    const char* refusal = nullptr;
    if (DeriveSamplingMode(a, fGlobalMilliSecondsPerSample, m->outputCount, uiGlobalBlockSize, &refusal) == 0) {
        ShowWarning(kRefusalCaption, refusal);
        return 0;
    }
    // A start that follows a start without a stop reuses nothing: the earlier
    // buffer is given back first so it cannot leak (a reference this load did not
    // allocate is only dropped).
    if (a->sampleBuffer != nullptr) {
        FreeRunBuffer(a, a->sampleBuffer, kTag, kLineFreeBeforeStart);
        a->sampleBuffer = nullptr;
    }
    a->sampleBuffer = static_cast<uint16_t*>(AllocateRunBuffer(a, a->samplesPerRead * 2, kTag, kLineAllocate));
    if (a->sampleBuffer == nullptr) {
        ShowWarning(kDriverCaption, "バッファを確保できませんでした");
        return 0;
    }
    if (Tk17SetMode(a->socket, &a->mode) != 0 && Tk17StartSampling(a->socket) != 0) {
        MarkCardStarted(a, a->sampleBuffer);
        return 1;
    }
    ReportDriverFailure(a->socket, "サンプリング開始に失敗しました\nエラーコード： %d");
    return 1;
}

struct ReadContext {
    const uint16_t* buffer;
    uint32_t stride;  // channels x decimation
    int32_t range;
};

void FillFromBuffer(ModuleRecord*, uint32_t channel, float* samples, uint32_t count, void* context) {
    const ReadContext* read = static_cast<const ReadContext*>(context);
    ConvertCodes(read->buffer + channel, read->stride, count, read->range, samples);
}

}  // namespace

void FormatNumber(char* text, size_t size, double value, int digits) {
    char format[16] = "%.";
    char count[12];
    _itoa(digits, count, 10);
    strcat(format, count);
    strcat(format, fabs(value) <= 100000.0 ? "f" : "e");
    snprintf(text, size, format, value);
}

int32_t RoundUpFlag(double t) {
    char text[64];
    FormatNumber(text, sizeof(text), t * 100.0, 10);
    // The decimal point is whatever character follows the leading digits, so a
    // process locale with another separator reads the same digit.
    const char* p = text;
    if (*p == '-' || *p == '+') ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == 0 || p == text) return 0;
    const char digit = p[1];
    const int value = (digit >= '0' && digit <= '9') ? digit - '0' : 0;
    return value >= 5;
}

int32_t DeriveSamplingMode(AnalogSettings* a, double periodMs, uint32_t channels, uint32_t blockSize,
                           const char** refusal) {
    const double t = periodMs / channels;
    if (!isfinite(t)) {
        *refusal = kBadSamplePeriodText;
        return 0;
    }
    if (t * 10 < 0.9999 && channels > 1) {
        *refusal = "チャンネルが複数ある場合は1チャンネル当たりのサンプリングレ－トを\r"
                   "100μ秒以上になるように指定して下さい";
        return 0;
    }
    if (t < 0.01) {
        *refusal = "10μ秒以下では処理できません";
        return 0;
    }
    if (blockSize > 0xFFFF) {
        *refusal = "ブロックサイズが65535を超えるため処理できません";
        return 0;
    }
    const int32_t roundUp = RoundUpFlag(t);
    double interval;
    double decimation;
    if (t <= 2.55) {
        interval = trunc(t * 100) + roundUp;
        decimation = 1;
    } else {
        interval = 10;
        decimation = trunc(t * 10) + roundUp;
    }
    // The read for one block must be describable in 32 bits, in bytes.
    const double bytes = static_cast<double>(channels) * blockSize * decimation * 2.0;
    if (decimation > 0x7FFFFFFF || bytes > 4294967295.0) {
        *refusal = "サンプリング周期が長すぎるため処理できません";
        return 0;
    }
    int32_t index = a->bufferSizeIndex;
    if (index < 0 || index > 7) index = kDefaultBufferSizeIndex;
    a->mode.interval = static_cast<int32_t>(interval);
    a->mode.decimation = static_cast<int32_t>(decimation);
    a->mode.firstChannel = 0;
    a->mode.lastChannel = static_cast<int32_t>(channels) - 1;
    a->mode.driverBufferSize = 65536 << index;
    a->samplesPerRead = channels * blockSize * static_cast<uint32_t>(decimation);
    return 1;
}

int32_t __cdecl AnalogInputProcessing(ModuleRecord* m) {
    AnalogSettings* a = AnalogArea(m);
    // Nothing was started (or the start failed and stopped the experiment): there
    // is nothing to poll, and polling a card that is not sampling would not end.
    if (a->sampleBuffer == nullptr || !IsCardStarted(a, a->sampleBuffer)) return 1;
    for (;;) {
        uint32_t count = 0;
        uint32_t status = 0;
        if (Tk17GetSamplingStatus(a->socket, &count, &status) == 0) {
            ReportDriverFailure(a->socket, "サンプリング状態の取得に失敗しました\nエラーコード： %d");
            return 0;
        }
        if ((status & 0xFF) & (TK17_STATUS_OVERFLOW | TK17_STATUS_OVERRUN)) {
            StopExperiment();
            return 0;
        }
        if (count >= a->samplesPerRead) break;
    }
    if (Tk17GetData(a->socket, a->sampleBuffer, a->samplesPerRead) == 0) {
        ReportDriverFailure(a->socket, "サンプリングデータ取り込みを失敗しました\nエラーコード： %d");
        return 0;
    }
    if (m->outputGate == 0) return 1;
    if (bExperimentIsPaused == 1) return 1;
    // The buffer holds the scans of the channels it was programmed for at the
    // start; a channel count that changed since is never read past its end.
    const uint32_t programmed = static_cast<uint32_t>(a->mode.lastChannel) + 1;
    ReadContext read;
    read.buffer = a->sampleBuffer;
    read.stride = programmed * static_cast<uint32_t>(a->mode.decimation);
    read.range = a->mode.range;
    for (uint32_t c = 0; c < m->outputCount && c < programmed; ++c)
        ProduceChannelBlock(m, c, FillFromBuffer, nullptr, &read, kTag, kLineRelease);
    return 1;
}

int32_t __cdecl AnalogInputClassCallback(ModuleRecord* m, uint32_t code, int32_t value1, int32_t value2) {
    switch (code) {
        case VELK_CODE_ACK1:
        case VELK_CODE_ACK104:
        case VELK_CODE_ACK201:
            return 1;
        case VELK_CODE_CREATE: return Create(m);
        case VELK_CODE_REMOVE: return Remove(m);
        case VELK_CODE_SETUP:
            RunAnalogSetupDialog(m->ownerWindow);
            return 1;
        case VELK_CODE_DEVICE_CHECK: return CheckDeviceSlot(AnalogArea(m)->socket, CLASS_ANALOG_IN);
        case VELK_CODE_START: return Start(m);
        case VELK_CODE_STOP: return Stop(m);
        default: return PerformDefaultAction(m, code, value1, value2);
    }
}
