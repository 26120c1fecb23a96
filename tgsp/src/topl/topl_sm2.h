// SM2 (GM/T 0003-2012): the process-wide curve, SM2 key objects, the
// identity hash Z and message hash e, and signature verification in DER
// (ECDSA_SIG) and raw (64 bytes r || s) form. Signing happens in the key
// stores; this module only verifies.
//
// Key objects are OpenSSL EVP_PKEY objects of type EC holding an EC_KEY
// bound to a copy of the process-wide group (which includes the group's
// precomputed multiples of the generator). Whoever receives one owns it and
// frees it with EVP_PKEY_free.
//
// Default user ID: when a caller gives no ID (null or length <= 0) the 16
// bytes "1234567812345678" are used.
#pragma once
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>

#define TOPL_SM2_DEFAULT_ID     "1234567812345678"
#define TOPL_SM2_DEFAULT_ID_LEN 16

// The process-wide SM2 domain parameters; all null until topl_sm2_init
// succeeds. Read-only for everyone but topl_sm2_init / topl_sm2_cleanup.
struct topl_sm2_curve {
    BN_CTX *bnCtx;     // its presence marks the curve as built
    EC_GROUP *group;   // prime-field Montgomery group with precomputed generator multiples
    BIGNUM *p, *a, *b, *xG, *yG, *n;
    EC_POINT *G;
};

// The curve (never null; its fields are null while unbuilt).
const topl_sm2_curve *topl_sm2_getCurve(void);

// Byte order of raw signatures that last succeeded after a retry: 1 (the
// initial value) = each 32-byte half big-endian as stored; 2 = each half
// byte-reversed. Shared by topl_sm2_verify_raw and topl_sm2_verify_raw_byDigest_evp.
extern std::atomic<int> topl_sm2_rawOrder;

// Builds the curve (idempotent: 0 at once when built). Seeds OpenSSL's
// random generator, parses p, a, b, xG, n, checks p is prime, builds the
// group and G (yG computed from xG), and precomputes multiples of G.
// Returns 0; -150401 parameter text not parsable; -150402 p not prime or a
// big-number failure; -150403 EC failure. On failure nothing stays built.
int topl_sm2_init(void);
// Frees the curve; the curve is unbuilt until the next topl_sm2_init.
// Keys made earlier keep working (they hold copies of the group). Returns 0.
int topl_sm2_cleanup(void);

// 1 when the certificate's public-key algorithm OID is 1.2.156.10197.1.301
// or 1.2.840.10045.2.1 (so every EC certificate counts), else 0 (also null).
int topl_x509cert_isSm2(const X509 *cert);

// Decodes the certificate's public-key bit string into `key` (which must
// have its group). 0; -10002 missing certificate, key or public key;
// -150403 not decodable on the key's group (the OpenSSL error is logged).
int topl_sm2key_setPubKey(const X509 *cert, EC_KEY *key);

// Gives the private-key object `pkey` (made by topl_sm2key_fromDer) the
// certificate's public key, then checks the key pair. Changes pkey in
// place. 0; -10002 missing argument or no EC key; the code of
// topl_sm2key_setPubKey (logged "topl_sm2key_setPubKey error %d");
// -150405 the pair does not match.
int topl_sm2key_attachCert(const X509 *cert, EVP_PKEY *pkey);

// New SM2 public-key object from a certificate; null (logged) for a null
// certificate, an unbuilt curve or a key that is not a point of the SM2 curve.
EVP_PKEY *topl_key_new_fromCert(const X509 *cert);

// New SM2 private-key object from DER ECPrivateKey bytes (keys without
// curve parameters take the SM2 group). Null for null bytes, len < 0, an
// unbuilt curve or unreadable DER.
EVP_PKEY *topl_sm2key_fromDer(const unsigned char *der, int len);

