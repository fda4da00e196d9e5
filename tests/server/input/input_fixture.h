// A record over the sim platform with a test clock, for the input and
// cursor tests.
#pragma once
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "server/core/sim_fixture.h"
#include "base/clock.h"
#include "server/shadow/Mac/mac_shadow.h"

namespace input_test {

inline uint64_t gNow = 0;
inline uint64_t testClock() {
    return gNow;
}

class SimRecordTest : public SimPlatformTest {
  protected:
    void SetUp() override {
        SimPlatformTest::SetUp();
        sim_ = &sim();
        record_ = static_cast<macShadowSubsystem*>(std::calloc(1, sizeof(macShadowSubsystem)));
        InitializeCriticalSection(&record_->subsystemLock);
        gNow = 100000;
        mac_set_clock_for_tests(testClock);
    }
    void TearDown() override {
        mac_set_clock_for_tests(nullptr);
        DeleteCriticalSection(&record_->subsystemLock);
        std::free(record_);
        SimPlatformTest::TearDown();
    }

    rdpShadowSubsystem* subsystem() { return &record_->common.base; }
    // The callbacks only check that a client is there.
    rdpShadowClient* client() { return reinterpret_cast<rdpShadowClient*>(&clientStandIn_); }
    std::vector<corvane::platform::sim::PostedEvent> posted() { return sim_->simEvents().posted(); }

    void addMapping(int32_t x, int32_t y, int32_t w, int32_t h, double macX, double macY,
                    double ppp) {
        record_->mappings[record_->mappingCount++] = DisplayMapping{x, y, w, h, macX, macY, ppp};
    }

    corvane::platform::sim::SimPlatform* sim_ = nullptr;
    macShadowSubsystem* record_ = nullptr;

  private:
    int clientStandIn_ = 0;
};

} // namespace input_test
