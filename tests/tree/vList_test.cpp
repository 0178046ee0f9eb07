// The cursor list: insertion, removal, clearing, moves, the cursor rules and
// the hooks that a derived list sees, and the iteration idiom.
#include "tree/vList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Item {
    const char* name;
};

// Records every hook call as text, with the count seen at that moment.
class RecordingList : public vListOf<Item> {
public:
    void added(void* item, void* beforeItem) override {
        log.push_back("added " + nameOf(item) + " before " + nameOf(beforeItem) + " #" +
                      std::to_string(count()));
    }
    void removed(void* item) override {
        log.push_back("removed " + nameOf(item) + " #" + std::to_string(count()));
    }
    void moved(void* item, void* before) override {
        log.push_back("moved " + nameOf(item) + " before " + nameOf(before));
    }
    std::vector<std::string> log;

private:
    static std::string nameOf(void* item) {
        return item != nullptr ? static_cast<Item*>(item)->name : "null";
    }
};

// The items from head to tail, as "a b c", walked through the cells (finding
// the head may put the cursor on it).
std::string order(RecordingList& list) {
    std::string out;
    for (vListCell* cell = list.find(list.first()); cell != nullptr; cell = cell->next) {
        if (!out.empty()) out += ' ';
        out += static_cast<Item*>(cell->item)->name;
    }
    return out;
}

// The same from tail to head, to check the back links.
std::string reverseOrder(RecordingList& list) {
    std::string out;
    for (vListCell* cell = list.find(list.last()); cell != nullptr; cell = cell->prev) {
        if (!out.empty()) out += ' ';
        out += static_cast<Item*>(cell->item)->name;
    }
    return out;
}

} // namespace

TEST(List, InsertPlacesAndReports) {
    Item a{"a"}, b{"b"}, c{"c"}, d{"d"}, stranger{"x"};
    RecordingList list;
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    EXPECT_EQ(list.cursorItem(), nullptr);

    EXPECT_EQ(list.insert(&a, nullptr), 1);
    EXPECT_EQ(list.first(), &a);
    EXPECT_EQ(list.last(), &a);
    EXPECT_EQ(list.cursorItem(), &a);
    EXPECT_EQ(list.insert(&b, &a), 2); // before the head: new head
    EXPECT_EQ(list.first(), &b);
    EXPECT_EQ(list.cursorItem(), &b);
    EXPECT_EQ(list.insert(&c, &stranger), 3); // not in the list: appended
    EXPECT_EQ(list.insert(&d, &a), 4);        // in the middle
    EXPECT_EQ(list.insert(nullptr, &a), -1);
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(order(list), "b d a c");
    EXPECT_EQ(reverseOrder(list), "c a d b");
    const std::vector<std::string> expected = {"added a before null #1", "added b before a #2",
                                               "added c before null #3", "added d before a #4"};
    EXPECT_EQ(list.log, expected);
}

TEST(List, RemoveAndClear) {
    Item a{"a"}, b{"b"}, c{"c"}, stranger{"x"};
    RecordingList list;
    EXPECT_EQ(list.remove(&a), -1);
    EXPECT_EQ(list.clear(), -1);

    // The same item twice: remove takes the one nearer the head.
    list.insert(&a, nullptr);
    list.insert(&b, nullptr);
    list.insert(&a, nullptr);
    EXPECT_EQ(list.remove(&a), 2);
    EXPECT_EQ(order(list), "b a");
    EXPECT_EQ(reverseOrder(list), "a b");
    EXPECT_EQ(list.remove(&stranger), 2);
    EXPECT_EQ(list.log.back(), "removed a #2");

    // Removing the cursor's entry moves the cursor to the following one; when
    // it was last, the cursor is left on nothing.
    list.insert(&c, nullptr); // b a c, cursor on c
    list.find(&a);
    list.next(&b); // cursor on a (returned)
    EXPECT_EQ(list.cursorItem(), &a);
    EXPECT_EQ(list.remove(&a), 2);
    EXPECT_EQ(list.cursorItem(), &c);
    EXPECT_EQ(list.remove(&c), 1);
    EXPECT_EQ(list.cursorItem(), nullptr);
    EXPECT_EQ(list.last(), &b);
    EXPECT_EQ(list.remove(&b), 0);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    EXPECT_EQ(list.cursorItem(), nullptr);

    // clear unlinks from first to last, each with its hook.
    list.log.clear();
    list.insert(&a, nullptr);
    list.insert(&b, nullptr);
    list.insert(&c, nullptr);
    list.log.clear();
    EXPECT_EQ(list.clear(), 0);
    const std::vector<std::string> expected = {"removed a #2", "removed b #1", "removed c #0"};
    EXPECT_EQ(list.log, expected);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.first(), nullptr);
    list.insert(&a, nullptr); // usable again; the destructor frees this cell
}

