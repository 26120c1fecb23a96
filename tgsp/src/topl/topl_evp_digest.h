// Digest contexts named by kid over OpenSSL's message-digest contexts,
// with SM3 served by the library's own SM3 (an OpenSSL digest method of
// type 2000, topl_sm3_md), and the SM3-with-SM2 digest SM3(Z || message).
//
// Digest table (searched in this order): 101 MD5 (NID 4, 16 bytes), 102
// SHA-1 (64, 20), 105 SHA-384 (673, 48), 103 SHA-256 (672, 32), 104
// SHA-512 (674, 64), 110 SM3 (2000, 32). Any other kid is refused.
//
// Calling order: new, init (or topl_sm3WithSm2_digest_init for an SM3
// context), update..., final, free. final also cleans the OpenSSL context,
// so a context is used again only after a new init.
#pragma once
#include <openssl/evp.h>

#include "topl/topl_x509.h"

#define TOPL_SM3_NID 2000

struct topl_evp_digest_ctx {
    int kid;              // the kid the context was made for
    EVP_MD_CTX *mdctx;    // owned; OpenSSL 3 contexts are opaque, so held by pointer
    const EVP_MD *md;     // constant method of that kid (never freed)
};

// The library's SM3 as an OpenSSL digest method (type 2000, 32-byte
// digest, 64-byte blocks). Constant, shared by all threads.
const EVP_MD *topl_sm3_md(void);

// Table lookups. -152401 (logged "topl_evp_digest_alg_kid2md unkown kid
// %d error %d") for a kid not in the table.
int topl_evp_digest_alg_kid2nid(int kid);
int topl_evp_digest_alg_kid2mdlen(int kid);
// Constant method for a kid, or null (logged) when none exists.
const EVP_MD *topl_evp_digest_alg_kid2EvpMd(int kid);

// New context (caller frees with topl_evp_digest_free), or null when the
// kid has no digest method.
topl_evp_digest_ctx *topl_evp_digest_new(int kid);
// Cleans and frees the context; null is ignored.
void topl_evp_digest_free(topl_evp_digest_ctx *ctx);

// 0; -10002 null context; -152404 EVP_DigestInit failed.
int topl_evp_digest_init(topl_evp_digest_ctx *ctx);
// 0; -10002 null context or input, or nin <= 0; -152405 update failed.
int topl_evp_digest_update(topl_evp_digest_ctx *ctx, const unsigned char *in, int nin);
// Writes the full digest to out (nmaxout is not compared with its size).
// Returns the digest length; -10002 null context/out or nmaxout <= 0;
// -152406 final failed.
int topl_evp_digest_final(topl_evp_digest_ctx *ctx, unsigned char *out, int nmaxout);
// One-shot digest. Returns the length; -10002 null in/out; -10003 nin or
// nmaxout <= 0; -152401 unknown kid; -152407 nmaxout below the digest
// length (nothing written); or the code of a failing step.
int topl_evp_digest_once(int kid, const unsigned char *in, int nin, unsigned char *out, int nmaxout);

// Starts an SM3 context (made for kid 110) on Z of the record's certificate
// key: the record's pKey is created from pCert when null and stays cached
// in the record. id null or idlen <= 0: the default ID.
// 0; -10002 null ctx, pStore or pStore->pCert; -150007 certificate without
// an SM2/EC key; or the code of init, Z (e.g. -10003 ID longer than 62
// bytes, -10002 no key) or update (each logged).
int topl_sm3WithSm2_digest_init(topl_evp_digest_ctx *ctx, topl_keystore *pStore, const unsigned char *id, int idlen);
// SM3(Z || in) into out. Returns 32; -10002 null record/in/out; -10003 nin
// or nmaxout <= 0; -152407 nmaxout below 32; -152401 no SM3 context; or
// the code of a failing step.
int topl_sm3WithSm2_digest_once(topl_keystore *pStore, const unsigned char *in, int nin, const unsigned char *id,
                                int idlen, unsigned char *out, int nmaxout);
