// The plug-in interface through the real library boundary: the sample plug-in
// is loaded as a shared object and spoken to only through the record.
#include "fixtures/loadedPlugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const std::string kSample = std::string(KVQ_BIN_DIR) + "/sample-plugin.so";

struct Entry : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(plugin.loaded()) << plugin.error(); }
    void attachAndBuild() {
        plugin.attach();
        plugin.build();
        root = plugin.root();
        group = plugin.child(root, "Group");
        leafA = plugin.child(group, "Leaf A");
        leafB = plugin.child(group, "Leaf B");
        ASSERT_NE(leafB, 0u);
        plugin.callOuts.clear();
    }
    // Sends a flag setter with 0 to every node below `node`.
    void clearEverywhere(uint32_t node, int setter) {
        for (uint32_t c = plugin.word(2, 97, node); c != 0; c = plugin.word(2, 99, node, {c})) {
            plugin.call(2, setter, c, {0});
            clearEverywhere(c, setter);
        }
    }
    bool resultTailUntouched(const EntryMessage& m, int from) {
        for (int i = from; i < 16; ++i)
            if (m.result[i] != 0xAB) return false;
        return true;
    }
    LoadedPlugin plugin{kSample};
    uint32_t root = 0, group = 0, leafA = 0, leafB = 0;
};

uint32_t word(const EntryMessage& m, int at = 0) {
    uint32_t w;
    std::memcpy(&w, m.result + at, 4);
    return w;
}

} // namespace

TEST_F(Entry, ResultFormsWriteExactlyTheirBytes) {
    EntryMessage m = plugin.call(1, 30);
    EXPECT_EQ(word(m), 112u);
    EXPECT_TRUE(resultTailUntouched(m, 4));

    m = plugin.call(1, 7);
    EXPECT_NE(word(m), 0u);
    EXPECT_EQ(word(m), plugin.root()); // the plug-in object is the root
    EXPECT_TRUE(resultTailUntouched(m, 4));

    m = plugin.call(1, 6); // cleared: bytes 96-103 zero, 104-111 kept
    EXPECT_EQ(word(m), 0u);
    EXPECT_EQ(word(m, 4), 0u);
    EXPECT_TRUE(resultTailUntouched(m, 8));

    // Bytes 10-11 are ignored: only the 16-bit category counts.
    EntryMessage raw{};
    raw.category = 1;
    raw.reserved10 = 0xBEEF;
    raw.operation = 30;
    m = plugin.send(raw);
    EXPECT_EQ(word(m), 112u);

    // Unknown categories and operations: cleared, nothing else.
    for (uint32_t category : {0u, 5u, 6u, 8u, 0xFFFFu}) {
        m = plugin.call(category, 1, plugin.root());
        EXPECT_EQ(word(m), 0u) << category;
        EXPECT_EQ(word(m, 4), 0u);
        EXPECT_TRUE(resultTailUntouched(m, 8));
    }
    uint32_t r = plugin.root();
    for (int op : {113, -5, 0, 20, 21}) {
        m = plugin.call(2, op, r);
        EXPECT_EQ(word(m), 0u) << op;
        EXPECT_EQ(word(m, 4), 0u);
    }
    EXPECT_EQ(plugin.word(2, 3, 0), 0u); // null node
    EXPECT_EQ(plugin.word(4, 26, r), 0u);
    EXPECT_EQ(plugin.word(3, 21, r), 0u);
    for (int op : {0, 3, 4, 5, 8, 13, 29, 31, 299, 302, -1})
        EXPECT_EQ(plugin.word(1, op), 0u) << op;
    EXPECT_TRUE(plugin.callOuts.empty());
    EXPECT_EQ(plugin.text(1, 9), "Sample");
}

