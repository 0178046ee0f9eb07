#include "tree/vList.h"

#include "base/memory.h"

#include <cstdlib>

vList::~vList() {
    clear();
}

void vList::added(void*, void*) {}
void vList::removed(void*) {}
void vList::moved(void*, void*) {}

vListCell* vList::find(void* item) {
    if (item == nullptr) return nullptr;
    if (cursor_ != nullptr && cursor_->item == item) return cursor_;
    if (tail_ != nullptr && tail_->item == item) return tail_;
    for (vListCell* cell = head_; cell != nullptr; cell = cell->next) {
        if (cell->item == item) {
            cursor_ = cell;
            return cell;
        }
    }
    return nullptr;
}

// Links a cell that is in no chain just before `beforeCell`, or after the
// tail when `beforeCell` is null.
void vList::link(vListCell* cell, vListCell* beforeCell) {
    if (beforeCell != nullptr) {
        cell->next = beforeCell;
        cell->prev = beforeCell->prev;
        if (beforeCell->prev != nullptr)
            beforeCell->prev->next = cell;
        else
            head_ = cell;
        beforeCell->prev = cell;
    } else {
        cell->next = nullptr;
        cell->prev = tail_;
        if (tail_ != nullptr)
            tail_->next = cell;
        else
            head_ = cell;
        tail_ = cell;
    }
}

int32_t vList::insert(void* item, void* before) {
    if (item == nullptr) return -1;
    vListCell* beforeCell = find(before);
    auto* cell = static_cast<vListCell*>(kvqAllocate(sizeof(vListCell)));
    cell->next = nullptr;
    cell->prev = nullptr;
    cell->item = item;
    ++count_;
    link(cell, beforeCell);
    cursor_ = cell;
    added(item, beforeCell != nullptr ? beforeCell->item : nullptr);
    return count_;
}

void vList::unlink(vListCell* cell) {
    --count_;
    if (count_ == 0) {
        head_ = tail_ = cursor_ = nullptr;
    } else {
        if (cell == cursor_) cursor_ = cell->next;
        if (cell->prev != nullptr) cell->prev->next = cell->next;
        if (cell->next != nullptr) cell->next->prev = cell->prev;
        if (cell == head_) head_ = cell->next;
        if (cell == tail_) tail_ = cell->prev;
    }
    removed(cell->item);
    std::free(cell);
}

int32_t vList::remove(void* item) {
    if (count_ == 0) return -1;
    for (vListCell* cell = head_; cell != nullptr; cell = cell->next) {
        if (cell->item == item) {
            unlink(cell);
            break;
        }
    }
    return count_;
}

int32_t vList::clear() {
    if (count_ == 0) return -1;
    while (head_ != nullptr)
        unlink(head_);
    return 0;
}

int32_t vList::move(void* item, void* before) {
    if (count_ < 2) return 0;
    vListCell* cell = find(item);
    if (cell == nullptr) return 0;
    vListCell* beforeCell = find(before);
    if (beforeCell == cell) return 0;

    if (cell->prev != nullptr) cell->prev->next = cell->next;
    if (cell->next != nullptr) cell->next->prev = cell->prev;
    if (cell == head_) head_ = cell->next;
    if (cell == tail_) tail_ = cell->prev;

    link(cell, beforeCell);
    moved(item, before);
    return 1;
}

void* vList::next(void* item) {
    vListCell* cell = find(item);
    if (cell == nullptr || cell->next == nullptr) return nullptr;
    cursor_ = cell->next;
    return cursor_->item;
}

void* vList::previous(void* item) {
    vListCell* cell = find(item);
    if (cell == nullptr || cell->prev == nullptr) return nullptr;
    cursor_ = cell->prev;
    return cursor_->item;
}