TEST(List, Move) {
    Item a{"a"}, b{"b"}, c{"c"}, stranger{"x"};
    RecordingList list;
    list.insert(&a, nullptr);
    list.log.clear();
    EXPECT_EQ(list.move(&a, nullptr), 0); // one entry
    EXPECT_TRUE(list.log.empty());

    list.insert(&b, nullptr);
    list.insert(&c, nullptr);
    list.log.clear();
    EXPECT_EQ(list.move(&c, nullptr), 1); // already last: relinked, reported
    EXPECT_EQ(order(list), "a b c");
    EXPECT_EQ(list.move(&c, &a), 1); // to the front
    EXPECT_EQ(order(list), "c a b");
    EXPECT_EQ(reverseOrder(list), "b a c");
    EXPECT_EQ(list.move(&c, &stranger), 1); // not a member: to the end
    EXPECT_EQ(order(list), "a b c");
    EXPECT_EQ(list.move(&a, &c), 1); // into the middle
    EXPECT_EQ(order(list), "b a c");
    EXPECT_EQ(reverseOrder(list), "c a b");
    EXPECT_EQ(list.move(&a, &a), 0);
    EXPECT_EQ(list.move(&stranger, &a), 0);
    EXPECT_EQ(list.move(nullptr, &a), 0);
    EXPECT_EQ(list.count(), 3);
    const std::vector<std::string> expected = {"moved c before null", "moved c before a",
                                               "moved c before x", "moved a before c"};
    EXPECT_EQ(list.log, expected);
}

TEST(List, CursorAndNeighbours) {
    Item a{"a"}, b{"b"}, c{"c"}, stranger{"x"};
    RecordingList list;
    list.insert(&a, nullptr);
    list.insert(&b, nullptr);
    list.insert(&c, nullptr);

    EXPECT_EQ(list.find(nullptr), nullptr);
    EXPECT_EQ(list.find(&stranger), nullptr);
    EXPECT_EQ(list.cursorItem(), &c); // a failed walk leaves it

    // A walk sets the cursor; the tail and the cursor are found without it.
    ASSERT_NE(list.find(&a), nullptr);
    EXPECT_EQ(list.cursorItem(), &a);
    EXPECT_EQ(list.find(&c)->item, &c);
    EXPECT_EQ(list.cursorItem(), &a);
    EXPECT_EQ(list.find(&b)->item, &b);
    EXPECT_EQ(list.cursorItem(), &b);

    EXPECT_EQ(list.next(&a), &b);
    EXPECT_EQ(list.cursorItem(), &b);
    EXPECT_EQ(list.next(&b), &c);
    EXPECT_EQ(list.next(&c), nullptr);
    EXPECT_EQ(list.cursorItem(), &c);
    EXPECT_EQ(list.next(&stranger), nullptr);
    EXPECT_EQ(list.previous(&c), &b);
    EXPECT_EQ(list.cursorItem(), &b);
    EXPECT_EQ(list.previous(&a), nullptr);
    EXPECT_EQ(list.cursorItem(), &a); // left where find put it
    EXPECT_EQ(list.previous(nullptr), nullptr);

    // move leaves the cursor where its lookups left it: c is the tail (no
    // walk), a needs a walk from the head.
    list.next(&a); // cursor on b
    list.move(&c, &a);
    EXPECT_EQ(list.cursorItem(), &a);
    EXPECT_EQ(order(list), "c a b");
}

TEST(List, WalkThatRemovesEveryItem) {
    Item items[6] = {{"0"}, {"1"}, {"2"}, {"3"}, {"4"}, {"5"}};
    RecordingList list;
    for (Item& item : items)
        list.insert(&item, nullptr);
    std::string visited;
    list.forEach([&](Item* item) {
        visited += item->name;
        list.remove(item);
    });
    EXPECT_EQ(visited, "012345");
    EXPECT_EQ(list.count(), 0);

    // Removing only some items during the walk still visits each once.
    for (Item& item : items)
        list.insert(&item, nullptr);
    visited.clear();
    list.forEach([&](Item* item) {
        visited += item->name;
        if ((item->name[0] - '0') % 2 == 0) list.remove(item);
    });
    EXPECT_EQ(visited, "012345");
    EXPECT_EQ(order(list), "1 3 5");
}
