#include "tcore/tcore_mem.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void tcore_outOfMemory(void) {
    static const char msg[] = "sealdesk: out of memory\n";
    // write(2) allocates nothing, unlike stdio.
    ssize_t ignored = write(2, msg, sizeof msg - 1);
    (void)ignored;
    _exit(TCORE_EXIT_NO_MEMORY);
}

void *tcore_zalloc(size_t n) {
    void *p = calloc(1, n ? n : 1);
    if (!p) tcore_outOfMemory();
    return p;
}

void *tcore_zcalloc(size_t count, size_t size) {
    if (size && count > SIZE_MAX / size) tcore_outOfMemory();
    return tcore_zalloc(count * size);
}

void *tcore_realloc(void *p, size_t n) {
    void *q = realloc(p, n ? n : 1);
    if (!q) tcore_outOfMemory();
    return q;
}

char *tcore_strdup(const char *s) {
    if (!s) return nullptr;
    return tcore_memdup(s, strlen(s));
}

char *tcore_memdup(const void *p, size_t n) {
    if (!p && n) return nullptr;
    char *q = static_cast<char *>(tcore_zalloc(n + 1));
    if (n) memcpy(q, p, n);
    return q;
}
