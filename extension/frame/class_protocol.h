// What the three module classes share: the class identities, the default
// dispatch to Velk, the block-production pattern on an output channel, and the
// channel animation hook with its phase step.
#pragma once

#include "extension/frame/host_binding.h"

enum ModuleClass { CLASS_ANALOG_IN = 0, CLASS_DIGITAL_IN = 1, CLASS_DIGITAL_OUT = 2 };

// Called for a sample block that was just obtained: fill `count` samples.
typedef void (*FillBlockSamples)(ModuleRecord* m, uint32_t channel, float* samples, uint32_t count, void* context);
// Called before a pending block is released: non-zero when it may go now.
typedef int32_t (*BlockReleaseReady)(ModuleRecord* m, uint32_t channel, void* context);

// One visit of output channel `channel`: mark it, obtain and fill a block unless
// one is pending, and release the pending block when the experiment is not paused
// and `ready` agrees (null `ready` = always).
void ProduceChannelBlock(ModuleRecord* m, uint32_t channel, FillBlockSamples fill, BlockReleaseReady ready,
                         void* context, const char* sourceTag, int32_t line);

// Resets blockPending, samplesDone and animationPhase of the first `count` channels.
void ResetChannelStates(ModuleRecord* m, uint32_t count);

// Channel animation: the hook has no effect of its own; the phase cycles -9..10.
void ChannelAnimation(int32_t animationContext, uint32_t channel, int32_t phase);
int32_t NextAnimationPhase(int32_t phase);

// A sample period the classes cannot work with is refused at the start with
// this text, under the caption "エラー".
extern const char kRefusalCaption[];
extern const char kBadSamplePeriodText[];

// Default name of channel `index`: "ﾁｬﾝﾈﾙ <index>" into a 24-byte slot.
void WriteDefaultChannelName(char* slot, uint32_t index);
