// Registry readers over the program's registry store.
//
// The local machine and the current user are the two roots. There is one
// store for the 32-bit and the 64-bit view. Text arguments are ANSI (UTF-8)
// or UTF-16 as named; key paths use "\" between names.
#pragma once
#include "tcore/tcore_list.h"

enum tcore_hkey {
    TCORE_HKEY_CURRENT_USER = 1,
    TCORE_HKEY_LOCAL_MACHINE = 2,
};

// Reads a value as text into out (256 bytes; may be null). The value's type
// is not examined: its data is taken as UTF-16 text (as the system hands it
// out, strings carry UTF-16) ending at the first zero unit, and converted
// to ANSI. An empty valueName reads the default value, an empty (or null)
// subKey the root itself. Returns the text's length (out is cleared and
// holds the terminated text); with out null, that length + 1;
//   -110021  the subkey cannot be opened (also an unknown root);
//   -110027  the value cannot be read;
//   -10003   the text is longer than 255 bytes (out untouched);
//   -110005 / -110006  a name or the data is not valid text.
int tcore_wreg_getValue(const char *valueName, const char *subKey, int root, char *out);

// Appends the names of the direct subkeys of an HKEY_LOCAL_MACHINE key
// (null or empty: the root itself), in the store's order (without regard to
// case), to *result, which is created (item-free function free) on the
// first name when null. Names longer than 255 UTF-16 units or not valid
// text are skipped. Returns the number of names appended; -10002 for a null
// result pointer; -110021 when the key cannot be opened.
int tcore_wreg_getKeys(const char *subKey, tcore_list **result);

// Reads a value's raw data as the system hands it out: text values as
// UTF-16LE with their terminating zero unit, a dword as 4 little-endian
// bytes, binary data as stored. With out null, returns the size in bytes;
// otherwise copies the data and returns its size;
//   -110021  the subkey cannot be opened;
//   -110027  the value cannot be read (logged as "RegQueryValueEx");
//   -10003   the data is larger than capacity (out untouched).
// subKey and valueName may be null or empty (the root / the default value).
int tcore_wreg_queryValue(unsigned char *out, const char16_t *subKey, int capacity, int root,
                          const char16_t *valueName);
