// Whole-file reading and driver library loading.
#pragma once

// Reads the whole file. Returns its size in bytes and stores a new buffer of
// size + 1 bytes (the content and a zero byte; the caller frees it) through
// result. Returns:
//   0        empty file (*result null, no buffer);
//   -10002   null path or result;
//   -1       the file's size cannot be read (missing file);
//   -10010   the file cannot be opened for reading (also: not a regular file);
//   -10011   fewer bytes than its size were read, or the file is 2 GB or
//            larger (no buffer is left).
int tcore_file_load(const char *path, unsigned char **result);

// Loads a shared library (the path is ANSI text, i.e. UTF-8). Returns the
// module handle, or null for a null or empty path, a path that is not valid
// text, or when loading fails (tcore_loadLibrary_error says why). Handles
// stay valid until tcore_freeLibrary.
void *tcore_loadLibrary(const char *path);

// Address of an exported symbol, or null (null handle or name too).
void *tcore_getProcAddress(void *module, const char *name);

// Unloads a module loaded by tcore_loadLibrary (null is ignored).
void tcore_freeLibrary(void *module);

// The loader's message for the last failed tcore_loadLibrary of this
// thread ("" when none), naming the library path.
const char *tcore_loadLibrary_error(void);
