// RSA_public_decrypt is deprecated in OpenSSL 3 but still supported; this
// file alone opts out of the deprecation warnings.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "topl/topl_rsa.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"

#include <openssl/err.h>
#include <openssl/md5.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

int topl_rsa_kid2nid(int kid) {
    switch (kid) {
    case TOPL_KID_MD5: return NID_md5;
    case TOPL_KID_SHA1: return NID_sha1;
    case TOPL_KID_SHA256: return NID_sha256;
    case TOPL_KID_SHA512: return NID_sha512;
    case TOPL_KID_SHA384: return NID_sha384;
    default: return TOPL_ERR_ALG;
    }
}

int topl_rsa_nid2kid(int nid) {
    switch (nid) {
    case NID_md5: return TOPL_KID_MD5;
    case NID_sha1: return TOPL_KID_SHA1;
    case NID_md5_sha1: return TOPL_KID_MD5SHA1;
    case NID_sha256: return TOPL_KID_SHA256;
    case NID_sha384: return TOPL_KID_SHA384;
    case NID_sha512: return TOPL_KID_SHA512;
    default: return TOPL_ERR_ALG;
    }
}

int topl_rsa_kid2mdlen(int kid) {
    switch (kid) {
    case TOPL_KID_MD5: return 16;
    case TOPL_KID_SHA1: return 20;
    case TOPL_KID_SHA256: return 32;
    case TOPL_KID_SHA512: return 64;
    case TOPL_KID_SHA384: return 48;
    case TOPL_KID_MD5SHA1: return 36;
    default: return TOPL_ERR_ALG;
    }
}

namespace {

using OneShot = unsigned char *(*)(const unsigned char *, size_t, unsigned char *);

int oneShot(OneShot fn, int mdlen, int failCode, const unsigned char *data, int ndata, unsigned char *out, int nout) {
    if (!data || ndata < 0) return TCORE_ERR_ARG;
    if (!out) return mdlen;
    if (nout < mdlen) return TCORE_ERR_BUFFER_SMALL;
    memset(out, 0, static_cast<size_t>(nout));
    if (!fn(data, static_cast<size_t>(ndata), out)) {
        topl_opensslError();
        return failCode;
    }
    return mdlen;
}

// Digest of data for an OpenSSL NID into out (64 bytes); the length, or -150050.
int digestByNid(int nid, const unsigned char *data, int ndata, unsigned char *out) {
    switch (nid) {
    case NID_md5: return topl_md5(data, ndata, out, 64);
    case NID_sha1: return topl_sha1(data, ndata, out, 64);
    case NID_sha256: return topl_sha256(data, ndata, out, 64);
    case NID_sha384: return topl_sha384(data, ndata, out, 64);
    case NID_sha512: return topl_sha512(data, ndata, out, 64);
    default: return TOPL_ERR_ALG;
    }
}

struct SigFree {
    void operator()(X509_SIG *s) const { X509_SIG_free(s); }
};

// The decrypted signature: the octets to compare, and the DigestInfo's NID
// when the block was one (else NID_undef).
struct Decrypted {
    std::vector<unsigned char> block;
    std::unique_ptr<X509_SIG, SigFree> info;
    const unsigned char *digest = nullptr;
    int ndigest = 0;
    int nid = NID_undef;
};

bool blockTypeNot01(unsigned long e) {
    return ERR_GET_LIB(e) == ERR_LIB_RSA && ERR_GET_REASON(e) == RSA_R_BLOCK_TYPE_IS_NOT_01;
}

// Argument checks, key checks, decryption and the DigestInfo reading
// shared by both verifications. `beforeDecrypt` runs between the key checks
// and the RSA operation. Returns 0 or a code.
template <typename F>
int decryptSignature(const EVP_PKEY *pkey, const unsigned char *in, int nin, const unsigned char *sig, int nsig,
                     Decrypted *d, F beforeDecrypt) {
    if (!pkey || !in || !sig || nin <= 0 || nsig <= 0) return TCORE_ERR_ARG;
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return TOPL_ERR_KEY_TYPE;
    RSA *rsa = const_cast<RSA *>(EVP_PKEY_get0_RSA(pkey));
    if (!rsa) return TOPL_ERR_KEY_TYPE;
    int size = RSA_size(rsa);
    if (nsig != size) return TOPL_ERR_RSA_SIG_LEN;
    int rc = beforeDecrypt();
    if (rc != 0) return rc;

    // Room for any modulus size (at least the 1024 bytes of the classic buffer).
    d->block.assign(static_cast<size_t>(std::max(size, 1024)), 0);
    ERR_set_mark();
    int n = RSA_public_decrypt(nsig, sig, d->block.data(), rsa, RSA_PKCS1_PADDING);
    if (n < 0) {
        unsigned long e = ERR_peek_error();
        if (blockTypeNot01(e)) {
            ERR_pop_to_mark();
            TCORE_LOG("openssl error [67567722] , try rsa decrypt with nopadding");
            ERR_set_mark();
            n = RSA_public_decrypt(nsig, sig, d->block.data(), rsa, RSA_NO_PADDING);
        }
        if (n < 0) {
            topl_opensslError();
            ERR_pop_to_mark();
            return TOPL_ERR_RSA_DECRYPT;
        }
    }
    ERR_pop_to_mark();
    d->block.resize(static_cast<size_t>(n));

    ERR_set_mark();
    const unsigned char *p = d->block.data();
    d->info.reset(d2i_X509_SIG(nullptr, &p, n));
    ERR_pop_to_mark();
    if (d->info) {
        const X509_ALGOR *alg = nullptr;
        const ASN1_OCTET_STRING *dg = nullptr;
        X509_SIG_get0(d->info.get(), &alg, &dg);
        const ASN1_OBJECT *obj = nullptr;
        X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
        d->nid = OBJ_obj2nid(obj);
        d->digest = ASN1_STRING_get0_data(dg);
        d->ndigest = ASN1_STRING_length(dg);
    } else {
        d->digest = d->block.data();
        d->ndigest = n;
    }
    return 0;
}

bool sameOctets(const unsigned char *a, int na, const unsigned char *b, int nb) {
    return na == nb && (na == 0 || memcmp(a, b, static_cast<size_t>(na)) == 0);
}

}  // namespace