// SM2 private key from an OpenSSL PKCS#8 structure; *out receives a new key
// object the caller owns. 0; -10002 missing argument; -152701 structure
// unreadable; -152702 parameter not an OID; -152703 algorithm not
// 1.2.840.10045.2.1 or curve not 1.2.156.10197.1.301; -152730 OID not
// convertible to text; -152704 key octets not readable. One OpenSSL error
// is reported (logged) on every failure.
int topl_sm2key_fromPkcs8(const PKCS8_PRIV_KEY_INFO *p8, EVP_PKEY **out);

// Affine coordinates of the key's public point over the process-wide
// group: *x and *y are new big numbers the caller frees. 0; -10002 missing
// argument, no EC key or an unbuilt curve; -150403 point not readable (also
// a point of another curve).
int topl_sm2key_getXY(const EVP_PKEY *pkey, BIGNUM **x, BIGNUM **y);

// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA) into out (32
// bytes). Returns 32; -10002 missing key or output; -10003 ID longer than 62
// bytes; -150406 public point not readable.
int tol_sm2_sm3_preprocess1(const EVP_PKEY *pkey, const unsigned char *id, int idlen, unsigned char *out);

// e = SM3(Z || message) into out (32 bytes). Returns 32; -10002 missing
// key, message or output, or msglen <= 0; the codes of preprocess1.
int tol_sm2_sm3_preprocess2(const EVP_PKEY *pkey, const unsigned char *msg, int msglen,
                            const unsigned char *id, int idlen, unsigned char *out);

// ---- verification: every function returns 0 when the signature is valid ----
//
// Codes: -10001 ECDSA_SIG_new failed; -10002 missing or non-positive
// argument, or a key object without EC key; -150402 big-number failure;
// -150403 EC failure; -150409 not decodable as DER; -150410 r or s out of
// [1, n-1] or r + s = 0 mod n; -150412 signature does not verify; -150414
// raw signature shorter than 64 bytes; and the codes of preprocess1/2.

// The SM2 verification equation over a digest with r and s.
int topl_sm2_verify_core(const EC_KEY *key, const unsigned char *dgst, int dgstlen, const ECDSA_SIG *sig);

// DER signature over a digest. Argument failures are logged.
int topl_sm2_verify_opl_byDigest_evp(const EVP_PKEY *pubkey, const unsigned char *pDigestData, int nDigestData,
                                     const unsigned char *pSignData, int nSignData);
// Raw signature (first 64 bytes) over a digest, in the order of
// topl_sm2_rawOrder first, then in the other order. Works on the caller's
// buffer: on return it holds the byte order of the last attempt.
int topl_sm2_verify_raw_byDigest_evp(const EVP_PKEY *pubkey, const unsigned char *pDigestData, int nDigestData,
                                     unsigned char *pSignData, int nSignData);
// DER when topl_sm2_sigIsDer says so and it decodes, otherwise raw (which
// may reorder the caller's buffer as above).
int topl_sm2_verify_byDigest_evp(const EVP_PKEY *pubkey, const unsigned char *pDigestData, int nDigestData,
                                 unsigned char *pSignData, int nSignData);

// DER signature over e = SM3(Z || msg). No log lines.
int topl_sm2_verify_opl(const EVP_PKEY *pubkey, const unsigned char *id, int idlen, const unsigned char *msg,
                        int msglen, const unsigned char *sig, int siglen);
// Raw signature over e, on a local copy (the caller's bytes are not changed).
int topl_sm2_verify_raw(const EVP_PKEY *pubkey, const unsigned char *id, int idlen, const unsigned char *msg,
                        int msglen, const unsigned char *sig, int siglen);
// DER or raw signature over e.
int topl_sm2_verify(const EVP_PKEY *pubkey, const unsigned char *id, int idlen, const unsigned char *msg,
                    int msglen, const unsigned char *sig, int siglen);

// 1 when sig looks like a short-form DER SEQUENCE filling siglen bytes
// (siglen > 2, sig[0] == 0x30, sig[1] + 2 == siglen), else 0.
int topl_sm2_sigIsDer(const unsigned char *sig, int siglen);
// Reverses bytes 0-31 and 32-63 of buf in place. Returns 64; -10002 for null.
int topl_sm2_swapHalves(unsigned char *buf);
