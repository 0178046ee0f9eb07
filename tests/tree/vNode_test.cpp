// The node model through its operations, observed with a recording observer.
#include "fixtures/heapAccount.h"
#include "fixtures/recordingObserver.h"

#include "entry/library.h"
#include "tree/vNode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using Log = std::vector<std::string>;

namespace {

// A node that announces its own construction, to see when the parent learns of it.
struct LoggingNode : vNode {
    LoggingNode(const char* name, vNode* parent, Log* log, vNode* before = nullptr)
        : vNode(name, "test", parent, before, nullptr), log(log) {
        log->push_back("constructed(" + std::string(name) + ")");
    }
    Log* log;
};

// A node that destroys itself on treeSignal1.
struct SelfDeletingNode : vNode {
    SelfDeletingNode(const char* name, vNode* parent)
        : vNode(name, "test", parent, nullptr, nullptr) {}
    void treeSignal1() override { delete this; }
};

struct Tree : ::testing::Test {
    void SetUp() override { ASSERT_EQ(rootNode, nullptr); }
    Log log;
};

} // namespace

TEST_F(Tree, ConstructionAttachesAndInheritsTheParentsTopByte) {
    vNode parent("parent", "group", nullptr, nullptr, "cat");
    EXPECT_EQ(parent.getFlags(), 0x00000023u);
    EXPECT_EQ(parent.getParent(), nullptr);
    EXPECT_STREQ(parent.getType(), "group");
    EXPECT_STREQ(parent.getCategory(), "cat");
    EXPECT_EQ(parent.getLabel(), nullptr);
    EXPECT_TRUE(parent.ownValue()->isEmpty());

    parent.setFlag24(1);
    parent.setFlag25(1);
    parent.setFlag26(0);
    parent.setTag(1); // top byte 0x13
    parent.setFlag0(1);
    parent.setFlag2(1); // low bits are not inherited
    auto* observer = new RecordingObserver(&parent, &log);
    auto* a = new LoggingNode("a", &parent, &log);
    EXPECT_EQ(a->getFlags(), 0x13000023u);
    EXPECT_EQ(a->getParent(), &parent);
    // The parent hears of the child before the derived constructor has run.
    EXPECT_EQ(log, (Log{"childAdded(a,null)", "constructed(a)"}));

    log.clear();
    auto* b = new LoggingNode("b", &parent, &log, a);
    EXPECT_EQ(parent.firstChild(), b);
    EXPECT_EQ(log, (Log{"childAdded(b,a)", "constructed(b)"}));

    // A null parent means the current root node.
    rootNode = &parent;
    vNode* c = new vNode("c", "test", nullptr, nullptr, nullptr);
    rootNode = nullptr;
    EXPECT_EQ(c->getParent(), &parent);
    EXPECT_EQ(parent.lastChild(), c);
    EXPECT_EQ(parent.childCount(), 3);
    (void)observer;
}

TEST_F(Tree, DestructionOrderReachesEveryObserverOnceBeforeTheSubtreeGoes) {
    auto* grand = new vNode("grand", "test", nullptr, nullptr, nullptr);
    auto* parent = new vNode("parent", "test", grand, nullptr, nullptr);
    auto* first = new vNode("first", "test", parent, nullptr, nullptr);
    auto* second = new vNode("second", "test", parent, nullptr, nullptr);
    parent->addAttributeInt("id", 7, nullptr);
    new RecordingObserver(grand, &log, "grand");
    new RecordingObserver(parent, &log, "p1");
    new RecordingObserver(parent, &log, "p2");
    new RecordingObserver(first, &log, "first");
    new RecordingObserver(second, &log, "second");

    delete parent;
    EXPECT_EQ(log, (Log{"grand:childRemoved(parent)", "p1:nodeDestroyed()", "p2:nodeDestroyed()",
                        "first:nodeDestroyed()", "second:nodeDestroyed()"}));
    EXPECT_EQ(grand->childCount(), 0);
    EXPECT_EQ(grand->observerCount(), 1);
    delete grand; // the last observer deletes itself; LeakSanitizer checks the rest
}

