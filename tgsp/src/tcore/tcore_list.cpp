#include "tcore/tcore_list.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <climits>
#include <cstdlib>
#include <cstring>

tcore_list *tcore_list_new(tcore_list_freefn freeItem) {
    auto *list = static_cast<tcore_list *>(tcore_zalloc(sizeof(tcore_list)));
    list->items = static_cast<void **>(tcore_zcalloc(TCORE_LIST_INITIAL, sizeof(void *)));
    list->capacity = TCORE_LIST_INITIAL;
    list->freeItem = freeItem;
    return list;
}

int tcore_list_append(tcore_list *list, void *item) {
    if (!list || !list->items || !item) return TCORE_ERR_ARG;
    if (list->count >= list->capacity) {
        if (list->capacity > INT_MAX / 2) tcore_outOfMemory();
        int capacity = list->capacity * 2;
        auto **items = static_cast<void **>(tcore_zcalloc(static_cast<size_t>(capacity), sizeof(void *)));
        memcpy(items, list->items, static_cast<size_t>(list->count) * sizeof(void *));
        free(list->items);
        list->items = items;
        list->capacity = capacity;
    }
    list->items[list->count++] = item;
    return 0;
}

void tcore_list_clear(tcore_list *list) {
    if (!list || !list->items) return;
    for (int i = 0; i < list->count; ++i) {
        if (list->items[i] && list->freeItem) list->freeItem(list->items[i]);
        list->items[i] = nullptr;
    }
    list->count = 0;
}

int tcore_list_remove(void *item, tcore_list *list) {
    if (!list || !list->items || !item) return TCORE_ERR_ARG;
    for (int i = 0; i < list->count; ++i) {
        if (list->items[i] != item) continue;
        if (list->freeItem) list->freeItem(item);
        memmove(&list->items[i], &list->items[i + 1],
                static_cast<size_t>(list->count - i - 1) * sizeof(void *));
        list->items[--list->count] = nullptr;
        return 0;
    }
    return 0;
}

void tcore_list_free(tcore_list *list) {
    if (!list) return;
    tcore_list_clear(list);
    free(list->items);
    free(list);
}

int tcore_list_count(const tcore_list *list) { return list ? list->count : 0; }

void *tcore_list_get(const tcore_list *list, int index) {
    if (!list || !list->items || index < 0 || index >= list->count) return nullptr;
    return list->items[index];
}
