// The core's clipboard callbacks and the subsystem thread's poll over the sim
// pasteboard: a client's paste is not announced back, a desktop change is.
#include <cstdlib>

#include "server/core/core_fixture.h"
#include "server/shadow/Mac/sharing/clipboard.h"
#include "server/shadow/ext/cliprdr_channel.h"

using corvane::platform::PasteboardType;

namespace {

class ClipboardCoreTest : public CoreTest {
  protected:
    corvane::platform::sim::SimPasteboard& board() { return sim().simPasteboard(); }
    rdpShadowSubsystemExt& slots() { return record()->common; }
    rdpShadowSubsystem* base() { return &record()->common.base; }
    // Runs one poll when it is due and says whether clients were told.
    bool pollNotifies(bool newClient = false) {
        const uint64_t before = shadow_ext_cliprdr_notices();
        mac_shadow_clipboard_poll(record(), now(), newClient);
        return shadow_ext_cliprdr_notices() != before;
    }
};

} // namespace

TEST_F(ClipboardCoreTest, InitTakesTheCountAndAClientPasteIsNotAnnouncedBack) {
    EXPECT_EQ(record()->clipboardChangeCount.load(), board().changeCount());
    ASSERT_TRUE(slots().ClipboardSetText(base(), "from a client"));
    EXPECT_EQ(
        board().read(PasteboardType::Text),
        std::vector<uint8_t>({'f', 'r', 'o', 'm', ' ', 'a', ' ', 'c', 'l', 'i', 'e', 'n', 't'}));
    EXPECT_FALSE(pollNotifies());

    const uint8_t pixel[4] = {1, 2, 3, 255};
    advance(250);
    ASSERT_TRUE(slots().ClipboardSetImage(base(), pixel, 1, 1));
    EXPECT_EQ(slots().ClipboardAvailable(base()), 2u);
    EXPECT_FALSE(pollNotifies());

    // A refused write still takes the count, so nothing is announced for it.
    board().setRefuseWrites(true);
    board().putFromDesktop({{PasteboardType::Text, {'x'}}});
    advance(250);
    EXPECT_FALSE(slots().ClipboardSetText(base(), "refused"));
    EXPECT_EQ(record()->clipboardChangeCount.load(), board().changeCount());
    EXPECT_FALSE(pollNotifies());
}

TEST_F(ClipboardCoreTest, DesktopChangesAreAnnouncedAtMostEvery250MsAndToNewClients) {
    advance(250);
    EXPECT_FALSE(pollNotifies());
    board().putFromDesktop({{PasteboardType::Text, {'d'}}});
    advance(100);
    EXPECT_FALSE(pollNotifies()) << "the next poll is not due yet";
    EXPECT_TRUE(pollNotifies(true)) << "a new client always hears";
    board().putFromDesktop({{PasteboardType::Text, {'e'}}});
    advance(249);
    EXPECT_FALSE(pollNotifies());
    advance(1);
    EXPECT_TRUE(pollNotifies());
    advance(250);
    EXPECT_FALSE(pollNotifies()) << "an unchanged count";
}

TEST_F(ClipboardCoreTest, CallbacksRefuseMissingArgumentsAndHandOutHeapCopies) {
    board().putFromDesktop({{PasteboardType::Text, {'o', 'k'}}});
    char* text = nullptr;
    EXPECT_FALSE(slots().ClipboardGetText(base(), nullptr));
    ASSERT_TRUE(slots().ClipboardGetText(base(), &text));
    EXPECT_STREQ(text, "ok");
    std::free(text);
    EXPECT_FALSE(slots().ClipboardSetText(nullptr, "x"));
    EXPECT_FALSE(slots().ClipboardSetText(base(), nullptr));

    const uint8_t pixel[4] = {9, 8, 7, 255};
    ASSERT_TRUE(slots().ClipboardSetImage(base(), pixel, 1, 1));
    BYTE* pixels = nullptr;
    UINT32 w = 0, h = 0;
    EXPECT_FALSE(slots().ClipboardGetImage(base(), &pixels, nullptr, &h));
    ASSERT_TRUE(slots().ClipboardGetImage(base(), &pixels, &w, &h));
    EXPECT_EQ(w, 1u);
    EXPECT_EQ(h, 1u);
    EXPECT_EQ(pixels[0], 9);
    std::free(pixels);
    EXPECT_FALSE(slots().ClipboardSetImage(base(), nullptr, 1, 1));
    EXPECT_FALSE(slots().ClipboardSetImage(base(), pixel, 8193, 1));
}
