// Base64 (RFC 4648 alphabet, "=" padding, no line breaks), hexadecimal text
// and byte-order reversal over caller-supplied buffers.
#pragma once

// Writes the base64 text of `in` to `out`. inLen <= 0 takes strlen(in).
// The whole of out is zero-filled first; the text is NUL-terminated only
// when outSize exceeds the character count.
// Returns the number of characters written;
//   -10002 null in or out; -10003 outSize below (inLen + 2) / 3 * 4.
int tcore_base64_encode(char *out, const char *in, int inLen, int outSize);

// Decodes base64 text. inLen <= 0 takes strlen(in). Blank, tab, CR and LF
// are skipped wherever they stand; trailing "-" characters are dropped.
// With out null, returns the capacity needed ((length / 4) * 3). Otherwise
// returns the decoded byte count (pad positions are written as zero bytes
// but not counted);
//   -10002 null in; -10003 out smaller than the capacity or a length that is
//   not a multiple of 4; -110004 invalid character (earlier groups written).
int tcore_base64_decode(unsigned char *out, const char *in, int inLen, int outSize);

// Upper-case hexadecimal of `in`, high nibble first. With out null returns
// 2 * inLen. Otherwise out is zero-filled and written (terminated).
// Returns 2 * inLen; -10002 null in or inLen <= 0; -1 outSize below 2 * inLen + 1.
int tcore_bytesToHexString(int outSize, char *out, int inLen, const unsigned char *in);

// Reverses len bytes in place. 0; -10002 null buffer or len <= 0.
int tcore_reverseBytes(int len, unsigned char *buf);
