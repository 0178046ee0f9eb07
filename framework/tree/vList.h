// vList: the doubly linked list of object pointers on which every collection
// of the framework is built (children, attributes, observers, timers). It keeps
// a cursor on the entry most recently reached, so forward walks cost one
// comparison per step, and tells a derived list about insertions, removals and
// moves through three virtual hooks. The list owns its cells, never its items.
#pragma once

#include <cstdint>

struct vListCell {
    vListCell* next;
    vListCell* prev;
    void* item;
};

class vList {
public:
    vList() = default;
    vList(const vList&) = delete;
    vList& operator=(const vList&) = delete;
    virtual ~vList();

    // Hooks; the base does nothing.
    virtual void added(void* item, void* beforeItem);
    virtual void removed(void* item);
    virtual void moved(void* item, void* before);

    int32_t insert(void* item, void* before);
    vListCell* find(void* item);
    int32_t remove(void* item);
    int32_t clear();
    int32_t move(void* item, void* before);
    void* next(void* item);
    void* previous(void* item);
    void* first() const { return head_ ? head_->item : nullptr; }
    void* last() const { return tail_ ? tail_->item : nullptr; }
    int32_t count() const { return count_; }

    // The item under the cursor, or null.
    void* cursorItem() const { return cursor_ ? cursor_->item : nullptr; }

private:
    void link(vListCell* cell, vListCell* beforeCell);
    void unlink(vListCell* cell);

    vListCell* head_ = nullptr;
    vListCell* tail_ = nullptr;
    vListCell* cursor_ = nullptr;
    int32_t count_ = 0;
};

// A list of one element type, with the base behaviour.
template <class T> class vListOf : public vList {
public:
    int32_t insert(T* item, T* before) { return vList::insert(item, before); }
    vListCell* find(T* item) { return vList::find(item); }
    int32_t remove(T* item) { return vList::remove(item); }
    int32_t move(T* item, T* before) { return vList::move(item, before); }
    T* next(T* item) { return static_cast<T*>(vList::next(item)); }
    T* previous(T* item) { return static_cast<T*>(vList::previous(item)); }
    T* first() const { return static_cast<T*>(vList::first()); }
    T* last() const { return static_cast<T*>(vList::last()); }
    T* cursorItem() const { return static_cast<T*>(vList::cursorItem()); }

    // The iteration idiom: the next item is taken before `visit` runs, so the
    // visited item may leave the list (it must not remove the one after it).
    template <class F> void forEach(F visit) {
        for (T* item = first(); item != nullptr;) {
            T* following = next(item);
            visit(item);
            item = following;
        }
    }
};
