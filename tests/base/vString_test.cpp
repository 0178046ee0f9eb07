// Owned text: private copies, the notifying set, clearing, and a text taken
// from the string's own buffer.
#include "base/vString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every `changed` call with the text it was given (read at once).
class RecordingString : public vString {
public:
    void changed(const char* text) override {
        calls.push_back(text != nullptr ? text : "<null>");
        pointers.push_back(text);
    }
    std::vector<std::string> calls;
    std::vector<const char*> pointers;
};

} // namespace

TEST(String, SetCopiesAndNotifies) {
    RecordingString s;
    EXPECT_EQ(s.text(), nullptr);

    char source[] = "lamp";
    s.set(source, false);
    ASSERT_NE(s.text(), nullptr);
    EXPECT_NE(s.text(), source);
    EXPECT_STREQ(s.text(), "lamp");
    EXPECT_TRUE(s.calls.empty());
    source[0] = 'd';
    EXPECT_STREQ(s.text(), "lamp");

    // An equal text at another address is copied again and announced with
    // the caller's pointer.
    const char* stored = s.text();
    char equal[] = "lamp";
    s.set(equal, true);
    ASSERT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(s.calls[0], "lamp");
    EXPECT_EQ(s.pointers[0], equal);
    EXPECT_STREQ(s.text(), "lamp");

    // The very pointer already stored: nothing at all, even with notify.
    stored = s.text();
    s.set(stored, true);
    EXPECT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(s.text(), stored);

    // Longer and shorter texts.
    s.set("a considerably longer name than before", true);
    EXPECT_STREQ(s.text(), "a considerably longer name than before");
    s.set("", true);
    EXPECT_STREQ(s.text(), "");
    EXPECT_EQ(s.calls.size(), 3u);

    // Clearing frees the text and announces null; a silent clear announces nothing.
    s.set(nullptr, true);
    EXPECT_EQ(s.text(), nullptr);
    ASSERT_EQ(s.calls.size(), 4u);
    EXPECT_EQ(s.pointers[3], nullptr);
    s.set("x", false);
    s.set(nullptr, false);
    EXPECT_EQ(s.text(), nullptr);
    EXPECT_EQ(s.calls.size(), 4u);
    s.set(nullptr, true); // already null: the same pointer, so nothing happens
    EXPECT_EQ(s.calls.size(), 4u);
}

TEST(String, TextFromOwnBuffer) {
    RecordingString s;
    s.set("Powered On", false);
    // A tail of the stored text: stored correctly, and the announced text is
    // still readable after the old buffer is gone (the sanitizer checks it).
    s.set(s.text() + 8, true);
    EXPECT_STREQ(s.text(), "On");
    ASSERT_EQ(s.calls.size(), 1u);
    EXPECT_EQ(s.calls[0], "On");
    s.set(s.text() + 2, true); // the terminator: an empty text
    EXPECT_STREQ(s.text(), "");
    EXPECT_EQ(s.calls.back(), "");
}

TEST(String, DestroyWithoutText) {
    auto* s = new vString;
    delete s; // frees nothing; the sanitizer would see a bad free
    auto* t = new RecordingString;
    t->set("kept until destruction", false);
    delete t; // the copy is freed (the leak checker would see it otherwise)
}