TEST_F(Entry, LifeCycleAttachBuildDetachAndGone) {
    EXPECT_EQ(plugin.word(1, 301), 0u);
    plugin.call(1, 300, 0x12345678);
    EXPECT_EQ(plugin.word(1, 301), 0x12345678u);

    uint32_t identification = plugin.word(1, 12);
    ASSERT_NE(identification, 0u);
    EXPECT_EQ(plugin.text(2, 5, identification), "info");
    EXPECT_EQ(plugin.word(2, 56, identification, {textArg("lib")}), 20060217u);
    EXPECT_EQ(plugin.word(2, 56, identification, {textArg("sdk")}), 20060217u);
    EXPECT_EQ(plugin.word(2, 82, identification, {textArg("lib")}), 1u);
    uint32_t r = plugin.root();
    EXPECT_EQ(plugin.text(2, 5, r), "root");
    EXPECT_EQ(plugin.word(2, 56, r, {textArg("id")}), 0xFFFFFFFFu);
    EXPECT_EQ(plugin.word(2, 27, r), 0x07000023u); // flag24, flag25, flag26 set, unlocked

    plugin.attach();
    // Setting a locked attribute through the node operations leaves it unchanged.
    plugin.call(2, 62, identification, {textArg("lib"), 0, 5});
    plugin.call(2, 60, identification, {textArg("sdk"), 0, textArg("6")});
    EXPECT_EQ(plugin.word(2, 56, identification, {textArg("lib")}), 20060217u);
    EXPECT_EQ(plugin.word(2, 56, identification, {textArg("sdk")}), 20060217u);

    plugin.build();
    EXPECT_EQ(plugin.word(2, 96, r), 4u);
    plugin.callOuts.clear();

    EXPECT_EQ(plugin.detach(), 1u);
    ASSERT_EQ(plugin.callOuts.size(), 1u); // exactly one unload notice
    const CallOut& notice = plugin.callOuts[0];
    EXPECT_EQ(notice.category(), 1u);
    EXPECT_EQ(notice.operation(), 2);
    EXPECT_EQ(notice.record.object, LoadedPlugin::kInstance);
    EXPECT_EQ(notice.record.context, LoadedPlugin::kContext);
    EXPECT_EQ(notice.record.reserved4, 0u);
    EXPECT_EQ(notice.record.reserved10, 0u);

    // Gone: everything answers 0 and nothing is sent.
    plugin.callOuts.clear();
    EXPECT_EQ(plugin.detach(), 0u);
    for (int op : {1, 7, 9, 11, 12})
        EXPECT_EQ(plugin.word(1, op), 0u) << op;
    plugin.call(1, 6);
    plugin.call(1, 10);
    EXPECT_TRUE(plugin.callOuts.empty());
}

