// Entries of the root window's resource database, read and changed one by
// one.
#include <gtest/gtest.h>

#include "platform/x11/x11_resources.h"

using corvane::platform::x11::resourceValue;
using corvane::platform::x11::withResource;

namespace {

TEST(X11Resources, EntriesReadAndChangedOneByOne) {
    const std::string db = "Xft.dpi:\t96\n*background:\tgrey\nXft.dpiX:\t1\n";
    EXPECT_EQ(resourceValue(db, "Xft.dpi"), "96");
    EXPECT_EQ(resourceValue(db, "*background"), "grey");
    EXPECT_EQ(resourceValue(db, "Xcursor.size"), std::nullopt);
    EXPECT_EQ(resourceValue("Xft.dpi: 96\nXft.dpi:  120 \n", "Xft.dpi"), "120"); // the last counts
    struct Case {
        const char* name;
        std::string in;
        std::optional<std::string> value;
        std::string out;
    };
    const Case cases[] = {
        {"replaced in place", db, "192", "Xft.dpi:\t192\n*background:\tgrey\nXft.dpiX:\t1\n"},
        {"added at the end", "a:\t1\n", "192", "a:\t1\nXft.dpi:\t192\n"},
        {"into nothing", "", "192", "Xft.dpi:\t192\n"},
        {"removed", db, std::nullopt, "*background:\tgrey\nXft.dpiX:\t1\n"},
        {"duplicates become one", "Xft.dpi:\t1\nXft.dpi:\t2\n", "3", "Xft.dpi:\t3\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withResource(c.in, "Xft.dpi", c.value), c.out) << c.name;
}

} // namespace
