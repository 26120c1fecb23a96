// Allocation for the general library and everything above it.
//
// Running out of memory is not reported to callers: these helpers end the
// process with exit code 111 instead, so no function of the project has an
// out-of-memory path. Blocks come zero-filled and are released with free().
#pragma once
#include <cstddef>

#define TCORE_EXIT_NO_MEMORY 111

// Zero-filled block of n bytes (n == 0 gives a 1-byte block). Never null.
void *tcore_zalloc(size_t n);
// Zero-filled array of count items of size bytes, overflow-checked. Never null.
void *tcore_zcalloc(size_t count, size_t size);
// realloc that never returns null; grown bytes are not cleared.
void *tcore_realloc(void *p, size_t n);
// Heap copy of a NUL-terminated text (null in, null out).
char *tcore_strdup(const char *s);
// Heap copy of n bytes followed by a NUL byte (null bytes with n > 0: null).
char *tcore_memdup(const void *p, size_t n);
// Ends the process with exit code 111. Called by every allocation failure.
[[noreturn]] void tcore_outOfMemory(void);
