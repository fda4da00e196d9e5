// A test with a private Xvfb of its own: DISPLAY names it, and d_ is the
// test's own connection to it (closed before the server goes).
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

// After gtest: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>

#include "e2e/harness/e2e_harness.h"

namespace corvane::platform::x11::testing {

class XvfbTest : public ::testing::Test {
  protected:
    // Starts the X server at that size ("640x480x24") and, unless `connect`
    // is false, opens d_ on it.
    void startXvfb(const std::string& geometry, bool connect = true) {
        xvfb_ = std::make_unique<e2e::Xvfb>(e2e::suites::x11Platform, geometry);
        ASSERT_TRUE(xvfb_->ok());
        setenv("DISPLAY", xvfb_->name().c_str(), 1);
        if (connect) {
            d_ = XOpenDisplay(xvfb_->name().c_str());
            ASSERT_NE(d_, nullptr);
        }
    }
    void TearDown() override {
        if (d_)
            XCloseDisplay(d_);
        d_ = nullptr;
    }

    std::unique_ptr<e2e::Xvfb> xvfb_;
    Display* d_ = nullptr;
};

} // namespace corvane::platform::x11::testing
