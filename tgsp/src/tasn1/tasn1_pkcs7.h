// Building blocks of the library's own PKCS#7 SignedData encoder: the
// IssuerAndSerialNumber and the SignerInfo of a signer certificate, each as a
// new complete-TLV item.
//
// Ownership: every item returned here is new, and so are its bytes; the caller
// releases both with tasn1_item_free.
#pragma once
#include "tasn1/tasn1.h"

// SEQUENCE { issuer, serialNumber }, both copied octet for octet from the
// certificate DER (a version 3 certificate: the tbsCertificate children
// 1 and 3). Null when a read fails.
tasn1_item *tasn1_pkcs7_issuerAndSn_new(const unsigned char *cert, int ncert);

// SignerInfo SEQUENCE { INTEGER 1, issuerAndSerialNumber,
// AlgorithmIdentifier(digestKid), AlgorithmIdentifier(signKid),
// OCTET STRING sig }. No signed or unsigned attributes. Null when the
// certificate cannot be read or an id has no AlgorithmIdentifier (logged).
tasn1_item *tasn1_pkcs7_signerInfo_new(const unsigned char *cert, int ncert,
                                       const unsigned char *sig, int nsig,
                                       int digestKid, int signKid);
