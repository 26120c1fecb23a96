// Pointer list: a growable array of pointers with an optional item-free
// function. The list owns its items exactly when it has one: clearing,
// removing and freeing pass the items to it. Without one the items stay the
// caller's.
//
// Created with capacity 256, all slots empty; a full list doubles its
// capacity on append. Allocation failure ends the process (exit code 111).
#pragma once

typedef void (*tcore_list_freefn)(void *item);

struct tcore_list {
    void **items;                // capacity slots; the first count are used
    int count;
    int capacity;
    tcore_list_freefn freeItem;  // may be null: the list does not own its items
};

#define TCORE_LIST_INITIAL 256

// New empty list; freeItem may be null. Never null.
tcore_list *tcore_list_new(tcore_list_freefn freeItem);

// Appends item. 0; -10002 for a null list, array or item (nothing appended,
// the item stays the caller's).
int tcore_list_append(tcore_list *list, void *item);

// Passes every non-null item to the item-free function (if any); count 0.
// Null is ignored.
void tcore_list_clear(tcore_list *list);

// Removes the first slot holding this very pointer, passes it to the
// item-free function (if any) and moves the later items down one slot.
// 0, also when the item is not in the list; -10002 for a null list, array
// or item.
int tcore_list_remove(void *item, tcore_list *list);

// Clears the list, then frees the array and the list. Null is ignored.
void tcore_list_free(tcore_list *list);

// Number of items; 0 for a null list.
int tcore_list_count(const tcore_list *list);

// Item at index, or null for a null list or an index outside 0..count-1.
void *tcore_list_get(const tcore_list *list, int index);
