// EVP_MD_meth_* (a digest method of the library's own) is deprecated in
// OpenSSL 3 but still supported; this file alone opts out of the warnings.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "topl/topl_evp_digest.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"
#include "topl/topl_sm2.h"
#include "topl/topl_sm3.h"

#include <openssl/objects.h>

#include <cstdlib>
#include <cstring>

namespace {

struct DigestRow {
    int kid;
    int nid;
    int mdlen;
};

constexpr DigestRow kDigests[] = {
    {TOPL_KID_MD5, 4, 16},      {TOPL_KID_SHA1, 64, 20},    {TOPL_KID_SHA384, 673, 48},
    {TOPL_KID_SHA256, 672, 32}, {TOPL_KID_SHA512, 674, 64}, {TOPL_KID_SM3, TOPL_SM3_NID, 32},
};

const DigestRow *findRow(int kid) {
    for (const auto &row : kDigests)
        if (row.kid == kid) return &row;
    TCORE_LOG("topl_evp_digest_alg_kid2md unkown kid %d error %d", kid, TOPL_ERR_EVP_KID);
    return nullptr;
}

// The per-context area OpenSSL allocates for the method; topl_sm3_ctx lies at its start.
constexpr int kSm3AreaSize = 232;
static_assert(sizeof(topl_sm3_ctx) <= kSm3AreaSize, "SM3 context must fit the method's area");

topl_sm3_ctx *sm3Area(EVP_MD_CTX *ctx) {
    if (!ctx) {
        TCORE_LOG("arg null");
        return nullptr;
    }
    void *area = EVP_MD_CTX_get0_md_data(ctx);
    if (!area) TCORE_LOG("sm3ctx null");
    return static_cast<topl_sm3_ctx *>(area);
}

int sm3Init(EVP_MD_CTX *ctx) {
    topl_sm3_ctx *c = sm3Area(ctx);
    if (!c) return 0;
    memset(c, 0, kSm3AreaSize);
    topl_sm3_init(c);
    return 1;
}

int sm3Update(EVP_MD_CTX *ctx, const void *data, size_t count) {
    topl_sm3_ctx *c = sm3Area(ctx);
    if (!c) return 0;
    // Fed in pieces that fit the int length of topl_sm3_update.
    const auto *p = static_cast<const unsigned char *>(data);
    while (count > 0) {
        size_t n = count > (1u << 30) ? (1u << 30) : count;
        topl_sm3_update(c, p, static_cast<int>(n));
        p += n;
        count -= n;
    }
    return 1;
}

int sm3Final(EVP_MD_CTX *ctx, unsigned char *out) {
    topl_sm3_ctx *c = sm3Area(ctx);
    if (!c) return 0;
    topl_sm3_final(c, out);
    return 1;
}

struct Sm3Method {
    EVP_MD *md = nullptr;
    Sm3Method() {
        md = EVP_MD_meth_new(TOPL_SM3_NID, 0);
        if (!md) tcore_outOfMemory();
        EVP_MD_meth_set_result_size(md, 32);
        EVP_MD_meth_set_input_blocksize(md, 64);
        EVP_MD_meth_set_app_datasize(md, kSm3AreaSize);
        EVP_MD_meth_set_flags(md, 0);
        EVP_MD_meth_set_init(md, sm3Init);
        EVP_MD_meth_set_update(md, sm3Update);
        EVP_MD_meth_set_final(md, sm3Final);
    }
    ~Sm3Method() { EVP_MD_meth_free(md); }
};

}  // namespace

const EVP_MD *topl_sm3_md(void) {
    static const Sm3Method method;
    return method.md;
}

int topl_evp_digest_alg_kid2nid(int kid) {
    const DigestRow *row = findRow(kid);
    return row ? row->nid : TOPL_ERR_EVP_KID;
}

int topl_evp_digest_alg_kid2mdlen(int kid) {
    const DigestRow *row = findRow(kid);
    return row ? row->mdlen : TOPL_ERR_EVP_KID;
}

const EVP_MD *topl_evp_digest_alg_kid2EvpMd(int kid) {
    int nid = topl_evp_digest_alg_kid2nid(kid);
    if (nid < 0) {
        TCORE_LOG("topl_evp_digest_alg_kid2nid unkown kid %d kid(%d)", TOPL_ERR_EVP_KID, kid);
        return nullptr;
    }
    if (nid == TOPL_SM3_NID) return topl_sm3_md();
    const EVP_MD *md = EVP_get_digestbyname(OBJ_nid2sn(nid));
    if (!md) {
        topl_opensslError();
        TCORE_LOG("topl_evp_digest_alg_kid2EvpMd unkown nid %d kid(%d)", TOPL_ERR_EVP_NID, kid);
    }
    return md;
}

topl_evp_digest_ctx *topl_evp_digest_new(int kid) {
    auto *ctx = static_cast<topl_evp_digest_ctx *>(tcore_zalloc(sizeof(topl_evp_digest_ctx)));
    ctx->mdctx = EVP_MD_CTX_new();
    if (!ctx->mdctx) tcore_outOfMemory();
    const EVP_MD *md = topl_evp_digest_alg_kid2EvpMd(kid);
    if (!md) {
        topl_evp_digest_free(ctx);
        return nullptr;
    }
    ctx->kid = kid;
    ctx->md = md;
    return ctx;
}

