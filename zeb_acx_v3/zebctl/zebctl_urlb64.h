// URL-safe base64 of the request service: standard base64 with "-" for "+",
// "_" for "/" and "~" for "=". Failures set the API's last error
// (g_tiiState.lastError); success leaves it alone.
#pragma once

// Base64 of the bytes of text up to its NUL, in the URL-safe alphabet.
// Returns a new NUL-terminated string of ((length + 2) / 3) * 4 + 1 bytes
// (the caller frees it); null with last error -1001 for a null text, -1010
// when encoding fails.
char *TiiUrlB64Encode(const char *text);

// Converts text in place to the standard alphabet (TiiUrlToB64), then
// decodes it. Returns a new zero-filled buffer of (length / 4) * 3 + 1 bytes
// (the caller frees it; bytes after a decoded NUL are there but callers read
// it as a string); null with last error -1001 for a null text, -1011 when
// the text is not base64.
char *TiiUrlB64Decode(char *text);

// In place: "-" -> "+", "_" -> "/", "~" -> "=". 0; -1001 (also the last
// error) for a null text.
int TiiUrlToB64(char *text);

// In place: "+" -> "-", "/" -> "_", "=" -> "~". 0; -1001 (also the last
// error) for a null text.
int TiiB64ToUrl(char *text);