TEST_F(Tree, ObserverThatOutlivesItsNodeIsTakenOffTheList) {
    auto* node = new vNode("n", "test", nullptr, nullptr, nullptr);
    auto* survivor = new RecordingObserver(node, &log);
    survivor->surviveDestruction();
    delete node;
    EXPECT_TRUE(survivor->destroyedFlag());
    EXPECT_EQ(survivor->observedNode(), nullptr);
    delete survivor; // touches no node
}

TEST_F(Tree, NotificationWalkSurvivesObserversDeletingThemselves) {
    vNode node("n", "test", nullptr, nullptr, nullptr);
    auto* first = new RecordingObserver(&node, &log, "1");
    new RecordingObserver(&node, &log, "2");
    first->onEvent("valueChanged", [first] { delete first; });
    node.setValueInt(5);
    EXPECT_EQ(log, (Log{"1:valueChanged(5)", "2:valueChanged(5)"}));
    EXPECT_EQ(node.observerCount(), 1);
}

TEST_F(Tree, NamesAndLabels) {
    vNode node("n", "test", nullptr, nullptr, nullptr);
    new RecordingObserver(&node, &log);
    node.setName(node.getName()); // the very pointer: nothing
    EXPECT_TRUE(log.empty());
    char copy[] = "n";
    node.setName(copy);
    EXPECT_NE(node.getName(), copy);
    node.setName(nullptr);
    EXPECT_EQ(node.getName(), nullptr);
    node.setLabel("L");
    node.setLabel(node.getLabel()); // a label announces even the same pointer
    EXPECT_EQ(log,
              (Log{"nameChanged(n)", "nameChanged(null)", "labelChanged(L)", "labelChanged(L)"}));
    // A name that is a suffix of the stored one is copied out before the old buffer goes.
    node.setName("prefix-suffix");
    node.setName(node.getName() + 7);
    EXPECT_STREQ(node.getName(), "suffix");
}

TEST_F(Tree, OwnValueWritersCheckAndPublishEvenWhenTheValueRefuses) {
    struct Checking : vNode {
        Checking(Log* l) : vNode("v", "test", nullptr, nullptr, nullptr), log(l) {}
        void checkValue(vValue* v) override {
            log->push_back("check(" + std::string(v->asText()) + ")");
        }
        Log* log;
    } node(&log);
    new RecordingObserver(&node, &log);
    EXPECT_STREQ(node.setValueFromText("12"), "12");
    EXPECT_TRUE(node.ownValue()->isInt32());
    EXPECT_STREQ(node.setValueString("12"), "12");
    EXPECT_TRUE(node.ownValue()->isText());
    EXPECT_EQ(node.setValueInt64(int64_t(1) << 40), int64_t(1) << 40);
    EXPECT_DOUBLE_EQ(node.setValueDouble(2.5), 2.5);
    EXPECT_EQ(node.setValueInt(-3), -3);
    EXPECT_EQ(log, (Log{"check(12)", "valueChanged(12)", "check(12)", "valueChanged(12)",
                        "check(1099511627776)", "valueChanged(1099511627776)", "check(2.500000)",
                        "valueChanged(2.500000)", "check(-3)", "valueChanged(-3)"}));
    EXPECT_STREQ(node.valueTextOr("x"), "-3");
    vGuid zero{};
    vGuid g = node.valueGuid();
    EXPECT_EQ(std::memcmp(&g, &zero, sizeof g), 0);

    log.clear();
    node.ownValue()->setHeaderBit(vValue::lockedBit, true);
    EXPECT_EQ(node.setValueInt(9), -3);
    EXPECT_EQ(log, (Log{"check(-3)", "valueChanged(-3)"}));
}

