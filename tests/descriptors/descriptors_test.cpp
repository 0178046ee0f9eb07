// Descriptor nodes, seen by a host through the record (the sample plug-in
// builds one of each), and the null node's attribute check in-process.
#include "fixtures/loadedPlugin.h"

#include "descriptors/vNullNode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kSample = std::string(KVQ_BIN_DIR) + "/sample-plugin.so";

struct Descriptors : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        plugin.attach();
        plugin.build();
        root = plugin.root();
        functions = plugin.child(root, "Functions");
        run = plugin.child(functions, "Run");
        fire = plugin.child(functions, "Fire");
        events = plugin.child(root, "Events");
        slot = plugin.child(events, "Slot");
        button = plugin.child(slot, "Button");
        ASSERT_NE(button, 0u);
    }
    void TearDown() override { EXPECT_EQ(plugin.detach(), 1u); }

    // The call-outs as "category/operation" with the node command's code.
    std::vector<std::string> summary() {
        std::vector<std::string> out;
        for (const CallOut& c : plugin.callOuts) {
            std::string line = std::to_string(c.category()) + "/" + std::to_string(c.operation());
            if (c.category() == 2) line += " code " + std::to_string(c.int64At(2));
            out.push_back(line);
        }
        return out;
    }
    std::string attributeText(uint32_t node, const char* name) {
        return plugin.text(2, 54, node, {textArg(name)});
    }
    // Node command with the words w1..w7 (A0, then A2..A7; A1 holds garbage).
    uint32_t command(uint32_t node, std::vector<uint32_t> words) {
        std::vector<uint32_t> slots{words.at(0), 0xDEADBEEF};
        slots.insert(slots.end(), words.begin() + 1, words.end());
        plugin.callOuts.clear();
        return static_cast<uint32_t>(plugin.int64(2, 2, node, slots));
    }

    LoadedPlugin plugin{kSample};
    uint32_t root = 0, functions = 0, run = 0, fire = 0, events = 0, slot = 0, button = 0;
};

} // namespace

TEST_F(Descriptors, TypesAndConstructorAttributes) {
    EXPECT_EQ(plugin.text(2, 5, functions), "group");
    EXPECT_EQ(plugin.text(2, 5, run), "function");
    EXPECT_EQ(plugin.word(2, 56, run, {textArg("id")}), 0xFFFFFFFFu);
    EXPECT_EQ(plugin.text(2, 5, events), "tree");
    EXPECT_EQ(attributeText(events, "Title"), "");
    EXPECT_EQ(plugin.word(2, 81, events, {textArg("Title")}), 0u);
    EXPECT_EQ(plugin.text(2, 5, slot), "null");
    EXPECT_EQ(attributeText(slot, "align"), "left");
    EXPECT_EQ(plugin.text(2, 5, button), "button");

    // The button's attributes, in order, with their kinds and bit 24.
    std::vector<std::string> names;
    for (uint32_t a = plugin.word(2, 75, button); a != 0; a = plugin.word(2, 78, button, {a})) {
        std::string line = plugin.text(4, 2, a) + "=";
        line += plugin.word(4, 18, a) ? "(empty)" : plugin.text(4, 7, a);
        line += plugin.word(4, 24, a) ? " 24" : "";
        names.push_back(line);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"text=Assign Function",
                                               "desc=", "display=Function Assignment",
                                               "plugin=(empty) 24", "list=(empty) 24"}));
}

TEST_F(Descriptors, AnnouncementsFiringAndAnswers) {
    // Firing: (1,207), (1,11) with H, then (2,2) to H with 321 and the button in A4-A5.
    command(fire, {0, 289, 0});
    ASSERT_EQ(summary(), (std::vector<std::string>{"1/207", "1/11", "2/2 code 321"}));
    EXPECT_EQ(plugin.callOuts[1].record.object, LoadedPlugin::kHostTarget);
    const CallOut& fired = plugin.callOuts[2];
    EXPECT_EQ(fired.record.object, LoadedPlugin::kHostTarget);
    EXPECT_EQ(fired.word(0), LoadedPlugin::kHostSource);
    EXPECT_EQ(fired.int64At(4), static_cast<int64_t>(static_cast<int32_t>(button)));
    EXPECT_EQ(fired.int64At(6), 0);
    EXPECT_EQ(fired.record.context, LoadedPlugin::kContext);

    // Command 1 with flag1 set: (1,11) on T, then 323 to T; no (1,207).
    const uint32_t target = 0x4242;
    EXPECT_EQ(command(button, {target, 1, 0}), 0u);
    ASSERT_EQ(summary(), (std::vector<std::string>{"1/11", "2/2 code 323"}));
    EXPECT_EQ(plugin.callOuts[0].record.object, target);
    EXPECT_EQ(plugin.callOuts[1].record.object, target);
    EXPECT_EQ(plugin.callOuts[1].int64At(4), static_cast<int64_t>(static_cast<int32_t>(button)));
    EXPECT_EQ(command(button, {target, 1, 1}), 0u); // w3 = 1: not code 1
    EXPECT_TRUE(plugin.callOuts.empty());
    plugin.call(2, 32, button, {0}); // flag1 clear
    EXPECT_EQ(command(button, {target, 1, 0}), 0u);
    EXPECT_TRUE(plugin.callOuts.empty());

    // "list" changed through the node announces; "text" does not; through the
    // value operations nothing is published at all.
    plugin.callOuts.clear();
    plugin.call(2, 61, button, {textArg("list"), 0, textArg("a,b")});
    EXPECT_EQ(summary(), (std::vector<std::string>{"1/207", "1/11", "2/2 code 322"}));
    plugin.callOuts.clear();
    plugin.call(2, 61, button, {textArg("text"), 0, textArg("t")});
    EXPECT_TRUE(plugin.callOuts.empty());
    uint32_t list = plugin.word(2, 79, button, {textArg("list")});
    plugin.call(4, 13, list, {textArg("c")});
    EXPECT_TRUE(plugin.callOuts.empty());

    // Signal 5 re-announces after forwarding.
    plugin.call(2, 110, root);
    EXPECT_EQ(summary(), (std::vector<std::string>{"1/207", "1/11", "2/2 code 322"}));
}

