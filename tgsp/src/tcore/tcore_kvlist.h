// Request field list: the name/value pairs of one request, kept in arrival
// order in a pointer list (tcore_list) whose items are TiiReqField records.
//
// Lookup is by exact, case-sensitive name. Names are identified by the
// 32-bit hash of the full name: a second pair whose name hashes alike (the
// same name again, or a colliding one) is refused, so the first value wins.
//
// Ownership: the list owns its records and their values. Create it with
// `free` as its item-free function and empty it with tcore_kvlist_clear
// (tcore_list_clear alone would free the records but not their values).
#pragma once
#include <cstdint>

struct tcore_list;

#define TII_REQ_FIELD_NAME_SIZE 64  // at most 63 characters of a name are stored

struct TiiReqField {
    char name[TII_REQ_FIELD_NAME_SIZE];  // NUL-terminated, cut to 63 characters
    int32_t hash;                        // tcore_strhash of the full name
    char *value;                         // heap copy, NUL-terminated; may be null
    TiiReqField *next;                   // record added after this one, or null
};

// h = h * 31 + b over the bytes (taken as unsigned), 32-bit wrap-around.
// A null `bytes` or len <= 0 gives 0.
int32_t tcore_strhash(const char *bytes, int len);

// Adds a record for the NUL-terminated `name` with a heap copy of `value`
// (a null value is stored as a null pointer).
// Returns 0 when added;
//   -10002  null list or null/empty name;
//   -110011 a record with the same name hash exists (the list is unchanged).
int tcore_kvlist_add(tcore_list *list, const char *name, const char *value);

// The value of the first record whose stored name equals `name` byte for
// byte; null for a null/empty name, an empty list or no match. The pointer
// stays owned by the list: the caller may change the text in place (the
// URL-safe base64 decoder does) but must not free it.
char *tcore_kvlist_get(tcore_list *list, const char *name);

// Frees every record and its value; the count becomes 0. Null is ignored.
void tcore_kvlist_clear(tcore_list *list);
