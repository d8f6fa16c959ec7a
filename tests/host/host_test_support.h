// Shared pieces of the host tests: a quiet Host per test, the Velk functions as the
// extension gets them (through the look-up message), and a module class defined by
// the test itself that records what the host does to it.
#pragma once

#include "velk/host/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace hosttest {

inline velk::HostOptions quietOptions() {
    velk::HostOptions o;
    o.warnings = velk::WarningOutput::None;
    return o;
}

// A Velk function as the extension would call it: the answer to look-up 30001.
template <typename Fn>
Fn velkFunction(velk::Host& host, const char* name) {
    return reinterpret_cast<Fn>(host.lookUp(velk::LookupKind::Function, name));
}

// A module class of the test's own. The callbacks are plain functions, as an
// extension's are, so their state is global; reset() starts each test afresh.
struct TestClass {
    struct Call {
        ModuleRecord* module;
        uint32_t code;
        int32_t value1, value2;
        ModuleRecord* currentAtCall;
    };
    static constexpr uint32_t kPrivateSize = 40;
    static constexpr uint32_t kChannelSize = 12;

    std::vector<Call> calls;
    int32_t createResult = 1;
    int processed = 0;
    float nextSample = 0.0f;
    velk::Host* host = nullptr;

    static TestClass& get() {
        static TestClass c;
        return c;
    }

    static int32_t __cdecl callback(ModuleRecord* m, uint32_t code, int32_t v1, int32_t v2) {
        TestClass& c = get();
        c.calls.push_back({m, code, v1, v2, c.host ? c.host->currentModule() : nullptr});
        return code == VELK_CODE_CREATE ? c.createResult : 1;
    }

    // Fills and releases one block on every output channel that gets one, the way
    // a source module does.
    static int32_t __cdecl processing(ModuleRecord* m) {
        TestClass& c = get();
        ++c.processed;
        auto getBlock = velkFunction<GetCurrentOutputBlockFn>(*c.host, "GetCurrentOutputBlock");
        auto release = velkFunction<NewReleaseOutputBlockFn>(*c.host, "NewReleaseOutputBlock");
        uint32_t blockSize = c.host->blockSize();
        for (uint32_t ch = 0; ch < m->outputCount; ++ch) {
            m->outputChannels[ch]->outputMark = 0;
            DataBlock* b = getBlock(m->outputChannels[ch]);
            if (!b) continue;
            b->sampleDistance = 0.001;
            b->startTime = ch;
            b->sampleCount = static_cast<uint16_t>(blockSize);
            for (uint32_t j = 0; j < blockSize; ++j) {
                float v = c.nextSample++;
                std::memcpy(reinterpret_cast<unsigned char*>(b) + 24 + 4 * j, &v, 4);
            }
            release(m->outputChannels[ch], "TestSrc", 42);
        }
        return 1;
    }

    // Registers the class with the host through RegisterModuleClass.
    static void registerWith(velk::Host& host, const char* classId = "TEST:SRC", uint32_t channelSize = kChannelSize,
                             uint32_t privateSize = kPrivateSize) {
        TestClass& c = get();
        c.host = &host;
        static char shortName[13] = "TestSrc";
        static char longName[39] = "Test source";
        ClassRegistration r = {};
        r.instance = GetModuleHandleA(nullptr);
        r.classId = classId;
        r.privateDataSize = privateSize;
        r.channelDataSize = channelSize;
        r.menuCommand = 2950;
        r.shortName = shortName;
        r.longName = longName;
        r.classCallback = &TestClass::callback;
        r.processingRoutine = &TestClass::processing;
        velkFunction<RegisterModuleClassFn>(host, "RegisterModuleClass")(&r);
    }

    static void reset() {
        TestClass& c = get();
        c.calls.clear();
        c.createResult = 1;
        c.processed = 0;
        c.nextSample = 0.0f;
        c.host = nullptr;
    }
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { TestClass::reset(); }
    void TearDown() override { TestClass::reset(); }
};

}  // namespace hosttest

using HostTest = hosttest::HostTest;