TEST_F(Descriptors, HostAddedAttributesLiveUntilSignal4) {
    uint32_t x = plugin.word(2, 84, button, {textArg("x"), 0, textArg("5")});
    ASSERT_NE(x, 0u);
    EXPECT_EQ(plugin.word(4, 19, x), 1u); // the text '5', not the number
    EXPECT_EQ(plugin.text(4, 7, x), "5");
    EXPECT_EQ(plugin.word(4, 5, x), 1u);
    uint32_t three = plugin.word(2, 69, button, {textArg("three"), 0, textArg(""), 0, 0});
    plugin.call(4, 6, three, {3});
    uint32_t two = plugin.word(2, 69, button, {textArg("two"), 0, textArg(""), 0, 0});
    plugin.call(4, 6, two, {2});
    EXPECT_EQ(plugin.word(2, 84, button, {0, 0, textArg("5")}), 0u);
    EXPECT_EQ(plugin.word(2, 84, button, {textArg(""), 0, textArg("5")}), 0u);
    EXPECT_EQ(plugin.word(2, 74, button), 8u);

    plugin.call(2, 109, root);
    EXPECT_EQ(plugin.word(2, 74, button), 6u);
    EXPECT_EQ(plugin.word(2, 67, button, {textArg("x")}), 0u);
    EXPECT_EQ(plugin.word(2, 67, button, {textArg("three")}), 0u);
    EXPECT_EQ(plugin.word(2, 67, button, {textArg("two")}), 1u);
    // The root cleared the identification's flag24 before forwarding signal 4.
    EXPECT_EQ(plugin.word(2, 43, plugin.word(1, 12)), 0u);
    plugin.call(2, 110, root);
    EXPECT_EQ(plugin.word(2, 43, plugin.word(1, 12)), 1u);
}

TEST_F(Descriptors, FunctionCommandsPassTheirWords) {
    command(run, {11, 289, 0, 44, 55, 66, 77});
    EXPECT_EQ(attributeText(run, "last"), "invoke 11 44 66");
    command(run, {12, 290, 0, 45, 0, 0, 0});
    EXPECT_EQ(attributeText(run, "last"), "290 12 45");
    command(run, {13, 289, 1, 46, 0, 0, 0}); // high word set: nothing
    command(run, {13, 291, 0, 46, 0, 0, 0});
    EXPECT_EQ(attributeText(run, "last"), "290 12 45");
    EXPECT_EQ(plugin.int64(2, 2, run, {1, 0, 289, 0}), 0);
}

TEST(NullNode, AttributeCheckKeepsOnlyKnownAlignments) {
    vNullNode node("n", nullptr, nullptr, nullptr);
    vValue* align = node.findAttribute("align");
    align->setText("Center");
    node.checkAttribute(align);
    EXPECT_STREQ(align->asText(), "left");
    align->setText("center");
    node.checkAttribute(align);
    EXPECT_STREQ(align->asText(), "center");
    align->setInt(5);
    node.checkAttribute(align);
    EXPECT_TRUE(align->isText());
    EXPECT_STREQ(align->asText(), "left");
    vValue* other = node.addAttributeString("Align", "middle", nullptr);
    node.checkAttribute(other);
    EXPECT_STREQ(other->asText(), "middle");
    align->setText("x");
    align->setHeaderBit(vValue::lockedBit, true);
    node.checkAttribute(align);
    EXPECT_STREQ(align->asText(), "x");
}
