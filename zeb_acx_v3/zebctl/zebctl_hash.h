// API methods that hash data and files and set the digest algorithm by
// name. Each reads its fields from the request field list, sets the last
// error and returns it (0 on success); results go to hashData of the API
// state as URL-safe base64 of the base64 digest.
//
// Fields (URL-safe base64 unless said otherwise; required fields that are
// missing or empty give -1001):
//   Tii_CreatHash         filePath                 global digest; the path bytes as they are
//   Tii_CreatHashEx       filePath, algType (name) named digest, else the global one
//   Tii_CreateHashData    oriData                  global digest
//   Tii_CreateHashDataEx  oriData, algType (0-5)   coded digest; other codes -2035
//   Tii_InitEx            algType (name, optional) clears the results, sets the digest
//   Tii_SetSignHash       algType (name)           sets the digest; -2035 unknown name
// File paths other than Tii_CreatHash's are UTF-8 and converted to the
// system's code page (-1008 when that fails). Data is taken up to its first
// NUL byte. Other codes: -1011 undecodable base64, -1013 missing,
// unreadable or empty file, the engine's digest codes (zeb_acx_hash.h).
#pragma once

struct tcore_list;

int Tii_CreatHash(tcore_list *fields);
int Tii_CreatHashEx(tcore_list *fields);
int Tii_CreateHashData(tcore_list *fields);
int Tii_CreateHashDataEx(tcore_list *fields);
int Tii_InitEx(tcore_list *fields);
int Tii_SetSignHash(tcore_list *fields);

// Digest id of a numeric algorithm code as pages send it in "algType",
// read the way atoi reads it: 0 SHA1 (102), 1 SHA256 (103), 2 MD5 (101),
// 3 SHA384 (105), 4 SHA512 (104), 5 SM3 (110); text without leading digits
// reads as 0. Returns the id; -2035 for any other code; -1001 for null.
int TiiDigestIdOfCode(const char *code);
