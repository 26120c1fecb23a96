// String list: a growable array of strings that always owns them.
//
// Created with capacity 256; doubles when full. Appending stores a copy;
// clearing and freeing release the copies. Allocation failure ends the
// process (exit code 111).
#pragma once

struct tcore_strlist {
    char **items;  // capacity slots; the first count hold strings
    int count;
    int capacity;
};

// New empty list. Never null.
tcore_strlist *tcore_strlist_new(void);

// Appends a copy of s. 0; -10002 for a null list, array or string.
int tcore_strlist_append(tcore_strlist *list, const char *s);

// Number of strings; 0 for a null list.
int tcore_strlist_count(const tcore_strlist *list);

// The string at index (owned by the list), or null for a null list or an
// index outside 0..count-1.
const char *tcore_strlist_get(const tcore_strlist *list, int index);

// Frees the strings; count 0. Null is ignored.
void tcore_strlist_clear(tcore_strlist *list);

// Frees the strings, the array and the list. Null is ignored.
void tcore_strlist_free(tcore_strlist *list);

// Cuts s in place at every comma (each comma becomes a NUL) and returns a
// new list of the pieces, left to right. An empty piece between two commas
// or before a leading comma is kept as ""; a trailing comma adds no piece.
// Null for a null or empty string.
tcore_strlist *tcore_strlist_splitComma(char *s);

// Splits a copy of s at every occurrence of sep (one or more characters)
// and appends every piece, empty ones included, to *result (created on the
// first piece when *result is null); the last piece is the text after the
// last separator ("" when s ends with it). Returns the number of pieces
// appended; -10002 for a null or empty s, a null or empty sep, or a null
// result pointer.
int tcore_strlist_split(const char *s, const char *sep, tcore_strlist **result);