TEST_F(Entry, NodeTextsValueAndFlagCodes) {
    attachAndBuild();
    EXPECT_EQ(plugin.text(2, 3, group), "Group");
    EXPECT_EQ(plugin.text(2, 5, group), "group");
    EXPECT_EQ(plugin.text(2, 6, group), "cat");
    EXPECT_EQ(plugin.word(2, 7, group), 0u);
    plugin.call(2, 8, group, {textArg("Label")});
    EXPECT_EQ(plugin.text(2, 7, group), "Label");
    plugin.call(2, 4, group, {textArg("Renamed")});
    EXPECT_EQ(plugin.text(2, 3, group), "Renamed");
    EXPECT_EQ(plugin.word(2, 90, group), root);

    EXPECT_EQ(plugin.text(2, 9, leafA), "7");
    EXPECT_EQ(plugin.word(2, 9, leafB), 0u);
    EXPECT_EQ(plugin.text(2, 10, leafB, {textArg("dflt")}), "dflt");
    EXPECT_EQ(plugin.word(2, 11, leafA), 7u);
    EXPECT_EQ(plugin.int64(2, 12, leafA), 7);
    EXPECT_EQ(plugin.text(2, 15, leafA, {textArg("2.5")}), "2.500000");
    EXPECT_EQ(plugin.word(2, 25, leafA), 1u);
    EXPECT_EQ(plugin.text(2, 16, leafA, {textArg("12")}), "12");
    EXPECT_EQ(plugin.word(2, 22, leafA), 1u);
    EXPECT_EQ(plugin.word(2, 17, leafA, {0xFFFFFFFF, 0xDEAD}), 0xFFFFFFFFu);
    EXPECT_EQ(plugin.word(2, 23, leafA), 1u);
    // 64-bit from A0 (low) and A1 (high): A1 = 0 keeps the value positive.
    EXPECT_EQ(plugin.int64(2, 18, leafA, {0xFFFFFFFF, 0}), 4294967295LL);
    EXPECT_EQ(plugin.word(2, 24, leafA), 1u);
    double d = -1.25;
    uint32_t dw[2];
    std::memcpy(dw, &d, 8);
    EntryMessage m = plugin.call(2, 19, leafA, {dw[0], dw[1]});
    double back;
    std::memcpy(&back, m.result, 8);
    EXPECT_EQ(back, -1.25);
    EXPECT_TRUE(resultTailUntouched(m, 8));
    plugin.call(2, 15, leafA, {textArg("{00112233-4455-6677-8899-AABBCCDDEEFF}")});
    EXPECT_EQ(plugin.word(2, 26, leafA), 1u);
    m = plugin.call(2, 14, leafA);
    EXPECT_EQ(word(m), 0x00112233u);

    // Flags: note the order of the triplets (bit 1 before bit 0, 26 before 25).
    EXPECT_EQ(plugin.word(2, 27, leafA), 0x07000023u);
    EXPECT_EQ(plugin.word(2, 28, leafA), 0x07u);
    plugin.call(2, 30, leafA, {0x1F});
    EXPECT_EQ(plugin.word(2, 29, leafA), 15u);
    struct Triplet {
        int get, set, any;
        uint32_t bit;
    };
    for (Triplet t : {Triplet{31, 32, 33, 0x2}, Triplet{34, 35, 36, 0x1}, Triplet{37, 38, 39, 0x4},
                      Triplet{40, 41, 42, 0x8}, Triplet{43, 44, 45, 0x01000000},
                      Triplet{46, 47, 48, 0x04000000}, Triplet{49, 50, 51, 0x02000000}}) {
        clearEverywhere(root, t.set);
        EXPECT_EQ(plugin.word(2, t.get, leafA), 0u) << t.get;
        EXPECT_EQ(plugin.word(2, 27, leafA) & t.bit, 0u) << t.set;
        EXPECT_EQ(plugin.word(2, t.any, root, {0}), 0u) << t.any;
        EXPECT_EQ(plugin.word(2, t.any, root, {1}), 0u) << t.any;
        plugin.call(2, t.set, leafA, {5});
        EXPECT_EQ(plugin.word(2, t.get, leafA), 1u) << t.get;
        EXPECT_EQ(plugin.word(2, t.any, root, {0}), 0u) << t.any; // a grandchild only
        EXPECT_EQ(plugin.word(2, t.any, root, {1}), 1u) << t.any;
        EXPECT_EQ(plugin.word(2, t.any, group, {0}), 1u) << t.any;
    }
    EXPECT_EQ(plugin.word(2, 52, leafA), 0u);
    EXPECT_EQ(plugin.word(2, 53, root, {1}), 0u);
    EXPECT_EQ(plugin.word(2, 73, leafA), 1u);
}