TEST_F(Tree, LockedNodeRefusesEveryChangeButTheTag) {
    vNode node("n", "test", nullptr, nullptr, nullptr);
    auto* child = new vNode("c", "test", &node, nullptr, nullptr);
    new vNode("d", "test", &node, nullptr, nullptr);
    vValue* attribute = node.addAttributeInt("a", 1, nullptr);
    node.addAttributeInt("b", 2, nullptr);
    new RecordingObserver(&node, &log);
    node.setLocked(1);
    EXPECT_EQ(log, (Log{"lockedChanged(1)"}));
    log.clear();

    node.setName("x");
    node.setLabel("x");
    EXPECT_EQ(node.setValueFromText("1"), nullptr);
    EXPECT_EQ(node.setValueString("1"), nullptr);
    EXPECT_EQ(node.setValueInt(1), 0);
    EXPECT_EQ(node.setValueInt64(1), 0);
    EXPECT_EQ(node.setValueDouble(1), 0.0);
    node.setAttributeInt("a", 5);
    node.setAttributeFromText("a", "5");
    node.setAttributeString("a", "5");
    node.setAttributeInt64("a", 5);
    node.setAttributeDouble("a", 5);
    node.setAttributeGuid("a", vGuid{1, 2, 3, {4}});
    node.setAttributeFlag24("a", 1);
    EXPECT_EQ(node.addAttributeString("n", "t", nullptr), nullptr);
    EXPECT_EQ(node.addAttributeInt("n", 1, nullptr), nullptr);
    EXPECT_EQ(node.addAttributeStringClear24("n", "t", nullptr), nullptr);
    EXPECT_EQ(node.addAttributeIntClear24("n", 1, nullptr), nullptr);
    node.removeAttribute(attribute);
    node.removeAttributeByName("b");
    node.removeAllAttributes();
    node.moveAttribute(attribute, nullptr);
    node.moveChild(child, nullptr);
    node.deleteChildren();
    child->moveToEnd(); // the parent is locked
    EXPECT_EQ(node.setActive(1), node.getFlags());
    EXPECT_EQ(node.setFlag24(1), node.getFlags());

    EXPECT_TRUE(log.empty());
    EXPECT_STREQ(node.getName(), "n");
    EXPECT_EQ(node.attributeInt("a"), 1);
    EXPECT_EQ(node.attributeCount(), 2);
    EXPECT_EQ(node.childCount(), 2);
    EXPECT_EQ(node.firstChild(), child);
    EXPECT_EQ(node.isActive(), 0);

    node.setTag(0x1F);
    EXPECT_EQ(node.getTag(), 15u);
    EXPECT_EQ(node.getTopByte(), 0xF8u);
    node.setLocked(0); // unlocking needs no unlocked node
    EXPECT_EQ(node.isLocked(), 0);
}

TEST_F(Tree, FlagSettersPublishOnlyRealChangesAndSubtreeTests) {
    vNode node("n", "test", nullptr, nullptr, nullptr);
    auto* child = new vNode("c", "test", &node, nullptr, nullptr);
    auto* grandchild = new vNode("g", "test", child, nullptr, nullptr);
    new RecordingObserver(&node, &log);
    uint32_t before = node.getFlags();
    EXPECT_EQ(node.setFlag1(1), before); // already set
    EXPECT_TRUE(log.empty());
    node.setFlag0(0);
    node.setFlag1(0);
    node.setFlag2(7);
    node.setActive(1);
    node.setFlag24(1);
    node.setFlag26(1);
    node.setFlag25(1);
    EXPECT_EQ(log, (Log{"flag0Changed(0)", "flag1Changed(0)", "flag2Changed(1)", "activeChanged(1)",
                        "flag24Changed(1)", "flag26Changed(1)", "flag25Changed(1)"}));
    EXPECT_EQ(node.getFlags(), 0x0600002Cu | 0x01000000u);
    EXPECT_EQ(node.getFlag5(), 1);

    grandchild->setActive(1);
    EXPECT_EQ(node.anyChildActive(0), 0);
    EXPECT_EQ(node.anyChildActive(1), 1);
    EXPECT_EQ(node.anyChildFlag1(0), 1);
    EXPECT_EQ(node.anyChildFlag2(1), 0);
    grandchild->setLocked(1);
    EXPECT_EQ(node.anyChildLocked(0), 0);
    EXPECT_EQ(node.anyChildLocked(1), 1);
}

