// Signing and hashing through the providers of the software certificate
// store, and the provider list.
//
// Calling order for signing: twcyt_signctx_new, twcyt_signctx_setCert, set
// digestKid, then twcyt_signctx_sign / twcyt_signctx_signHash (as often as
// needed), then twcyt_signctx_free.
//
// Signatures are handed out as the provider gives them, least significant
// byte first: reverse an RSA signature as a whole (tcore_reverseBytes) and
// an SM2 signature (64 bytes r || s) per half (twcyt_reverseHalves) to get
// big-endian values.
//
// Results: a length or 0 on success; -10002 missing argument, -10003 output
// too small, -260xxx (twcyt_errors.h) as listed.
#pragma once
#include "plat_crypt.h"
#include "tcore/tcore_strlist.h"
#include "twcyt/twcyt_cert.h"

#define TWCYT_SIG_MAX 1024   // size of the out buffers of sign / signHash / digest

struct twcyt_signctx {
    int digestKid;               // 101 MD5, 102 SHA-1, 103 SHA-256, 104 SHA-512, 105 SHA-384, 110 SM3
    plat::crypt::Provider *prov; // provider handle of the private key
    int provOwned;               // the context releases prov
    int keySpec;                 // 1 exchange key, 2 signature key
    twcyt_certctx *cert;         // borrowed: never referenced or released here
    int certOwned;               // always 0
};

// New zero-filled context. Never null.
twcyt_signctx *twcyt_signctx_new(void);
// Releases the provider handle when owned, then the context. Null ignored.
void twcyt_signctx_free(twcyt_signctx *ctx);

// Binds the private key of `cert` (which must outlive the context): through
// the certificate's key-provider information, else through user properties
// 0 (provider) and 1 (container). An SM2 certificate sets digestKid to 110.
// 0; -10002; -260043 no reachable key; -260016 container cannot be opened;
// -260018 container without key. On failure the context holds no key.
int twcyt_signctx_setCert(twcyt_signctx *ctx, twcyt_certctx *cert);

// Hashes `data` with digestKid and signs. out (TWCYT_SIG_MAX bytes) may be
// null. Returns the signature length; -10002; -260101 no key bound;
// -260003; -260004; -260102 refused (also a signature over 256 bytes);
// -10003 over TWCYT_SIG_MAX.
int twcyt_signctx_sign(twcyt_signctx *ctx, const unsigned char *data, int len, unsigned char *out);
// Signs a ready digest of digestKid. As above, plus -260005; -260007 when
// len is not the algorithm's digest size; -260006.
int twcyt_signctx_signHash(twcyt_signctx *ctx, const unsigned char *digest, int len, unsigned char *out);

// Digest of `data` (len <= 0: its string length) computed by a provider:
// SHA-256/384/512 on the AES provider, others on the default type-1
// provider, each with its default key container (created when missing).
// out (TWCYT_SIG_MAX bytes) may be null. Returns the digest length; -10002
// null data; -260042 no provider; -260003; -260004; -260005; -10003.
int twcyt_digest(const unsigned char *data, int kid, int len, unsigned char *out);

// Names of the installed providers in enumeration order, in a new list
// stored through `result`. Returns the count; -10002 null result.
int twcyt_csp_enumProviders(tcore_strlist **result);

// Reverses each 32-byte half of a 64-byte buffer in place; other lengths
// leave it unchanged. Returns len.
int twcyt_reverseHalves(unsigned char *buf, int len);
