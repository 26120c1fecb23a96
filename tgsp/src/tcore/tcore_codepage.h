// Text conversion between the ANSI code page, UTF-8 and UTF-16.
//
// The ANSI code page of this system is UTF-8; UTF-16 text is char16_t in
// the machine's byte order. Every function returns the number of
// characters (bytes or code units) produced, not counting the terminator,
// and stores a new zero-filled, terminated buffer through its last argument
// (the caller frees it with free). On failure *result is left null.
//
// Input is validated: overlong forms, surrogates encoded in UTF-8, code
// points above U+10FFFF, truncated sequences and unpaired UTF-16 surrogates
// are invalid. An 8-bit input of length 0 is an error too (it is converted
// without its terminator). Failures of the conversion are logged through
// tcore_log_winError ("MultiByteToWideChar" / "WideCharToMultiByte") with
// errno EILSEQ (invalid sequence) or EINVAL (empty input).
#pragma once

// ANSI text (its string length) to UTF-16. -10002 null text or result;
// -110005 empty or invalid input.
int tcore_ansiToWide(const char *text, char16_t **result);

// UTF-16 to ANSI; count <= 0 converts up to the terminator. -10002 null
// text or result; -110006 invalid input.
int tcore_wideToAnsi(const char16_t *text, int count, char **result);

// UTF-8 (len <= 0: its string length) to UTF-16. -10002 null text or
// result; -110007 empty or invalid input.
int tcore_utf8ToWide(const char *text, int len, char16_t **result);

// UTF-16 to UTF-8; count <= 0 converts up to the terminator. -10002 null
// text or result; -110008 invalid input.
int tcore_wideToUtf8(const char16_t *text, int count, char **result);

// tcore_ansiToWide then tcore_wideToUtf8; the codes of those steps.
int tcore_ansiToUtf8(const char *text, char **result);

// tcore_utf8ToWide then tcore_wideToAnsi; the codes of those steps.
int tcore_utf8ToAnsi(const char *text, int len, char **result);
