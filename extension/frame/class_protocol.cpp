#include "extension/frame/class_protocol.h"

#include <stdio.h>

const char kRefusalCaption[] = "エラー";
const char kBadSamplePeriodText[] = "サンプリング周期が不正です";

void ProduceChannelBlock(ModuleRecord* m, uint32_t channel, FillBlockSamples fill, BlockReleaseReady ready,
                         void* context, const char* sourceTag, int32_t line) {
    OutputChannel* out = m->outputChannels[channel];
    ChannelState* state = m->channelData[channel];
    out->outputMark = 0;
    if (state->blockPending == 0) {
        DataBlock* block = GetCurrentOutputBlock(out);
        if (block == nullptr) return;
        const uint32_t count = uiGlobalBlockSize;
        const double distance = fGlobalMilliSecondsPerSample * 0.001;
        block->sampleDistance = distance;
        block->startTime = static_cast<double>(state->samplesDone) * distance;
        block->sampleCount = static_cast<uint16_t>(count);
        fill(m, channel, block->samples, count, context);
        state->blockPending = 1;
        state->samplesDone += count;
    }
    if (state->blockPending == 1 && bExperimentIsPaused == 0 && (ready == nullptr || ready(m, channel, context))) {
        if (bAnimation == 1) ChannelAnimation(m->animationContext, channel, state->animationPhase);
        NewReleaseOutputBlock(out, sourceTag, line);
        state->blockPending = 0;
        state->animationPhase = NextAnimationPhase(state->animationPhase);
    }
}

void ResetChannelStates(ModuleRecord* m, uint32_t count) {
    for (uint32_t i = 0; i < count && i < 16; ++i) {
        ChannelState* state = m->channelData[i];
        state->blockPending = 0;
        state->samplesDone = 0;
        state->animationPhase = 0;
    }
}

void ChannelAnimation(int32_t, uint32_t, int32_t) {}

int32_t NextAnimationPhase(int32_t phase) {
    int32_t next = phase + 1;
    return next > 10 ? -9 : next;
}

void WriteDefaultChannelName(char* slot, uint32_t index) {
    snprintf(slot, 24, "ﾁｬﾝﾈﾙ %u", index);
}
