// Shared by the PKCS#7 parser and verifier; not part of the library's API.
#pragma once
#include <vector>

// A message given as DER or as base64 text (first character "M"): sets *der
// to the DER octets (the caller's, or the decoded copy kept in *owned) and
// returns their length, or the base64 decoder's negative code.
int topl_p7_toDer(const unsigned char *p7, int len, std::vector<unsigned char> *owned,
                  const unsigned char **der);
