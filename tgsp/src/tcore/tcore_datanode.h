// Data node: a growable byte buffer made of a chain of fixed-size chunks.
//
// The node handle is the first chunk. Appending fills the first chunk that
// has free space and only then links a new 8192-byte chunk after the last,
// so stored bytes never move. The content is the concatenation of the used
// parts of the chunks in chain order; there is no terminating NUL. Offsets
// and lengths are int and start at 0; the length is computed by walking the
// chain.
//
// Ownership: the creator owns the node and frees it with
// tcore_datanode_free. Bytes copied out go into caller-owned buffers.
// Allocation failure ends the process (exit code 111), so no function
// reports out-of-memory. A null node makes every function return its
// failure value (documented per function) without effect.
#pragma once

#define TCORE_DATANODE_CHUNK 8192

struct tcore_datanode {
    unsigned char *data;   // the chunk's byte area
    int capacity;          // size of the area (8192 for every chunk made here)
    int free;              // bytes still available at the end of the area
    tcore_datanode *next;  // following chunk, null for the last
};

// New node: one chunk of 8192 zero bytes, free = 8192. Never null.
tcore_datanode *tcore_datanode_new(void);

// Frees every chunk and its area. Null is ignored.
void tcore_datanode_free(tcore_datanode *node);

// Frees all chunks after the first, zero-fills the first and marks it empty.
// Returns the node (null for a null node).
tcore_datanode *tcore_datanode_reset(tcore_datanode *node);

// Number of bytes held; 0 for a null node.
int tcore_datanode_length(const tcore_datanode *node);

// Appends len bytes. Returns len; 0 (nothing done) when node or bytes is
// null or len <= 0; -10002 (nothing done) when the content would exceed
// INT_MAX bytes.
int tcore_datanode_append(tcore_datanode *node, const void *bytes, int len);

// Appends text without its NUL. Returns the count appended; 0 for null args.
int tcore_datanode_appendString(tcore_datanode *node, const char *text);

// Appends value as "%d" text. Returns the count appended; 0 for a null node.
int tcore_datanode_appendInt(tcore_datanode *node, int value);

// The byte (0-255) at offset; 0 when offset is negative or not below the
// length, or the node is null.
int tcore_datanode_byteAt(const tcore_datanode *node, int offset);

// Overwrites the byte at offset with '}'. Returns 0; -10002 for a null node;
// -10004 (nothing changed) when offset is outside the content.
int tcore_datanode_putBrace(tcore_datanode *node, int offset);

// Copies the first n bytes (fewer when the node is shorter) to dest.
// Returns the count; -10002 for a null node or dest, or n <= 0.
int tcore_datanode_copyOut(const tcore_datanode *node, void *dest, int n);

// Copies min(n, length - offset) bytes from offset to dest. Returns the
// count; -10002 for a null node or dest, or a negative offset or n;
// -10004 when offset is not below the length.
int tcore_datanode_getSubData(const tcore_datanode *node, int offset, void *dest, int n);

// Position of the first occurrence of the n pattern bytes at or after start;
// -1 when absent (also when fewer than n bytes remain); -10002 for a null
// node or pattern, n <= 0 or start < 0.
int tcore_datanode_find(const tcore_datanode *node, int start, const void *pattern, int n);

// tcore_datanode_find with the text's length; -10002 for a null node, a
// null or empty text or start < 0.
int tcore_datanode_findString(const tcore_datanode *node, int start, const char *text);

// 1 when, after leading space, tab, CR and LF bytes, the content begins with
// the n pattern bytes (exact, case-sensitive); else 0 (also for null
// arguments or n <= 0).
int tcore_datanode_startsWith(const tcore_datanode *node, const void *pattern, int n);

// First chunk of the chain with free space; links a new 8192-byte chunk
// after the last when none has any. For readers that fill the node in place
// (the socket module): write at data + capacity - free, then lower free.
// Null for a null node, or when the content already holds INT_MAX bytes.
tcore_datanode *tcore_datanode_spaceChunk(tcore_datanode *node);
