#include "tcore/tcore_kvlist.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"

#include <cstdlib>
#include <cstring>

int32_t tcore_strhash(const char *bytes, int len) {
    if (!bytes || len <= 0) return 0;
    uint32_t h = 0;  // unsigned: the wrap-around is defined
    for (int i = 0; i < len; i++) h = h * 31u + static_cast<unsigned char>(bytes[i]);
    return static_cast<int32_t>(h);
}

static TiiReqField *recordAt(const tcore_list *list, int i) {
    return static_cast<TiiReqField *>(list->items[i]);
}

int tcore_kvlist_add(tcore_list *list, const char *name, const char *value) {
    TCORE_CHECK_NULL(list);
    TCORE_CHECK_STR(name);

    size_t nameLen = strlen(name);
    int32_t hash = tcore_strhash(name, nameLen > INT32_MAX ? INT32_MAX : static_cast<int>(nameLen));
    for (int i = 0; i < list->count; i++) {
        TiiReqField *f = recordAt(list, i);
        if (f && f->hash == hash) return TCORE_ERR_KV_DUPLICATE;
    }

    auto *rec = static_cast<TiiReqField *>(tcore_zalloc(sizeof(TiiReqField)));
    memcpy(rec->name, name, nameLen < sizeof rec->name ? nameLen : sizeof rec->name - 1);
    rec->hash = hash;
    rec->value = value ? tcore_strdup(value) : nullptr;

    TiiReqField *last = list->count > 0 ? recordAt(list, list->count - 1) : nullptr;
    int rc = tcore_list_append(list, rec);
    if (rc < 0) {
        free(rec->value);
        free(rec);
        return rc;
    }
    if (last) last->next = rec;
    return 0;
}

char *tcore_kvlist_get(tcore_list *list, const char *name) {
    if (!list || !name || !*name) return nullptr;
    for (int i = 0; i < list->count; i++) {
        TiiReqField *f = recordAt(list, i);
        if (f && strcmp(f->name, name) == 0) return f->value;
    }
    return nullptr;
}

void tcore_kvlist_clear(tcore_list *list) {
    if (!list) return;
    for (int i = 0; i < list->count; i++) {
        TiiReqField *f = recordAt(list, i);
        if (!f) continue;
        if (list->freeItem) list->freeItem(f->value);
        else free(f->value);
        free(f);
        list->items[i] = nullptr;
    }
    list->count = 0;
}