TEST_F(Entry, AttributeCodesAndValueOperations) {
    attachAndBuild();
    EXPECT_EQ(plugin.text(2, 54, group, {textArg("text")}), "hello");
    EXPECT_EQ(plugin.text(2, 55, group, {textArg("none"), 0, textArg("dflt")}), "dflt");
    EXPECT_EQ(plugin.word(2, 56, group, {textArg("id")}), 42u);
    EXPECT_EQ(plugin.int64(2, 57, group, {textArg("id")}), 42);
    EXPECT_EQ(plugin.word(2, 67, group, {textArg("id")}), 1u);
    EXPECT_EQ(plugin.word(2, 67, group, {textArg("none")}), 0u);
    EXPECT_EQ(plugin.word(2, 67, group, {0}), 0u); // a null name is a missing attribute

    // 69-72 return handles that category 4 accepts; A4 = 0 appends.
    uint32_t s = plugin.word(2, 69, group, {textArg("s"), 0, textArg("12"), 0, 0});
    uint32_t i = plugin.word(2, 70, group, {textArg("i"), 0, 99, 0, 0});
    uint32_t s24 = plugin.word(2, 71, group, {textArg("s24"), 0, textArg("x"), 0, s});
    uint32_t i24 = plugin.word(2, 72, group, {textArg("i24"), 0, 5, 0, 0});
    ASSERT_NE(s * i * s24 * i24, 0u);
    EXPECT_EQ(plugin.word(2, 74, group), 6u);
    EXPECT_EQ(plugin.word(2, 76, group), i24);
    EXPECT_EQ(plugin.word(2, 77, group, {s}), s24); // s24 went before s
    EXPECT_EQ(plugin.word(2, 78, group, {s24}), s);
    EXPECT_EQ(plugin.word(2, 79, group, {textArg("i")}), i);
    EXPECT_EQ(plugin.word(4, 19, s), 1u); // stored unparsed: a text
    EXPECT_EQ(plugin.word(4, 20, i), 1u);
    EXPECT_EQ(plugin.word(4, 24, s), 1u);
    EXPECT_EQ(plugin.word(4, 24, s24), 0u);
    EXPECT_EQ(plugin.word(2, 81, group, {textArg("i24")}), 0u);
    plugin.call(2, 83, group, {textArg("i24"), 0, 1});
    EXPECT_EQ(plugin.word(2, 81, group, {textArg("i24")}), 1u);
    EXPECT_EQ(plugin.word(2, 80, group, {textArg("i24")}), 0x07000003u);
    EXPECT_EQ(plugin.word(2, 66, group, {i}), 1u);
    EXPECT_EQ(plugin.word(2, 66, leafA, {i}), 0u);
    EXPECT_EQ(plugin.word(2, 68, leafB), 0u);

    // Writers through codes 60-65.
    plugin.call(2, 60, group, {textArg("s"), 0, textArg("1e3")});
    EXPECT_EQ(plugin.word(4, 20, s), 1u);
    plugin.call(2, 61, group, {textArg("s"), 0, textArg("1e3")});
    EXPECT_EQ(plugin.text(4, 7, s), "1e3");
    plugin.call(2, 62, group, {textArg("i"), 0, 0xFFFFFFFE});
    EXPECT_EQ(plugin.word(4, 8, i), 0xFFFFFFFEu);
    plugin.call(2, 63, group, {textArg("i"), 0xDEAD, 1, 2});
    EXPECT_EQ(plugin.int64(4, 9, i), (int64_t(2) << 32) | 1);
    double half = 0.5;
    uint32_t hw[2];
    std::memcpy(hw, &half, 8);
    plugin.call(2, 64, group, {textArg("i"), 0, hw[0], hw[1]});
    EXPECT_EQ(plugin.text(4, 7, i), "0.500000");
    plugin.call(2, 65, group, {textArg("i"), 0, 0x33221100, 0x77665544, 0xBBAA9988, 0xFFEEDDCC});
    EXPECT_EQ(plugin.text(4, 7, i), "{33221100-5544-7766-8899-AABBCCDDEEFF}");
    EntryMessage g = plugin.call(2, 59, group, {textArg("i")});
    EXPECT_EQ(word(g, 12), 0xFFEEDDCCu);
    EXPECT_EQ(plugin.word(2, 58, group, {textArg("id")}), 0u); // low word of 42.0
    EXPECT_EQ(plugin.int64(2, 58, group, {textArg("id")}) >> 32, 0x40450000);

    // Category 4 on its own: name, header, tag, writes, kinds, lock.
    EXPECT_EQ(plugin.word(4, 1, i, {textArg("i")}), 1u);
    EXPECT_EQ(plugin.word(4, 1, i, {textArg("0.500000")}), 0u); // the name, not the text
    EXPECT_EQ(plugin.word(4, 1, i, {0}), 0u);
    EXPECT_EQ(plugin.text(4, 2, i), "i");
    plugin.call(4, 6, i, {0x1F});
    EXPECT_EQ(plugin.word(4, 5, i), 15u);
    EXPECT_EQ(plugin.word(4, 4, i), 0xF7u);
    EXPECT_EQ(plugin.word(4, 3, i) >> 24, 0xF7u);
    plugin.call(4, 12, i, {textArg("toggle")});
    EXPECT_EQ(plugin.text(4, 7, i), "toggle");
    plugin.call(4, 13, i, {textArg("42")});
    EXPECT_EQ(plugin.word(4, 19, i), 1u);
    plugin.call(4, 14, i, {7});
    EXPECT_EQ(plugin.word(4, 8, i), 7u);
    plugin.call(4, 15, i, {0, 1});
    EXPECT_EQ(plugin.word(4, 21, i), 1u);
    plugin.call(4, 16, i, {hw[0], hw[1]});
    EXPECT_EQ(plugin.word(4, 22, i), 1u);
    EntryMessage r = plugin.call(4, 10, i);
    double got;
    std::memcpy(&got, r.result, 8);
    EXPECT_EQ(got, 0.5);
    plugin.call(4, 17, i, {0, 0, 1, 2, 3, 4});
    EXPECT_EQ(plugin.word(4, 23, i), 1u);
    EXPECT_EQ(word(plugin.call(4, 11, i), 4), 2u);
    EXPECT_EQ(plugin.word(4, 18, i), 0u);
    EXPECT_EQ(plugin.word(4, 25, i), 0u);
    uint32_t identification = plugin.word(1, 12);
    uint32_t lib = plugin.word(2, 79, identification, {textArg("lib")});
    EXPECT_EQ(plugin.word(4, 25, lib), 1u);
    plugin.call(4, 14, lib, {1});
    EXPECT_EQ(plugin.word(4, 8, lib), 20060217u);

    // Removal and moves.
    plugin.call(2, 89, group, {textArg("i24"), 0, textArg("id")});
    EXPECT_EQ(plugin.word(2, 75, group), i24);
    plugin.call(2, 88, group, {i24, 0, 0});
    EXPECT_EQ(plugin.word(2, 76, group), i24);
    plugin.call(2, 85, group, {i24});
    plugin.call(2, 86, group, {textArg("s")});
    EXPECT_EQ(plugin.word(2, 74, group), 4u);
    plugin.call(2, 87, group);
    EXPECT_EQ(plugin.word(2, 74, group), 0u);
    EXPECT_EQ(plugin.word(2, 84, group, {textArg("x"), 0, textArg("1")}), 0u); // base refuses
}

