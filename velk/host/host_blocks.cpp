// Data blocks: output blocks lent and released, recorders, connections and the
// input queues of receiving modules.
#include "velk/host/host.h"

#include "velk/host/host_internal.h"

namespace velk {

ModuleInstance* Host::instanceOfChannel(OutputChannel* channel, uint32_t* index) const {
    if (channel != nullptr && channel == lastChannel_) {
        *index = lastIndex_;
        return lastInstance_;
    }
    for (const auto& inst : modules_)
        for (uint32_t i = 0; i < kMaxChannels; ++i)
            if (&inst->outputs[i].velk == channel) {
                *index = i;
                lastChannel_ = channel;
                lastInstance_ = inst.get();
                lastIndex_ = i;
                return inst.get();
            }
    return nullptr;
}

ReleasedBlock BlockView::copy() const {
    ReleasedBlock r;
    r.module = module;
    r.channel = channel;
    r.startTime = startTime;
    r.sampleDistance = sampleDistance;
    r.sampleCount = sampleCount;
    r.samples.assign(samples, samples + samplesHeld);
    r.tag = tag ? boundedText(tag, 256) : std::string();
    r.line = line;
    r.sequence = sequence;
    return r;
}

OutputChannel* Host::outputChannel(ModuleRecord* m, uint32_t channel) const {
    ModuleInstance* inst = instanceOf(m);
    return inst && channel < kMaxChannels ? &inst->outputs[channel].velk : nullptr;
}

DataBlock* Host::getCurrentOutputBlock(OutputChannel* channel) {
    uint32_t index = 0;
    ModuleInstance* inst = instanceOfChannel(channel, &index);
    if (!inst) {
        log_.error("GetCurrentOutputBlock with an output channel record Velk did not make: " + pointerText(channel));
        return nullptr;
    }
    if (index >= inst->record->outputCount)
        log_.error("GetCurrentOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + ", which has " + std::to_string(inst->record->outputCount));
    // The mark is Velk's: it sets it when it hands a block out, and a producing class
    // clears it on each visit before it asks.
    if (channel->outputMark != 0)
        log_.error("GetCurrentOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + " with outputMark " + std::to_string(channel->outputMark) +
                    " not cleared first");
    BlockBuffer* b = inst->pools[index].current(blockSize_, blockSerial_);
    if (b) channel->outputMark = kHandedOutMark;
    return b ? b->data() : nullptr;
}

int32_t Host::releaseOutputBlock(OutputChannel* channel, const char* tagPtr, int32_t line) {
    // The tag as text only where it is kept: the release path does no string work
    // of its own in a plain run.
    auto tag = [tagPtr] { return boundedText(tagPtr, 256); };
    if (options_.logBlockReleases) log_.event("NewReleaseOutputBlock|" + tag() + "|" + std::to_string(line));
    uint32_t index = 0;
    ModuleInstance* inst = instanceOfChannel(channel, &index);
    if (!inst) {
        log_.error("NewReleaseOutputBlock with an output channel record Velk did not make: " + pointerText(channel));
        return 0;
    }
    BlockPool& pool = inst->pools[index];
    BlockBuffer* b = pool.detachCurrent();
    if (!b) {
        log_.error("NewReleaseOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + " without a block (" + tag() + ":" + std::to_string(line) + ")");
        return 0;
    }
    if (index >= inst->record->outputCount)
        log_.error("NewReleaseOutputBlock on output channel " + std::to_string(index) + " of module " +
                    std::to_string(inst->number) + ", which has " + std::to_string(inst->record->outputCount));
    if (b->damaged()) log_.error(b->damage() + " (" + tag() + ":" + std::to_string(line) + ")");

    BlockView view;
    view.module = inst->record;
    view.channel = index;
    memcpy(&view.startTime, &b->data()->startTime, sizeof view.startTime);
    memcpy(&view.sampleDistance, &b->data()->sampleDistance, sizeof view.sampleDistance);
    memcpy(&view.sampleCount, &b->data()->sampleCount, sizeof view.sampleCount);
    view.samples = b->samplesData();
    view.samplesHeld = std::min<uint32_t>(view.sampleCount, b->capacity());
    view.tag = tagPtr;
    view.line = line;
    view.sequence = ++releaseSequence_;
    if (options_.keepReleasedBlocks) inst->released[index].push_back(view.copy());
    // Recorders are called in place; one removed meanwhile is only marked, and the
    // list is tidied afterwards.
    callingRecorders_ = true;
    for (size_t i = 0; i < recorders_.size(); ++i) {
        const Recorder& rec = recorders_[i];
        if (rec.from == inst && rec.output == index && !rec.removed) rec.callback(view);
    }
    callingRecorders_ = false;
    recorders_.erase(std::remove_if(recorders_.begin(), recorders_.end(), [](const Recorder& r) { return r.removed; }),
                     recorders_.end());
    for (Recorder& added : addedRecorders_) recorders_.push_back(std::move(added));
    addedRecorders_.clear();

    for (const Connection& c : connections_) {
        if (c.from != inst || c.output != index) continue;
        ModuleInstance::Waiting w;
        w.block = b;
        c.to->inputs[c.input].push_back(std::move(w));
        ++b->holders;
    }
    if (b->holders == 0) pool.giveBack(b);
    return 1;
}

DataBlock* Host::getInputBlock(ModuleRecord* m, uint32_t input) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst) {
        log_.error("GetInputBlock with a module record Velk did not make: " + pointerText(m));
        return nullptr;
    }
    if (input >= kMaxChannels) {
        log_.error("GetInputBlock on input channel " + std::to_string(input));
        return nullptr;
    }
    if (input >= inst->record->inputCount)
        log_.error("GetInputBlock on input channel " + std::to_string(input) + " of module " +
                    std::to_string(inst->number) + ", which has " + std::to_string(inst->record->inputCount));
    auto& queue = inst->inputs[input];
    if (queue.empty()) return nullptr;
    queue.front().lent = true;
    return queue.front().block->data();
}

void Host::giveBackInput(ModuleInstance* inst, uint32_t input) {
    auto& queue = inst->inputs[input];
    ModuleInstance::Waiting w = std::move(queue.front());
    queue.pop_front();
    if (w.owned) return;
    if (--w.block->holders == 0 && w.block->home()) w.block->home()->giveBack(w.block);
}

int32_t Host::releaseInputBlock(ModuleRecord* m, uint32_t input, const char* tagPtr, int32_t line) {
    const std::string tag = boundedText(tagPtr, 256);
    if (options_.logBlockReleases) log_.event("NewReleaseInputBlock|" + tag + "|" + std::to_string(line));
    ModuleInstance* inst = instanceOf(m);
    if (!inst) {
        log_.error("NewReleaseInputBlock with a module record Velk did not make: " + pointerText(m));
        return 0;
    }
    if (input >= kMaxChannels || inst->inputs[input].empty()) {
        log_.error("NewReleaseInputBlock on input channel " + std::to_string(input) + " of module " +
                    std::to_string(inst->number) + " with no block waiting (" + tag + ":" + std::to_string(line) +
                    ")");
        return 0;
    }
    const ModuleInstance::Waiting& head = inst->inputs[input].front();
    if (!head.lent)
        log_.error("NewReleaseInputBlock on input channel " + std::to_string(input) + " of module " +
                    std::to_string(inst->number) + " gives back a block GetInputBlock never handed out");
    const std::string damage = head.block->damage();
    if (!damage.empty()) log_.error(damage + " (" + tag + ":" + std::to_string(line) + ")");
    inst->inputReleases.push_back({input, tag, line});
    giveBackInput(inst, input);
    return 1;
}

bool Host::connect(ModuleRecord* from, uint32_t output, ModuleRecord* to, uint32_t input) {
    ModuleInstance* a = instanceOf(from);
    ModuleInstance* b = instanceOf(to);
    if (!a || !b || output >= kMaxChannels || input >= kMaxChannels) return false;
    for (const Connection& c : connections_)
        if (c.from == a && c.output == output && c.to == b && c.input == input) return true;
    connections_.push_back({a, output, b, input});
    return true;
}

bool Host::disconnect(ModuleRecord* from, uint32_t output, ModuleRecord* to, uint32_t input) {
    ModuleInstance* a = instanceOf(from);
    ModuleInstance* b = instanceOf(to);
    for (auto it = connections_.begin(); it != connections_.end(); ++it)
        if (it->from == a && it->output == output && it->to == b && it->input == input) {
            connections_.erase(it);
            return true;
        }
    return false;
}

int Host::addRecorder(ModuleRecord* from, uint32_t output, BlockRecorder recorder) {
    ModuleInstance* a = instanceOf(from);
    if (!a || output >= kMaxChannels || !recorder) return 0;
    // One added by a recorder joins the list once the release that called it is over.
    (callingRecorders_ ? addedRecorders_ : recorders_).push_back({++recorderIds_, a, output, std::move(recorder)});
    return recorderIds_;
}

bool Host::removeRecorder(int id) {
    for (auto it = recorders_.begin(); it != recorders_.end(); ++it)
        if (it->id == id && !it->removed) {
            if (callingRecorders_)
                it->removed = true;
            else
                recorders_.erase(it);
            return true;
        }
    return false;
}

std::vector<ReleasedBlock> Host::releasedBlocks(ModuleRecord* m, uint32_t output) const {
    ModuleInstance* inst = instanceOf(m);
    if (!inst || output >= kMaxChannels) return {};
    return inst->released[output];
}

void Host::clearReleasedBlocks() {
    for (auto& inst : modules_)
        for (auto& list : inst->released) list.clear();
}

bool Host::pushInputBlock(ModuleRecord* m, uint32_t input, const BlockContent& content) {
    ModuleInstance* inst = instanceOf(m);
    if (!inst || input >= kMaxChannels) return false;
    const size_t count = content.sampleCount < 0 ? content.samples.size() : size_t(content.sampleCount);
    const uint32_t room = static_cast<uint32_t>(std::max<size_t>({content.samples.size(), count, 1}));
    ModuleInstance::Waiting w;
    w.owned = std::make_unique<BlockBuffer>(room, ++blockSerial_, nullptr);
    w.block = w.owned.get();
    DataBlock* d = w.block->data();
    d->startTime = content.startTime;
    d->sampleDistance = content.sampleDistance;
    d->sampleCount = static_cast<uint16_t>(count);
    unsigned char* samples = reinterpret_cast<unsigned char*>(d) + BlockBuffer::kHeaderBytes;
    std::memset(samples, 0, size_t(room) * sizeof(float));
    if (!content.samples.empty())
        std::memcpy(samples, content.samples.data(), content.samples.size() * sizeof(float));
    inst->inputs[input].push_back(std::move(w));
    return true;
}

size_t Host::inputBlocksWaiting(ModuleRecord* m, uint32_t input) const {
    ModuleInstance* inst = instanceOf(m);
    return inst && input < kMaxChannels ? inst->inputs[input].size() : 0;
}

std::vector<InputRelease> Host::inputReleases(ModuleRecord* m) const {
    ModuleInstance* inst = instanceOf(m);
    return inst ? inst->inputReleases : std::vector<InputRelease>();
}

void Host::setPoolCapacity(ModuleRecord* m, uint32_t output, size_t capacity) {
    ModuleInstance* inst = instanceOf(m);
    if (inst && output < kMaxChannels) inst->pools[output].setCapacity(capacity);
}

PoolStats Host::poolStats(ModuleRecord* m, uint32_t output) const {
    ModuleInstance* inst = instanceOf(m);
    return inst && output < kMaxChannels ? inst->pools[output].stats() : PoolStats();
}

}  // namespace velk
