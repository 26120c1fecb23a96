// PKCS#1 v1.5 RSA signature verification, the one-shot digests and the
// small digest tables they use.
//
// Digest-id pointer ("kid" pointer, optional): on input a positive value
// names the digest the caller expects; on output, when the signature
// carried a DigestInfo, it receives the kid of the digest named there
// (-150050 when that NID has no kid).
#pragma once
#include <openssl/evp.h>

// kid 101-105 -> OpenSSL NID (4, 64, 672, 674, 673); -150050 otherwise.
int topl_rsa_kid2nid(int kid);
// NID 4, 64, 114, 672, 673, 674 -> kid (101, 102, 108, 103, 105, 104); -150050 otherwise.
int topl_rsa_nid2kid(int nid);
// kid 101-105 and 108 -> digest length (16, 20, 32, 64, 48, 36); -150050 otherwise.
int topl_rsa_kid2mdlen(int kid);

// One-shot digests of data[0..ndata) into out (capacity nout, cleared
// first). Return the digest length; with out null only the length.
// -10002 null data or ndata < 0; -10003 nout below the length; the
// function's own code when OpenSSL fails (MD5 -150063, SHA-1 -150061,
// SHA-256 -150062, SHA-384 -150068, SHA-512 -150069).
int topl_md5(const unsigned char *data, int ndata, unsigned char *out, int nout);
int topl_sha1(const unsigned char *data, int ndata, unsigned char *out, int nout);
int topl_sha256(const unsigned char *data, int ndata, unsigned char *out, int nout);
int topl_sha384(const unsigned char *data, int ndata, unsigned char *out, int nout);
int topl_sha512(const unsigned char *data, int ndata, unsigned char *out, int nout);

// Checks an RSA signature against a ready digest. The decrypted block is
// read as a DigestInfo when it is one (its digest is compared), else
// compared whole. A block whose PKCS#1 type is not 01 is decrypted again
// without padding (logged) and the raw block compared.
// 0 when valid; -10002 missing argument or length <= 0; -150007 key not
// RSA; -150044 nsig differs from the modulus size; -150064 ndigest differs
// from the length of the kid the pointer names; -150302 digest differs;
// -150303 RSA public decryption failed.
int topl_rsa_verify_byDigest(const EVP_PKEY *pkey, int *kid, const unsigned char *digest, int ndigest,
                             const unsigned char *sig, int nsig);

// Checks an RSA signature over data: hashes the data with the DigestInfo's
// digest (or the pointer's kid, else SHA-1, when the block has none).
// 0 when valid; the codes above, and -150050 (digest not supported),
// -150064 (DigestInfo digest differs from the pointer's kid).
int topl_rsa_verify(const EVP_PKEY *pkey, int *kid, const unsigned char *data, int ndata, const unsigned char *sig,
                    int nsig);