TEST_F(Entry, ChildCodesAndTreeSignals) {
    attachAndBuild();
    EXPECT_EQ(plugin.word(2, 91, root, {textArg("Group"), 0, textArg("*"), 0, textArg("cat")}),
              group);
    EXPECT_EQ(plugin.word(2, 91, root, {textArg("Group"), 0, textArg("group"), 0, textArg("x")}),
              0u);
    EXPECT_EQ(plugin.word(2, 92, root, {42, 0, 0}), group);
    EXPECT_EQ(plugin.word(2, 92, root, {0xFFFFFFFF, 0xFFFFFFFF, 0}), 0u);
    EXPECT_EQ(plugin.word(2, 93, root, {leafA, 0, 0}), 0u);
    EXPECT_EQ(plugin.word(2, 93, root, {leafA, 0, 1}), 1u);
    EXPECT_EQ(plugin.word(2, 95, group), 1u);
    EXPECT_EQ(plugin.word(2, 96, group), 2u);
    EXPECT_EQ(plugin.word(2, 97, group), leafA);
    EXPECT_EQ(plugin.word(2, 98, group), leafB);
    EXPECT_EQ(plugin.word(2, 100, group, {leafB}), leafA); // cursor now on Leaf A
    EXPECT_EQ(plugin.word(2, 94, group, {leafA}), 1u);
    EXPECT_EQ(plugin.word(2, 101, group, {1, 0, 2, 0, 3}), 0u);

    plugin.call(2, 104, leafA); // moveDown
    EXPECT_EQ(plugin.word(2, 97, group), leafB);
    plugin.call(2, 103, leafA); // moveUp
    EXPECT_EQ(plugin.word(2, 97, group), leafA);
    plugin.call(2, 106, leafA); // moveToEnd
    EXPECT_EQ(plugin.word(2, 98, group), leafA);
    plugin.call(2, 105, leafA); // moveToFront
    EXPECT_EQ(plugin.word(2, 97, group), leafA);
    plugin.call(2, 107, group, {leafA, 0, 0});
    EXPECT_EQ(plugin.word(2, 98, group), leafA);

    for (int op : {108, 109, 110, 111, 112}) {
        EntryMessage m = plugin.call(2, op, root);
        EXPECT_EQ(word(m), 0u);
    }
    // The root brackets signals 4 and 5 around the identification's flag24.
    uint32_t identification = plugin.word(1, 12);
    EXPECT_EQ(plugin.word(2, 43, identification), 1u);

    plugin.callOuts.clear();  // the sample's button announced itself on signal 5
    plugin.call(2, 1, leafB); // destroy
    EXPECT_EQ(plugin.word(2, 96, group), 1u);
    plugin.call(2, 102, group);
    EXPECT_EQ(plugin.word(2, 96, group), 0u);
    EXPECT_TRUE(plugin.callOuts.empty());
    EXPECT_EQ(plugin.detach(), 1u);
}

