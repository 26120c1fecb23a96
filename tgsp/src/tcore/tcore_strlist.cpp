#include "tcore/tcore_strlist.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <climits>
#include <cstdlib>
#include <cstring>

tcore_strlist *tcore_strlist_new(void) {
    auto *list = static_cast<tcore_strlist *>(tcore_zalloc(sizeof(tcore_strlist)));
    list->items = static_cast<char **>(tcore_zcalloc(256, sizeof(char *)));
    list->capacity = 256;
    return list;
}

int tcore_strlist_append(tcore_strlist *list, const char *s) {
    if (!list || !list->items || !s) return TCORE_ERR_ARG;
    if (list->count >= list->capacity) {
        if (list->capacity > INT_MAX / 2) tcore_outOfMemory();
        int capacity = list->capacity * 2;
        auto **items = static_cast<char **>(tcore_zcalloc(static_cast<size_t>(capacity), sizeof(char *)));
        memcpy(items, list->items, static_cast<size_t>(list->count) * sizeof(char *));
        free(list->items);
        list->items = items;
        list->capacity = capacity;
    }
    list->items[list->count++] = tcore_strdup(s);
    return 0;
}

int tcore_strlist_count(const tcore_strlist *list) { return list ? list->count : 0; }

const char *tcore_strlist_get(const tcore_strlist *list, int index) {
    if (!list || !list->items || index < 0 || index >= list->count) return nullptr;
    return list->items[index];
}

void tcore_strlist_clear(tcore_strlist *list) {
    if (!list || !list->items) return;
    for (int i = 0; i < list->count; ++i) {
        free(list->items[i]);
        list->items[i] = nullptr;
    }
    list->count = 0;
}

void tcore_strlist_free(tcore_strlist *list) {
    if (!list) return;
    tcore_strlist_clear(list);
    free(list->items);
    free(list);
}

tcore_strlist *tcore_strlist_splitComma(char *s) {
    if (!s || !*s) return nullptr;
    tcore_strlist *list = tcore_strlist_new();
    char *piece = s;
    for (char *p = s; *p; ++p) {
        if (*p != ',') continue;
        *p = '\0';
        tcore_strlist_append(list, piece);
        piece = p + 1;
    }
    if (*piece) tcore_strlist_append(list, piece);
    return list;
}

int tcore_strlist_split(const char *s, const char *sep, tcore_strlist **result) {
    if (!s || !*s || !sep || !*sep || !result) return TCORE_ERR_ARG;
    char *copy = tcore_strdup(s);
    size_t sepLen = strlen(sep);
    int pieces = 0;
    char *piece = copy;
    for (;;) {
        char *hit = strstr(piece, sep);
        if (hit) *hit = '\0';
        if (!*result) *result = tcore_strlist_new();
        tcore_strlist_append(*result, piece);
        ++pieces;
        if (!hit) break;
        piece = hit + sepLen;
    }
    free(copy);
    return pieces;
}