TEST_F(Tree, AttributesByNameFollowTheCursorRule) {
    vNode node("n", "test", nullptr, nullptr, nullptr);
    node.setFlag24(1);
    node.setFlag26(1);
    new RecordingObserver(&node, &log);
    vValue* first = node.addAttributeInt("x", 1, nullptr);
    vValue* second = node.addAttributeString("x", "two", nullptr);
    EXPECT_EQ(node.attributeCount(), 2);
    EXPECT_EQ(first->header(), 0x05000003u); // bits 24 and 26 from the node, tag 0
    // The newest is under the cursor, so it wins; a walk from the front then
    // leaves the cursor past the first match.
    EXPECT_EQ(node.findAttribute("x"), second);
    node.nextAttribute(first); // cursor on the second again
    EXPECT_STREQ(node.attributeText("x"), "two");
    node.previousAttribute(second); // cursor on the first
    EXPECT_EQ(node.attributeInt("x"), 1);
    node.removeAttributeByName("x");
    EXPECT_EQ(node.attributeCount(), 1);
    EXPECT_EQ(node.firstAttribute(), second);
    EXPECT_EQ(log,
              (Log{"attributeAdded(x,null)", "attributeAdded(x,null)", "attributeRemoved(x)"}));

    log.clear();
    node.setAttributeInt("missing", 3); // writers never create
    EXPECT_FALSE(node.hasAttribute("missing"));
    EXPECT_EQ(node.attributeTextOr("missing", "dflt"), std::string("dflt"));
    EXPECT_EQ(node.attributeFlags("missing"), 0u);
    EXPECT_TRUE(log.empty());

    // A null name is a missing attribute everywhere.
    EXPECT_EQ(node.findAttribute(nullptr), nullptr);
    EXPECT_EQ(node.attributeInt(nullptr), 0);
    node.setAttributeInt(nullptr, 1);
    node.removeAttributeByName(nullptr);
    node.lockAttribute(nullptr, 1);
    EXPECT_EQ(node.addAttributeInt(nullptr, 1, nullptr), nullptr);
    EXPECT_EQ(node.addAttributeInt("", 1, nullptr), nullptr);
    EXPECT_TRUE(log.empty());

    // The attribute's own lock refuses the store but the change is still published.
    node.lockAttribute("x", 1);
    EXPECT_EQ(node.attributeLocked("x"), 1);
    node.setAttributeInt("x", 9);
    EXPECT_STREQ(node.attributeText("x"), "two");
    EXPECT_EQ(log, (Log{"attributeChanged(x)"}));
    node.lockAttribute("x", 0);
    node.setAttributeFromText("x", "9");
    EXPECT_EQ(node.attributeInt64("x"), 9);
    node.setAttributeDouble("x", 0.5);
    EXPECT_DOUBLE_EQ(node.attributeDouble("x"), 0.5);
    vGuid g{0x33221100, 0x5544, 0x7766, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
    node.setAttributeGuid("x", g);
    vGuid back = node.attributeGuid("x");
    EXPECT_EQ(std::memcmp(&back, &g, sizeof g), 0);

    vValue* cleared = node.addAttributeIntClear24("c", 1, nullptr);
    EXPECT_EQ(cleared->header() & vValue::flag24Bit, 0u);
    EXPECT_EQ(node.attributeFlag24("c"), 0);
    node.setAttributeFlag24("c", 1);
    EXPECT_EQ(node.attributeFlag24("c"), 1);
    vValue* text =
        node.addAttributeStringClear24("t", nullptr, first == nullptr ? nullptr : cleared);
    EXPECT_TRUE(text->isEmpty()); // a null text leaves the attribute empty
    EXPECT_EQ(node.nextAttribute(text), cleared);
}

TEST_F(Tree, AttributeMovesAndForeignHandles) {
    vNode node("n", "test", nullptr, nullptr, nullptr);
    vNode other("o", "test", nullptr, nullptr, nullptr);
    vValue* a = node.addAttributeInt("a", 1, nullptr);
    vValue* b = node.addAttributeInt("b", 2, nullptr);
    vValue* c = node.addAttributeInt("c", 3, nullptr);
    vValue* foreign = other.addAttributeInt("f", 4, nullptr);
    new RecordingObserver(&node, &log);

    node.moveAttributeByName("c", "a");
    EXPECT_EQ(node.firstAttribute(), c);
    node.moveAttributeByName("c", "nothing"); // to the end
    EXPECT_EQ(node.lastAttribute(), c);
    node.moveAttributeByName("nothing", "a"); // nothing
    node.removeAttribute(foreign);
    node.moveAttribute(foreign, a); // not in the list: no change, still announced
    EXPECT_EQ(node.containsAttribute(foreign), 0);
    EXPECT_EQ(node.containsAttribute(b), 1);
    EXPECT_EQ(node.attributeCount(), 3);
    EXPECT_EQ(other.attributeCount(), 1);
    EXPECT_EQ(log, (Log{"attributeMoved(c,a)", "attributeMoved(c,null)", "attributeMoved(f,a)"}));

    log.clear();
    node.removeAllAttributes();
    EXPECT_EQ(log, (Log{"attributeRemoved(a)", "attributeRemoved(b)", "attributeRemoved(c)"}));
    EXPECT_EQ(node.hasAttributes(), 0);
}

TEST_F(Tree, ChildMovesAnnounceEvenWithoutChange) {
    vNode parent("p", "test", nullptr, nullptr, nullptr);
    auto* a = new vNode("a", "test", &parent, nullptr, nullptr);
    auto* b = new vNode("b", "test", &parent, nullptr, nullptr);
    auto* c = new vNode("c", "test", &parent, nullptr, nullptr);
    new RecordingObserver(&parent, &log);
    auto order = [&] {
        std::string s;
        for (vNode* n = parent.firstChild(); n != nullptr; n = parent.nextChild(n))
            s += nameOf(n);
        return s;
    };

    a->moveToFront();
    EXPECT_EQ(order(), "abc");
    b->moveDown(); // next-to-last goes to the end
    EXPECT_EQ(order(), "acb");
    b->moveDown(); // the last stays at the end
    EXPECT_EQ(order(), "acb");
    b->moveUp();
    EXPECT_EQ(order(), "abc");
    a->moveUp(); // first: nothing
    c->moveToFront();
    EXPECT_EQ(order(), "cab");
    c->moveToEnd();
    EXPECT_EQ(order(), "abc");
    EXPECT_EQ(log, (Log{"childMoved(a,a)", "childMoved(b,null)", "childMoved(b,null)",
                        "childMoved(b,c)", "childMoved(c,a)", "childMoved(c,null)"}));

    vNode stranger("s", "test", nullptr, nullptr, nullptr);
    log.clear();
    parent.detachChild(&stranger); // not a child: nothing
    parent.moveChild(&stranger, a);
    EXPECT_EQ(order(), "abc");
    EXPECT_EQ(log, (Log{"childMoved(s,a)"}));

    log.clear();
    parent.deleteChildren();
    EXPECT_EQ(log, (Log{"childRemoved(a)", "childRemoved(b)", "childRemoved(c)"}));
    EXPECT_EQ(parent.hasChildren(), 0);
}

TEST_F(Tree, ChildLookups) {
    vNode root("root", "root", nullptr, nullptr, nullptr);
    auto* group = new vNode("X10", "group", &root, nullptr, "X10");
    auto* tree = new vNode("X10", "tree", &root, nullptr, nullptr);
    auto* unnamed = new vNode(nullptr, "null", &root, nullptr, nullptr);
    auto* leaf = new vNode("leaf", "function", group, nullptr, nullptr);
    leaf->addAttributeInt("id", -1, nullptr);
    group->addAttributeInt("id", 5, nullptr);

    EXPECT_EQ(root.findChild("X10", "*", nullptr), group);
    EXPECT_EQ(root.findChild("X10", "", nullptr), group);
    EXPECT_EQ(root.findChild("X10", "tree", nullptr), tree);
    EXPECT_EQ(root.findChild("X10", "group", "other"), nullptr);
    EXPECT_EQ(root.findChild("X10", "group", "X10"), group);
    EXPECT_EQ(root.findChild("X10", "tree", "X10"), nullptr); // no category never matches one
    EXPECT_EQ(root.findChild("", nullptr, nullptr), nullptr);
    EXPECT_EQ(root.findChild(nullptr, nullptr, nullptr), nullptr);
    (void)unnamed;

    // Children without an "id" read as id 0; an int32 -1 reads sign-extended.
    EXPECT_EQ(root.findChildById(0, 0), tree);
    EXPECT_EQ(root.findChildById(5, 0), group);
    EXPECT_EQ(root.findChildById(-1, 0), nullptr);
    EXPECT_EQ(root.findChildById(-1, 1), leaf);

    EXPECT_EQ(root.containsChild(leaf, 0), 0);
    EXPECT_EQ(root.containsChild(leaf, 1), 1);
    EXPECT_EQ(root.containsChild(nullptr, 1), 0);
    EXPECT_EQ(root.containsChild(group, 0), 1);

    // The current path follows the cursor child downwards.
    root.nextChild(group); // cursor on tree
    EXPECT_EQ(root.onCurrentPath(tree), 1);
    EXPECT_EQ(root.onCurrentPath(leaf), 0);
    root.previousChild(tree); // cursor on group, whose cursor is on leaf
    EXPECT_EQ(root.onCurrentPath(group), 1);
    EXPECT_EQ(root.onCurrentPath(leaf), 1);
}

TEST_F(Tree, TreeSignalsReachEveryDescendantAndSurviveSelfDeletion) {
    struct Counting : vNode {
        Counting(const char* n, vNode* p, Log* l) : vNode(n, "test", p, nullptr, nullptr), log(l) {}
        void treeSignal1() override {
            log->push_back(nameOf(this));
            vNode::treeSignal1();
        }
        Log* log;
    };
    Counting root("root", nullptr, &log);
    auto* a = new Counting("a", &root, &log);
    new SelfDeletingNode("gone", &root);
    new Counting("a1", a, &log);
    new Counting("b", &root, &log);
    root.treeSignal1();
    EXPECT_EQ(log, (Log{"root", "a", "a1", "b"}));
    EXPECT_EQ(root.childCount(), 2);
}

TEST_F(Tree, DestroyingASubtreeReleasesEveryBlock) {
    if (!HeapAccount::available()) GTEST_SKIP() << "needs the sanitizer allocator";
    vNode root("root", "root", nullptr, nullptr, nullptr);
    size_t before = HeapAccount::liveBytes();
    auto* branch = new vNode("branch with a long name", "group", &root, nullptr, "category");
    for (int i = 0; i < 20; ++i) {
        auto* leaf = new vNode("leaf", "function", branch, nullptr, nullptr);
        leaf->addAttributeString("text", "a text longer than fifteen characters", nullptr);
        leaf->addAttributeInt("id", i, nullptr);
        leaf->setLabel("label");
        leaf->setValueString("another long text in the value");
        new vNodeObserver(leaf);
    }
    branch->destroy();
    EXPECT_EQ(HeapAccount::liveBytes(), before);
}
