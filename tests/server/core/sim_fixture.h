// Installs a fresh sim platform for one test and restores the previous one.
#pragma once
#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"

class SimPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto sim = std::make_unique<corvane::platform::sim::SimPlatform>();
        sim_ = sim.get();
        previous_ = corvane::platform::replaceCurrent(std::move(sim));
    }
    void TearDown() override { corvane::platform::replaceCurrent(std::move(previous_)); }
    corvane::platform::sim::SimPlatform& sim() { return *sim_; }

  private:
    corvane::platform::sim::SimPlatform* sim_ = nullptr;
    std::unique_ptr<corvane::platform::Platform> previous_;
};
