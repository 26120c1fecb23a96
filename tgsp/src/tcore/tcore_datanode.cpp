#include "tcore/tcore_datanode.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

tcore_datanode *newChunk() {
    auto *c = static_cast<tcore_datanode *>(tcore_zalloc(sizeof(tcore_datanode)));
    c->data = static_cast<unsigned char *>(tcore_zalloc(TCORE_DATANODE_CHUNK));
    c->capacity = TCORE_DATANODE_CHUNK;
    c->free = TCORE_DATANODE_CHUNK;
    return c;
}

int used(const tcore_datanode *c) { return c->capacity - c->free; }

// A read position inside the chain: chunk plus index into its used part.
struct Cursor {
    const tcore_datanode *chunk;
    int index;

    // Skips empty chunks; false at the end of the content.
    bool settle() {
        while (chunk && index >= used(chunk)) {
            index -= used(chunk);
            chunk = chunk->next;
        }
        return chunk != nullptr;
    }
    unsigned char byte() const { return chunk->data[index]; }
    void advance() { ++index; }
};

// Cursor at offset; the caller has checked 0 <= offset < length.
Cursor seek(const tcore_datanode *node, int offset) {
    Cursor c{node, offset};
    c.settle();
    return c;
}

}  // namespace

tcore_datanode *tcore_datanode_new(void) { return newChunk(); }

void tcore_datanode_free(tcore_datanode *node) {
    while (node) {
        tcore_datanode *next = node->next;
        free(node->data);
        free(node);
        node = next;
    }
}

tcore_datanode *tcore_datanode_reset(tcore_datanode *node) {
    if (!node) return nullptr;
    tcore_datanode_free(node->next);
    node->next = nullptr;
    memset(node->data, 0, static_cast<size_t>(node->capacity));
    node->free = node->capacity;
    return node;
}

int tcore_datanode_length(const tcore_datanode *node) {
    long long total = 0;
    for (; node; node = node->next) total += used(node);
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

tcore_datanode *tcore_datanode_spaceChunk(tcore_datanode *node) {
    if (!node) return nullptr;
    long long total = 0;
    tcore_datanode *last = node;
    for (tcore_datanode *c = node; c; c = c->next) {
        if (c->free > 0) return total < INT_MAX ? c : nullptr;
        total += used(c);
        last = c;
    }
    if (total >= INT_MAX) return nullptr;
    last->next = newChunk();
    return last->next;
}

int tcore_datanode_append(tcore_datanode *node, const void *bytes, int len) {
    if (!node || !bytes || len <= 0) return 0;
    if (static_cast<long long>(tcore_datanode_length(node)) + len > INT_MAX) return TCORE_ERR_ARG;
    const auto *src = static_cast<const unsigned char *>(bytes);
    int remaining = len;
    while (remaining > 0) {
        tcore_datanode *c = tcore_datanode_spaceChunk(node);
        int n = remaining < c->free ? remaining : c->free;
        memcpy(c->data + used(c), src, static_cast<size_t>(n));
        c->free -= n;
        src += n;
        remaining -= n;
    }
    return len;
}

int tcore_datanode_appendString(tcore_datanode *node, const char *text) {
    if (!node || !text) return 0;
    size_t n = strlen(text);
    if (n > INT_MAX) return TCORE_ERR_ARG;
    return tcore_datanode_append(node, text, static_cast<int>(n));
}

int tcore_datanode_appendInt(tcore_datanode *node, int value) {
    char buf[16];
    int n = snprintf(buf, sizeof buf, "%d", value);
    return tcore_datanode_append(node, buf, n);
}

int tcore_datanode_byteAt(const tcore_datanode *node, int offset) {
    if (!node || offset < 0 || offset >= tcore_datanode_length(node)) return 0;
    return seek(node, offset).byte();
}

int tcore_datanode_putBrace(tcore_datanode *node, int offset) {
    if (!node) return TCORE_ERR_ARG;
    if (offset < 0 || offset >= tcore_datanode_length(node)) return TCORE_ERR_OFFSET;
    Cursor c = seek(node, offset);
    const_cast<tcore_datanode *>(c.chunk)->data[c.index] = '}';
    return 0;
}

// Copies n bytes starting at offset; the caller has bounded n by the content.
static void copyFrom(const tcore_datanode *node, int offset, unsigned char *dest, int n) {
    Cursor c = seek(node, offset);
    while (n > 0 && c.settle()) {
        int take = used(c.chunk) - c.index;
        if (take > n) take = n;
        memcpy(dest, c.chunk->data + c.index, static_cast<size_t>(take));
        dest += take;
        n -= take;
        c.index += take;
    }
}

int tcore_datanode_copyOut(const tcore_datanode *node, void *dest, int n) {
    if (!node || !dest || n <= 0) return TCORE_ERR_ARG;
    int len = tcore_datanode_length(node);
    if (n > len) n = len;
    copyFrom(node, 0, static_cast<unsigned char *>(dest), n);
    return n;
}

int tcore_datanode_getSubData(const tcore_datanode *node, int offset, void *dest, int n) {
    if (!node || !dest || offset < 0 || n < 0) return TCORE_ERR_ARG;
    int len = tcore_datanode_length(node);
    if (offset >= len) return TCORE_ERR_OFFSET;
    if (n > len - offset) n = len - offset;
    copyFrom(node, offset, static_cast<unsigned char *>(dest), n);
    return n;
}

int tcore_datanode_find(const tcore_datanode *node, int start, const void *pattern, int n) {
    if (!node || !pattern || n <= 0 || start < 0) return TCORE_ERR_ARG;
    int len = tcore_datanode_length(node);
    if (start >= len || len - start < n) return -1;
    const auto *pat = static_cast<const unsigned char *>(pattern);
    Cursor cand = seek(node, start);
    for (int pos = start; pos <= len - n; ++pos) {
        Cursor c = cand;
        int k = 0;
        while (k < n && c.settle() && c.byte() == pat[k]) {
            c.advance();
            ++k;
        }
        if (k == n) return pos;
        cand.advance();
        cand.settle();
    }
    return -1;
}

int tcore_datanode_findString(const tcore_datanode *node, int start, const char *text) {
    if (!node || !text || !*text || start < 0) return TCORE_ERR_ARG;
    size_t n = strlen(text);
    if (n > INT_MAX) return -1;
    return tcore_datanode_find(node, start, text, static_cast<int>(n));
}

int tcore_datanode_startsWith(const tcore_datanode *node, const void *pattern, int n) {
    if (!node || !pattern || n <= 0) return 0;
    const auto *pat = static_cast<const unsigned char *>(pattern);
    Cursor c{node, 0};
    while (c.settle()) {
        unsigned char b = c.byte();
        if (b != ' ' && b != '\t' && b != '\r' && b != '\n') break;
        c.advance();
    }
    for (int k = 0; k < n; ++k) {
        if (!c.settle() || c.byte() != pat[k]) return 0;
        c.advance();
    }
    return 1;
}
