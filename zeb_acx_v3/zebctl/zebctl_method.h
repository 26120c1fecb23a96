// Small helpers every API method uses.
#pragma once

#include "tcore/tcore_list.h"

// The request field's value, or null when it is missing or empty. The value
// belongs to the field list (callers may change it in place, never free it).
char *TiiMethodField(tcore_list *fields, const char *name);

// Sets the API's last error to `code` and returns it.
int TiiMethodFail(int code);

// Writes "------------<method> <word>-------------------\n" at information
// level: the start and end marker lines of a method.
void TiiMethodLogMark(const char *method, const char *word);
