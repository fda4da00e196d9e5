// The outputs' own configuration as a server keeps it on the root window
// for the next server, should it be killed before giving it back.
#include <gtest/gtest.h>

#include "platform/x11/x11_outputs.h"

using corvane::platform::x11::OutputMirror;

namespace {

// What a server that is killed leaves on the root window for the next one:
// each output's own mode, place and transform, and whether we changed the
// transform (a scaled output), read back as written; a line cut short is
// left out rather than given back wrong.
TEST(X11OutputMirror, WhatIsToBeGivenBackReadsBackAsWritten) {
    const std::string scaled = "crtc 63 58 0 0 1280 800 1 1 65536 0 0 0 65536 0 0 0 65536 - 66\n";
    const std::string turned =
        "crtc 64 59 1280 0 800 1280 2 0 32768 0 0 0 32768 0 0 0 65536 bilinear 67,68\n";
    const std::string added = "added 90 66\n";
    OutputMirror mirror;
    mirror.load(scaled + turned + added);
    EXPECT_TRUE(mirror.changed());
    EXPECT_EQ(mirror.originalExtent(), std::make_pair(2080, 1280));
    EXPECT_EQ(mirror.save(), scaled + turned + added);

    OutputMirror cut;
    cut.load("crtc 63 58 0 0 1280 800 1 1 65536 0 0\n" + turned);
    EXPECT_EQ(cut.save(), turned);
    OutputMirror nothing;
    nothing.load("owner 12\nscreen 1280 800 338 211\n");
    EXPECT_FALSE(nothing.changed());
}

} // namespace