void topl_evp_digest_free(topl_evp_digest_ctx *ctx) {
    if (!ctx) return;
    EVP_MD_CTX_free(ctx->mdctx);
    free(ctx);
}

int topl_evp_digest_init(topl_evp_digest_ctx *ctx) {
    TCORE_CHECK_NULL(ctx);
    if (EVP_DigestInit(ctx->mdctx, ctx->md) != 1) {
        topl_opensslError();
        TCORE_LOG("EVP_DigestInit fail %d", TOPL_ERR_EVP_INIT);
        return TOPL_ERR_EVP_INIT;
    }
    return 0;
}

int topl_evp_digest_update(topl_evp_digest_ctx *ctx, const unsigned char *in, int nin) {
    TCORE_CHECK_NULL(ctx);
    TCORE_CHECK_NULL(in);
    TCORE_CHECK_POSITIVE(nin);
    if (EVP_DigestUpdate(ctx->mdctx, in, static_cast<size_t>(nin)) != 1) {
        topl_opensslError();
        TCORE_LOG("EVP_DigestUpdate fail %d", TOPL_ERR_EVP_UPDATE);
        return TOPL_ERR_EVP_UPDATE;
    }
    return 0;
}

int topl_evp_digest_final(topl_evp_digest_ctx *ctx, unsigned char *out, int nmaxout) {
    TCORE_CHECK_NULL(ctx);
    TCORE_CHECK_NULL(out);
    TCORE_CHECK_POSITIVE(nmaxout);
    unsigned int n = 0;
    if (EVP_DigestFinal(ctx->mdctx, out, &n) != 1) {
        topl_opensslError();
        TCORE_LOG("EVP_DigestFinal fail %d", TOPL_ERR_EVP_FINAL);
        return TOPL_ERR_EVP_FINAL;
    }
    return static_cast<int>(n);
}

int topl_evp_digest_once(int kid, const unsigned char *in, int nin, unsigned char *out, int nmaxout) {
    if (!in || !out) return TCORE_ERR_ARG;
    if (nin <= 0 || nmaxout <= 0) return TCORE_ERR_BUFFER_SMALL;
    int mdlen = topl_evp_digest_alg_kid2mdlen(kid);
    if (mdlen < 0) return mdlen;
    if (nmaxout < mdlen) return TOPL_ERR_EVP_OUT_SMALL;
    topl_evp_digest_ctx *ctx = topl_evp_digest_new(kid);
    if (!ctx) return TOPL_ERR_EVP_KID;
    int rc = topl_evp_digest_init(ctx);
    if (rc >= 0) rc = topl_evp_digest_update(ctx, in, nin);
    if (rc >= 0) rc = topl_evp_digest_final(ctx, out, nmaxout);
    topl_evp_digest_free(ctx);
    return rc;
}

int topl_sm3WithSm2_digest_init(topl_evp_digest_ctx *ctx, topl_keystore *pStore, const unsigned char *id, int idlen) {
    TCORE_CHECK_NULL(ctx);
    TCORE_CHECK_NULL(pStore);
    TCORE_CHECK_NULL(pStore->pCert);
    if (!id || idlen <= 0) {
        id = reinterpret_cast<const unsigned char *>(TOPL_SM2_DEFAULT_ID);
        idlen = TOPL_SM2_DEFAULT_ID_LEN;
    }
    if (!topl_x509cert_isSm2(pStore->pCert)) {
        TCORE_LOG("topl_x509cert_isSm2 fail %d", TOPL_ERR_KEY_TYPE);
        return TOPL_ERR_KEY_TYPE;
    }
    if (!pStore->pKey) pStore->pKey = topl_key_new_fromCert(pStore->pCert);

    int rc = topl_evp_digest_init(ctx);
    if (rc < 0) {
        TCORE_LOG("topl_evp_digest_init fail %d", rc);
        return rc;
    }
    unsigned char z[32];
    int n = tol_sm2_sm3_preprocess1(pStore->pKey, id, idlen, z);
    if (n < 0) {
        TCORE_LOG("tol_sm2_sm3_preprocess1 fail %d", n);
        return n;
    }
    rc = topl_evp_digest_update(ctx, z, n);
    if (rc < 0) {
        TCORE_LOG("topl_sm3WithSm2_digest_update fail %d", rc);
        return rc;
    }
    return 0;
}

int topl_sm3WithSm2_digest_once(topl_keystore *pStore, const unsigned char *in, int nin, const unsigned char *id,
                                int idlen, unsigned char *out, int nmaxout) {
    if (!pStore || !in || !out) return TCORE_ERR_ARG;
    if (nin <= 0 || nmaxout <= 0) return TCORE_ERR_BUFFER_SMALL;
    // The digest is always 32 bytes; a smaller buffer would be overrun.
    if (nmaxout < 32) return TOPL_ERR_EVP_OUT_SMALL;
    topl_evp_digest_ctx *ctx = topl_evp_digest_new(TOPL_KID_SM3);
    if (!ctx) return TOPL_ERR_EVP_KID;
    int rc = topl_sm3WithSm2_digest_init(ctx, pStore, id, idlen);
    if (rc == 0) rc = topl_evp_digest_update(ctx, in, nin);
    if (rc == 0) {
        rc = topl_evp_digest_final(ctx, out, nmaxout);
        if (rc >= 0) rc = 32;
    }
    topl_evp_digest_free(ctx);
    return rc;
}