int topl_md5(const unsigned char *data, int ndata, unsigned char *out, int nout) {
    return oneShot(MD5, MD5_DIGEST_LENGTH, TOPL_ERR_MD5, data, ndata, out, nout);
}
int topl_sha1(const unsigned char *data, int ndata, unsigned char *out, int nout) {
    return oneShot(SHA1, SHA_DIGEST_LENGTH, TOPL_ERR_SHA1, data, ndata, out, nout);
}
int topl_sha256(const unsigned char *data, int ndata, unsigned char *out, int nout) {
    return oneShot(SHA256, SHA256_DIGEST_LENGTH, TOPL_ERR_SHA256, data, ndata, out, nout);
}
int topl_sha384(const unsigned char *data, int ndata, unsigned char *out, int nout) {
    return oneShot(SHA384, SHA384_DIGEST_LENGTH, TOPL_ERR_SHA384, data, ndata, out, nout);
}
int topl_sha512(const unsigned char *data, int ndata, unsigned char *out, int nout) {
    return oneShot(SHA512, SHA512_DIGEST_LENGTH, TOPL_ERR_SHA512, data, ndata, out, nout);
}

int topl_rsa_verify_byDigest(const EVP_PKEY *pkey, int *kid, const unsigned char *digest, int ndigest,
                             const unsigned char *sig, int nsig) {
    Decrypted d;
    int rc = decryptSignature(pkey, digest, ndigest, sig, nsig, &d, [&] {
        if (kid && *kid > 0 && ndigest != topl_rsa_kid2mdlen(*kid)) return TOPL_ERR_DIGEST_MISMATCH;
        return 0;
    });
    if (rc != 0) return rc;
    if (d.info && kid) *kid = topl_rsa_nid2kid(d.nid);
    return sameOctets(digest, ndigest, d.digest, d.ndigest) ? 0 : TOPL_ERR_RSA_BAD_SIG;
}

int topl_rsa_verify(const EVP_PKEY *pkey, int *kid, const unsigned char *data, int ndata, const unsigned char *sig,
                    int nsig) {
    Decrypted d;
    int rc = decryptSignature(pkey, data, ndata, sig, nsig, &d, [] { return 0; });
    if (rc != 0) return rc;

    int nid;
    if (d.info) {
        if (kid && *kid > 0 && d.nid != topl_rsa_kid2nid(*kid)) return TOPL_ERR_DIGEST_MISMATCH;
        if (kid) *kid = topl_rsa_nid2kid(d.nid);
        nid = d.nid;
    } else {
        nid = kid && *kid > 0 ? topl_rsa_kid2nid(*kid) : NID_sha1;
        if (nid < 0) return TOPL_ERR_ALG;
    }
    unsigned char md[64];
    int n = digestByNid(nid, data, ndata, md);
    if (n < 0) return n;
    return sameOctets(md, n, d.digest, d.ndigest) ? 0 : TOPL_ERR_RSA_BAD_SIG;
}