// The host may destroy any node it has a handle of, the root's "Identification"
// included, alone or with all the root's children; the root's tree signals and
// the plug-in's end must not reach for it afterwards.
TEST_F(Entry, TreeSignalsAndDetachAfterTheHostDestroyedTheIdentification) {
    attachAndBuild();
    uint32_t identification = plugin.word(1, 12);
    ASSERT_NE(identification, 0u);
    uint32_t children = plugin.word(2, 96, root);
    plugin.call(2, 1, identification);
    EXPECT_EQ(plugin.word(1, 12), 0u);
    plugin.call(2, 109, root);
    plugin.call(2, 110, root);
    EXPECT_EQ(plugin.word(2, 96, root), children - 1);
    EXPECT_EQ(plugin.detach(), 1u);
}

TEST_F(Entry, TreeSignalsAfterTheHostDeletedTheRootsChildren) {
    attachAndBuild();
    plugin.call(2, 102, root);
    EXPECT_EQ(plugin.word(1, 12), 0u);
    EXPECT_EQ(plugin.word(2, 96, root), 0u);
    plugin.call(2, 109, root);
    plugin.call(2, 110, root);
    EXPECT_EQ(plugin.detach(), 1u);
}

TEST_F(Entry, CommandSeesSevenWordsWithoutA1) {
    attachAndBuild();
    EntryMessage m = plugin.call(2, 2, leafA, {1, 0xDEAD, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(word(m), 0u);
    EXPECT_EQ(word(m, 4), 0u);
    EXPECT_TRUE(resultTailUntouched(m, 8));
}

TEST_F(Entry, ObserverProxiesForwardEveryEventWithHostNumbers) {
    attachAndBuild();
    const uint32_t hostObserver = 0x5151;
    uint32_t proxy = plugin.word(3, -1, group, {hostObserver});
    ASSERT_NE(proxy, 0u);
    uint32_t lonely = plugin.word(3, -1, 0, {0x6161}); // null node: still created
    ASSERT_NE(lonely, 0u);

    plugin.call(2, 4, group, {textArg("N")});
    plugin.call(2, 8, group, {textArg("L")});
    uint32_t a = plugin.word(2, 69, group, {textArg("a"), 0, textArg("t"), 0, 0});
    plugin.call(2, 62, group, {textArg("id"), 0, 1});
    plugin.call(2, 88, group, {a, 0, 0});
    plugin.call(2, 85, group, {a});
    plugin.call(2, 107, group, {leafB, 0, leafA});
    plugin.call(2, 35, group, {0});
    plugin.call(2, 32, group, {0});
    plugin.call(2, 38, group, {1});
    plugin.call(2, 41, group, {1});
    plugin.call(2, 44, group, {0});
    plugin.call(2, 47, group, {0});
    plugin.call(2, 50, group, {0});
    plugin.call(2, 1, leafB);

    std::vector<int> ops;
    for (const CallOut& c : plugin.callOuts) {
        EXPECT_EQ(c.category(), 3u);
        EXPECT_EQ(c.record.object, hostObserver);
        EXPECT_EQ(c.record.context, LoadedPlugin::kContext);
        ops.push_back(c.operation());
    }
    EXPECT_EQ(ops, (std::vector<int>{3, 4, 6, 8, 9, 7, 12, 13, 14, 15, 16, 17, 18, 19, 11}));
    EXPECT_EQ(plugin.callOuts[0].text, "N");
    EXPECT_EQ(plugin.callOuts[1].text, "L");
    EXPECT_EQ(plugin.callOuts[2].word(0), a);
    EXPECT_EQ(plugin.callOuts[2].word(2), 0u);
    EXPECT_EQ(plugin.callOuts[6].word(0), leafB);
    EXPECT_EQ(plugin.callOuts[6].word(2), leafA);
    EXPECT_EQ(plugin.callOuts[10].word(0), 1u);
    EXPECT_EQ(plugin.callOuts[14].word(0), leafB);

    // A call-out with fewer fields leaves the others as the previous one did.
    plugin.callOuts.clear();
    plugin.call(2, 4, group, {textArg("M")});
    EXPECT_EQ(plugin.callOuts.at(0).word(2), leafA);

    // The host drives the proxy with the same numbers: 8 is attributeChanged.
    plugin.callOuts.clear();
    plugin.call(3, 8, proxy, {a});
    plugin.call(3, 9, proxy, {a, 0, 0x77});
    ASSERT_EQ(plugin.callOuts.size(), 2u);
    EXPECT_EQ(plugin.callOuts[0].operation(), 8);
    EXPECT_EQ(plugin.callOuts[1].operation(), 9);
    EXPECT_EQ(plugin.callOuts[1].word(2), 0x77u);

    // The node goes: (3,2), then the proxy lives on until the host destroys it.
    plugin.callOuts.clear();
    plugin.call(2, 1, group);
    ASSERT_FALSE(plugin.callOuts.empty());
    EXPECT_EQ(plugin.callOuts.back().operation(), 2);
    plugin.callOuts.clear();
    EntryMessage m = plugin.call(3, 1, proxy);
    EXPECT_EQ(word(m), 0u);
    plugin.call(3, 1, lonely);
    EXPECT_TRUE(plugin.callOuts.empty());
    EXPECT_EQ(plugin.word(3, 5, 0, {1}), 0u);
    EXPECT_EQ(plugin.detach(), 1u);
}

TEST_F(Entry, ExtensionOperationsWithANullObjectCallNothing) {
    EntryMessage m = plugin.call(7, 3, 0, {1, 2, 3});
    EXPECT_EQ(word(m), 0u);
    EXPECT_EQ(word(m, 4), 0u);
    EXPECT_TRUE(resultTailUntouched(m, 8));
}
