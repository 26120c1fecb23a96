// Algorithm identifiers ("kid") shared by every module of the library, the
// tables that map them, and the OpenSSL error reporter.
//
// All tables are constant and may be used from any thread.
#pragma once

// Digests (1xx).
#define TOPL_KID_MD5          101
#define TOPL_KID_SHA1         102
#define TOPL_KID_SHA256       103
#define TOPL_KID_SHA512       104   // note: 104 is SHA-512 ...
#define TOPL_KID_SHA384       105   // ... and 105 is SHA-384
#define TOPL_KID_MD5SHA1      108   // MD5 and SHA-1 together (36 bytes)
#define TOPL_KID_SM3          110
#define TOPL_KID_SM3_2        111   // SM3, second OID 1.2.156.10197.1.401.1
// Public-key algorithms (2xx).
#define TOPL_KID_RSA          201
#define TOPL_KID_SHA1RSA      202
#define TOPL_KID_SM2          210   // SM2 public key
#define TOPL_KID_SM2_SIGN     211
#define TOPL_KID_SM2_ENC      212
// Symmetric ciphers (3xx).
#define TOPL_KID_SM4          311
#define TOPL_KID_SM4_ECB      312
#define TOPL_KID_SM4_CBC      313
#define TOPL_KID_DES_EDE_ECB  322
#define TOPL_KID_DES_EDE3_CBC 323
#define TOPL_KID_DES_EDE3_ECB 324
#define TOPL_KID_AES256_ECB   332
#define TOPL_KID_AES256_CBC   333
#define TOPL_KID_AES128_CBC   335
// Signature algorithms (6xx) and stream ciphers.
#define TOPL_KID_SM3SM2       610
#define TOPL_KID_RC4          620

// CryptoAPI ALG_ID values handed out by topl_alg_kid2calg.
#define TOPL_CALG_MD5      0x8003u
#define TOPL_CALG_SHA1     0x8004u
#define TOPL_CALG_SSL3_SHAMD5 0x8008u
#define TOPL_CALG_SHA256   0x800Cu
#define TOPL_CALG_SHA384   0x800Du
#define TOPL_CALG_SHA512   0x800Eu
#define TOPL_CALG_SM3      0x800Fu

// Dotted OID text -> kid. Walks the 21-row table in its fixed order and
// returns the kid of the first row whose OID text BEGINS WITH `oid` (exactly
// strlen(oid) characters are compared), so every complete OID finds its own
// row, "1.2.156.10197.1.30" finds 210 and "" finds 101.
// Returns the kid; -150050 when no row matches; -10002 for a null text.
int topl_alg_oid2kid(const char *oid);

// RSA signature-algorithm OID (whole-string comparison) -> digest kid:
// ...1.1.4 -> 101, ...1.1.5 -> 102, ...1.1.11 -> 103, ...1.1.12 -> 105,
// ...1.1.13 -> 104. Returns the kid; -150050 otherwise (also for null).
int topl_alg_sigOid2kid(const char *oid);

// kid -> CryptoAPI ALG_ID. Never fails: kids without an entry of their own
// (102, 111 and unknown ones) give 0x8004 (SHA-1).
unsigned int topl_alg_kid2calg(int kid);

// Dotted OID text of kid's own table row, or null when the kid has none.
// The text is a constant.
const char *topl_alg_kid2oid(int kid);

// The OIDs that describe a PKCS#7 message. Every pointer refers to a
// constant text owned by the library; sigParamOid null means a NULL parameter.
struct topl_p7oids {
    const char *digestOid;
    const char *sigAlgOid;
    const char *sigParamOid;
    const char *dataOid;
    const char *signedDataOid;
};

// Fill a caller-owned record for an RSA message with digest `kid` (101, 103,
// 104, 105 have their OIDs; any other kid gives SHA-1). Nothing is allocated.
// Returns `rec` (a null record is ignored and null returned).
topl_p7oids *topl_p7oids_setRsa(topl_p7oids *rec, int kid);
// Same for an SM2 message (SM3 digest, SM2 signature, the GM/T content types).
topl_p7oids *topl_p7oids_setSm2(topl_p7oids *rec);

// Takes the oldest error off the calling thread's OpenSSL error queue
// (exactly one; the rest stays). When there was one, logs
// "\nOPENSSL ERROR: [%d] %s\n" with the code and ERR_error_string's text.
// Returns the code taken, 0 when the queue was empty.
unsigned long topl_opensslError(void);
