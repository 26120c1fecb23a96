// SM2 curve, keys, Z / e and verification. The EC_KEY calls and the
// explicit-method group are deprecated in OpenSSL 3 but still supported;
// this file alone opts out of the deprecation warnings.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "topl/topl_sm2.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"
#include "topl/topl_sm3.h"

#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>
#include <mutex>

std::atomic<int> topl_sm2_rawOrder{1};

namespace {

topl_sm2_curve g_curve{};
std::mutex g_curveLock;  // serialises init / cleanup only; readers never lock

const char kHexP[] = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF";
const char kHexA[] = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC";
const char kHexB[] = "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93";
const char kHexXG[] = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
const char kHexN[] = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";
const char kSeed[] = "string to make the random number generator think it has entropy";

const unsigned char kDefaultId[] = TOPL_SM2_DEFAULT_ID;

struct BnFree {
    void operator()(BIGNUM *b) const { BN_free(b); }
};
struct BnCtxFree {
    void operator()(BN_CTX *c) const { BN_CTX_free(c); }
};
struct PointFree {
    void operator()(EC_POINT *p) const { EC_POINT_free(p); }
};
struct SigFree {
    void operator()(ECDSA_SIG *s) const { ECDSA_SIG_free(s); }
};
struct EcKeyFree {
    void operator()(EC_KEY *k) const { EC_KEY_free(k); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using SigPtr = std::unique_ptr<ECDSA_SIG, SigFree>;

BIGNUM *newBn() {
    BIGNUM *b = BN_new();
    if (!b) tcore_outOfMemory();
    return b;
}

void freeCurve(topl_sm2_curve *c) {
    BN_free(c->p);
    BN_free(c->a);
    BN_free(c->b);
    BN_free(c->xG);
    BN_free(c->yG);
    BN_free(c->n);
    EC_POINT_free(c->G);
    BN_CTX_free(c->bnCtx);
    EC_GROUP_free(c->group);
    *c = topl_sm2_curve{};
}

bool curveBuilt() { return g_curve.bnCtx != nullptr; }

// The EC_KEY inside an EC key object, or null.
EC_KEY *ecKeyOf(const EVP_PKEY *pkey) {
    if (!pkey || EVP_PKEY_get_base_id(pkey) != EVP_PKEY_EC) return nullptr;
    return const_cast<EC_KEY *>(EVP_PKEY_get0_EC_KEY(pkey));
}

EVP_PKEY *wrapKey(EC_KEY *key) {
    EVP_PKEY *pk = EVP_PKEY_new();
    if (!pk) tcore_outOfMemory();
    if (EVP_PKEY_set1_EC_KEY(pk, key) != 1) {
        topl_opensslError();
        EVP_PKEY_free(pk);
        return nullptr;
    }
    return pk;
}

// Runs a decoder whose failure is an answer, not an incident: its errors
// are dropped from the queue so they cannot be reported later as the cause
// of something else.
template <typename F>
auto quietly(F f) {
    ERR_set_mark();
    auto r = f();
    ERR_pop_to_mark();
    return r;
}

ECDSA_SIG *decodeDerSig(const unsigned char *sig, int siglen) {
    return quietly([&] {
        const unsigned char *p = sig;
        return d2i_ECDSA_SIG(nullptr, &p, siglen);
    });
}

// Loads r and s from 64 raw bytes into sig and verifies.
int verifyRawOnce(const EC_KEY *key, const unsigned char *dgst, int dgstlen, const unsigned char *raw, ECDSA_SIG *sig) {
    BIGNUM *r = BN_bin2bn(raw, 32, nullptr);
    BIGNUM *s = BN_bin2bn(raw + 32, 32, nullptr);
    if (!r || !s) {
        BN_free(r);
        BN_free(s);
        return TOPL_ERR_SM2_BN;
    }
    ECDSA_SIG_set0(sig, r, s);
    return topl_sm2_verify_core(key, dgst, dgstlen, sig);
}

// The raw attempt in the remembered order, then in the other order; a
// success of the second attempt flips the remembered order. raw keeps the
// order of the last attempt.
int verifyRawBothOrders(const EC_KEY *key, const unsigned char *dgst, int dgstlen, unsigned char *raw) {
    SigPtr sig(ECDSA_SIG_new());
    if (!sig) {
        ERR_raise(ERR_LIB_EC, ERR_R_MALLOC_FAILURE);
        TCORE_LOG("ECDSA_SIG_new return null");
        return TOPL_ERR_ALLOC;
    }
    if (topl_sm2_rawOrder.load() == 2) topl_sm2_swapHalves(raw);
    int rc = verifyRawOnce(key, dgst, dgstlen, raw, sig.get());
    if (rc == 0) return 0;
    topl_sm2_swapHalves(raw);
    rc = verifyRawOnce(key, dgst, dgstlen, raw, sig.get());
    if (rc == 0) topl_sm2_rawOrder.store(topl_sm2_rawOrder.load() == 2 ? 1 : 2);
    return rc;
}

// The final test (e + x1) mod n == r without turning the point into affine
// coordinates (which costs a field inversion): with the point as Jacobian
// (X, Y, Z), x1 = X / Z^2, and x1 mod n == v = (r - e) mod n holds exactly
// when X == x * Z^2 mod p for x = v or x = v + n (x1 < p, and v + n < p
// may also be a candidate).
int matchProjective(const EC_GROUP *group, const EC_POINT *point, const BIGNUM *r, const BIGNUM *e, const BIGNUM *n,
                    BN_CTX *ctx) {
    BN_CTX_start(ctx);
    BIGNUM *X = BN_CTX_get(ctx), *Z = BN_CTX_get(ctx), *v = BN_CTX_get(ctx), *w = BN_CTX_get(ctx);
    int rc = TOPL_ERR_SM2_BN;
    const BIGNUM *p = EC_GROUP_get0_field(group);
    if (!w || !p) goto done;
    if (EC_POINT_get_Jprojective_coordinates_GFp(group, point, X, nullptr, Z, ctx) != 1) {
        rc = TOPL_ERR_SM2_EC;
        goto done;
    }
    if (BN_mod_sqr(Z, Z, p, ctx) != 1 || BN_mod_sub(v, r, e, n, ctx) != 1) goto done;
    for (int k = 0; k < 2; ++k) {
        if (k == 1 && (BN_add(v, v, n) != 1 || BN_cmp(v, p) >= 0)) break;
        if (BN_mod_mul(w, v, Z, p, ctx) != 1) goto done;
        if (BN_cmp(w, X) == 0) {
            rc = 0;
            goto done;
        }
    }
    rc = TOPL_ERR_SM2_VERIFY;
done:
    BN_CTX_end(ctx);
    return rc;
}

}  // namespace

const topl_sm2_curve *topl_sm2_getCurve(void) { return &g_curve; }

int topl_sm2_init(void) {
    std::lock_guard<std::mutex> lock(g_curveLock);
    if (curveBuilt()) return 0;

    RAND_seed(kSeed, sizeof kSeed);  // 63 characters and the terminating zero

    topl_sm2_curve c{};
    c.p = newBn();
    c.a = newBn();
    c.b = newBn();
    c.xG = newBn();
    c.yG = newBn();
    c.n = newBn();
    if (!BN_hex2bn(&c.p, kHexP) || !BN_hex2bn(&c.a, kHexA) || !BN_hex2bn(&c.b, kHexB) ||
        !BN_hex2bn(&c.xG, kHexXG) || !BN_hex2bn(&c.n, kHexN)) {
        freeCurve(&c);
        return TOPL_ERR_SM2_CURVE_TEXT;
    }
    c.bnCtx = BN_CTX_new();
    c.group = EC_GROUP_new(EC_GFp_mont_method());
    if (!c.bnCtx || !c.group) {
        topl_opensslError();
        freeCurve(&c);
        return TOPL_ERR_SM2_EC;
    }
    if (BN_check_prime(c.p, c.bnCtx, nullptr) != 1) {
        freeCurve(&c);
        return TOPL_ERR_SM2_BN;
    }
    bool ok = EC_GROUP_set_curve_GFp(c.group, c.p, c.a, c.b, c.bnCtx) == 1 &&
              (c.G = EC_POINT_new(c.group)) != nullptr &&
              EC_POINT_set_compressed_coordinates_GFp(c.group, c.G, c.xG, 0, c.bnCtx) == 1 &&
              EC_POINT_is_on_curve(c.group, c.G, c.bnCtx) == 1 &&
              EC_GROUP_set_generator(c.group, c.G, c.n, BN_value_one()) == 1 &&
              EC_POINT_get_affine_coordinates_GFp(c.group, c.G, c.xG, c.yG, c.bnCtx) == 1 &&
              // Multiples of G, computed once here: every key takes a copy of
              // the group with them, which speeds up each verification.
              EC_GROUP_precompute_mult(c.group, c.bnCtx) == 1;
    if (!ok) {
        topl_opensslError();
        freeCurve(&c);
        return TOPL_ERR_SM2_EC;
    }
    g_curve = c;
    return 0;
}

int topl_sm2_cleanup(void) {
    std::lock_guard<std::mutex> lock(g_curveLock);
    freeCurve(&g_curve);
    return 0;
}

int topl_x509cert_isSm2(const X509 *cert) {
    if (!cert) return 0;
    X509_PUBKEY *xpk = X509_get_X509_PUBKEY(cert);
    ASN1_OBJECT *alg = nullptr;
    if (!xpk || X509_PUBKEY_get0_param(&alg, nullptr, nullptr, nullptr, xpk) != 1 || !alg) return 0;
    char text[255];
    if (OBJ_obj2txt(text, sizeof text, alg, 1) <= 0) return 0;
    return strcmp(text, "1.2.156.10197.1.301") == 0 || strcmp(text, "1.2.840.10045.2.1") == 0;
}

int topl_sm2key_setPubKey(const X509 *cert, EC_KEY *key) {
    if (!cert || !key) return TCORE_ERR_ARG;
    X509_PUBKEY *xpk = X509_get_X509_PUBKEY(cert);
    const unsigned char *pk = nullptr;
    int pklen = 0;
    if (!xpk || X509_PUBKEY_get0_param(nullptr, &pk, &pklen, nullptr, xpk) != 1 || !pk || pklen <= 0)
        return TCORE_ERR_ARG;
    if (!o2i_ECPublicKey(&key, &pk, pklen)) {
        topl_opensslError();
        return TOPL_ERR_SM2_EC;
    }
    return 0;
}

int topl_sm2key_attachCert(const X509 *cert, EVP_PKEY *pkey) {
    EC_KEY *key = ecKeyOf(pkey);
    if (!key) return TCORE_ERR_ARG;
    int rc = topl_sm2key_setPubKey(cert, key);
    if (rc != 0) {
        TCORE_LOG("topl_sm2key_setPubKey error %d", rc);
        return rc;
    }
    if (EC_KEY_check_key(key) != 1) {
        topl_opensslError();
        return TOPL_ERR_SM2_KEYCHECK;
    }
    return 0;
}

EVP_PKEY *topl_key_new_fromCert(const X509 *cert) {
    if (!cert) {
        TCORE_LOG("topl_key_new_fromCert arg is NULL");
        return nullptr;
    }
    std::unique_ptr<EC_KEY, EcKeyFree> key(EC_KEY_new());
    if (!key) tcore_outOfMemory();
    if (!curveBuilt() || EC_KEY_set_group(key.get(), g_curve.group) != 1) {
        TCORE_LOG("EC_KEY_set_group error");
        return nullptr;
    }
    int rc = topl_sm2key_setPubKey(cert, key.get());
    if (rc != 0) {
        TCORE_LOG("topl_sm2key_loadPubKey error %d", rc);
        return nullptr;
    }
    return wrapKey(key.get());
}

EVP_PKEY *topl_sm2key_fromDer(const unsigned char *der, int len) {
    if (!der || len < 0 || !curveBuilt()) return nullptr;
    std::unique_ptr<EC_KEY, EcKeyFree> key(EC_KEY_new());
    if (!key) return nullptr;
    EC_KEY *k = key.get();
    const unsigned char *p = der;
    if (EC_KEY_set_group(k, g_curve.group) != 1 || !d2i_ECPrivateKey(&k, &p, len)) {
        topl_opensslError();
        return nullptr;
    }
    return wrapKey(k);
}

int topl_sm2key_fromPkcs8(const PKCS8_PRIV_KEY_INFO *p8, EVP_PKEY **out) {
    if (!p8 || !out) return TCORE_ERR_ARG;
    *out = nullptr;
    const ASN1_OBJECT *algOid = nullptr;
    const unsigned char *pk = nullptr;
    int pklen = 0;
    const X509_ALGOR *alg = nullptr;
    if (PKCS8_pkey_get0(&algOid, &pk, &pklen, &alg, p8) != 1 || !alg) {
        topl_opensslError();
        return TOPL_ERR_P8_GET0;
    }
    int ptype = 0;
    const void *pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
    if (ptype != V_ASN1_OBJECT || !pval) {
        topl_opensslError();
        return TOPL_ERR_P8_PARAM;
    }
    char text[1024];
    if (OBJ_obj2txt(text, sizeof text, algOid, 1) <= 0) {
        topl_opensslError();
        return TOPL_ERR_P8_OID_TEXT;
    }
    if (strncmp(text, "1.2.840.10045.2.1", 17) != 0) {
        topl_opensslError();
        return TOPL_ERR_P8_NOT_SM2;
    }
    if (OBJ_obj2txt(text, sizeof text, static_cast<const ASN1_OBJECT *>(pval), 1) <= 0) {
        topl_opensslError();
        return TOPL_ERR_P8_OID_TEXT;
    }
    if (strncmp(text, "1.2.156.10197.1.301", 19) != 0) {
        topl_opensslError();
        return TOPL_ERR_P8_NOT_SM2;
    }
    EVP_PKEY *key = topl_sm2key_fromDer(pk, pklen);
    if (!key) {
        topl_opensslError();
        return TOPL_ERR_P8_KEY;
    }
    *out = key;
    return 0;
}

int topl_sm2key_getXY(const EVP_PKEY *pkey, BIGNUM **x, BIGNUM **y) {
    EC_KEY *key = ecKeyOf(pkey);
    if (!key || !x || !y || !curveBuilt()) return TCORE_ERR_ARG;
    const EC_POINT *pub = EC_KEY_get0_public_key(key);
    if (!pub) return TOPL_ERR_SM2_EC;
    BnPtr bx(newBn()), by(newBn());
    // Read over the process-wide group: a point of another curve is refused
    // here instead of yielding coordinates that Z would mix with SM2's a and b.
    if (EC_POINT_get_affine_coordinates(g_curve.group, pub, bx.get(), by.get(), nullptr) != 1) {
        topl_opensslError();
        return TOPL_ERR_SM2_EC;
    }
    *x = bx.release();
    *y = by.release();
    return 0;
}

int tol_sm2_sm3_preprocess1(const EVP_PKEY *pkey, const unsigned char *id, int idlen, unsigned char *out) {
    if (!pkey || !out) return TCORE_ERR_ARG;
    if (!id || idlen <= 0) {
        id = kDefaultId;
        idlen = TOPL_SM2_DEFAULT_ID_LEN;
    }
    if (idlen > 256 - 194) return TCORE_ERR_BUFFER_SMALL;  // no overflow for any idlen

    BIGNUM *x = nullptr, *y = nullptr;
    if (!ecKeyOf(pkey) || topl_sm2key_getXY(pkey, &x, &y) != 0) return TOPL_ERR_SM2_POINT;
    BnPtr bx(x), by(y);

    unsigned char buf[256] = {};
    int bits = idlen * 8;
    buf[0] = static_cast<unsigned char>(bits >> 8);
    buf[1] = static_cast<unsigned char>(bits);
    memcpy(buf + 2, id, static_cast<size_t>(idlen));
    unsigned char *q = buf + 2 + idlen;
    const BIGNUM *fields[] = {g_curve.a, g_curve.b, g_curve.xG, g_curve.yG, x, y};
    for (const BIGNUM *f : fields) {
        if (BN_bn2binpad(f, q, 32) != 32) return TOPL_ERR_SM2_POINT;
        q += 32;
    }
    topl_sm3_digest(buf, idlen + 194, out);
    return 32;
}

int tol_sm2_sm3_preprocess2(const EVP_PKEY *pkey, const unsigned char *msg, int msglen, const unsigned char *id,
                            int idlen, unsigned char *out) {
    if (!pkey || !msg || !out || msglen <= 0) return TCORE_ERR_ARG;
    int rc = tol_sm2_sm3_preprocess1(pkey, id, idlen, out);
    if (rc < 0) return rc;
    topl_sm3_ctx ctx;
    topl_sm3_init(&ctx);
    topl_sm3_update(&ctx, out, 32);
    topl_sm3_update(&ctx, msg, msglen);
    topl_sm3_final(&ctx, out);
    return 32;
}

int topl_sm2_verify_core(const EC_KEY *key, const unsigned char *dgst, int dgstlen, const ECDSA_SIG *sig) {
    if (!key || !dgst || !sig || dgstlen <= 0) return TCORE_ERR_ARG;
    const EC_GROUP *group = EC_KEY_get0_group(key);
    const EC_POINT *pub = EC_KEY_get0_public_key(key);
    if (!group || !pub) return TCORE_ERR_ARG;

    std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_new());
    if (!ctx) return TOPL_ERR_SM2_BN;
    BN_CTX_start(ctx.get());
    struct End {
        BN_CTX *c;
        ~End() { BN_CTX_end(c); }
    } end{ctx.get()};
    BIGNUM *n = BN_CTX_get(ctx.get());
    BIGNUM *R = BN_CTX_get(ctx.get());
    BIGNUM *t = BN_CTX_get(ctx.get());
    BIGNUM *e = BN_CTX_get(ctx.get());
    BIGNUM *x1 = BN_CTX_get(ctx.get());
    if (!x1) return TOPL_ERR_SM2_BN;
    if (EC_GROUP_get_order(group, n, ctx.get()) != 1) return TOPL_ERR_SM2_EC;

    const BIGNUM *r = nullptr, *s = nullptr;
    ECDSA_SIG_get0(sig, &r, &s);
    for (const BIGNUM *v : {r, s})
        if (!v || BN_is_zero(v) || BN_is_negative(v) || BN_ucmp(v, n) >= 0) return TOPL_ERR_SM2_SIG_RANGE;

    if (BN_mod_add_quick(t, r, s, n) != 1) return TOPL_ERR_SM2_BN;
    if (BN_is_zero(t)) return TOPL_ERR_SM2_SIG_RANGE;

    std::unique_ptr<EC_POINT, PointFree> point(EC_POINT_new(group));
    if (!point) return TOPL_ERR_SM2_EC;
    if (EC_POINT_mul(group, point.get(), s, pub, t, ctx.get()) != 1 || EC_POINT_is_at_infinity(group, point.get()))
        return TOPL_ERR_SM2_EC;

    int bits = BN_num_bits(n);
    if (dgstlen > bits / 8) dgstlen = (bits + 7) / 8;  // dgstlen * 8 could overflow
    if (!BN_bin2bn(dgst, dgstlen, e)) return TOPL_ERR_SM2_BN;
    if (dgstlen * 8 > bits && BN_rshift(e, e, 8 - (bits & 7)) != 1) return TOPL_ERR_SM2_BN;

    if (EC_GROUP_get_field_type(group) == NID_X9_62_prime_field) return matchProjective(group, point.get(), r, e, n, ctx.get());

    if (EC_POINT_get_affine_coordinates(group, point.get(), x1, nullptr, ctx.get()) != 1) return TOPL_ERR_SM2_EC;
    if (BN_mod_add(R, e, x1, n, ctx.get()) != 1) return TOPL_ERR_SM2_BN;
    return BN_cmp(R, r) == 0 ? 0 : TOPL_ERR_SM2_VERIFY;
}

int topl_sm2_sigIsDer(const unsigned char *sig, int siglen) {
    return sig && siglen > 2 && sig[0] == 0x30 && sig[1] + 2 == siglen;
}

int topl_sm2_swapHalves(unsigned char *buf) {
    if (!buf) return TCORE_ERR_ARG;
    for (int half = 0; half < 64; half += 32)
        for (int i = 0, j = 31; i < j; ++i, --j) {
            unsigned char tmp = buf[half + i];
            buf[half + i] = buf[half + j];
            buf[half + j] = tmp;
        }
    return 64;
}

// The argument checks the verify entry points share. A macro rather than a
// function so that the logged line names the entry point that was called.
#define TOPL_SM2_CHECK_VERIFY_ARGS()          \
    do {                                      \
        TCORE_CHECK_NULL(pubkey);             \
        TCORE_CHECK_NULL(pDigestData);        \
        TCORE_CHECK_POSITIVE(nDigestData);    \
        TCORE_CHECK_NULL(pSignData);          \
        TCORE_CHECK_POSITIVE(nSignData);      \
    } while (0)

int topl_sm2_verify_opl_byDigest_evp(const EVP_PKEY *pubkey, const unsigned char *pDigestData, int nDigestData,
                                     const unsigned char *pSignData, int nSignData) {
    TOPL_SM2_CHECK_VERIFY_ARGS();
    EC_KEY *key = ecKeyOf(pubkey);
    if (!key) return TCORE_ERR_ARG;
    SigPtr sig(decodeDerSig(pSignData, nSignData));
    if (!sig) return TOPL_ERR_SM2_SIG_DER;
    return topl_sm2_verify_core(key, pDigestData, nDigestData, sig.get());
}

int topl_sm2_verify_raw_byDigest_evp(const EVP_PKEY *pubkey, const unsigned char *pDigestData, int nDigestData,
                                     unsigned char *pSignData, int nSignData) {
    TOPL_SM2_CHECK_VERIFY_ARGS();
    if (nSignData < 64) return TOPL_ERR_SM2_SIG_SHORT;
    EC_KEY *key = ecKeyOf(pubkey);
    if (!key) return TCORE_ERR_ARG;
    return verifyRawBothOrders(key, pDigestData, nDigestData, pSignData);
}

int topl_sm2_verify_byDigest_evp(const EVP_PKEY *pubkey, const unsigned char *pDigestData, int nDigestData,
                                 unsigned char *pSignData, int nSignData) {
    TOPL_SM2_CHECK_VERIFY_ARGS();
    if (topl_sm2_sigIsDer(pSignData, nSignData)) {
        int rc = topl_sm2_verify_opl_byDigest_evp(pubkey, pDigestData, nDigestData, pSignData, nSignData);
        if (rc != TOPL_ERR_SM2_SIG_DER) return rc;
    }
    return topl_sm2_verify_raw_byDigest_evp(pubkey, pDigestData, nDigestData, pSignData, nSignData);
}

namespace {

bool badMessageArgs(const EVP_PKEY *pubkey, const unsigned char *msg, int msglen, const unsigned char *sig,
                    int siglen) {
    return !pubkey || !msg || !sig || msglen <= 0 || siglen <= 0;
}

}  // namespace

int topl_sm2_verify_opl(const EVP_PKEY *pubkey, const unsigned char *id, int idlen, const unsigned char *msg,
                        int msglen, const unsigned char *sig, int siglen) {
    if (badMessageArgs(pubkey, msg, msglen, sig, siglen)) return TCORE_ERR_ARG;
    EC_KEY *key = ecKeyOf(pubkey);
    if (!key) return TCORE_ERR_ARG;
    SigPtr decoded(decodeDerSig(sig, siglen));
    if (!decoded) return TOPL_ERR_SM2_SIG_DER;
    unsigned char e[32];
    int rc = tol_sm2_sm3_preprocess2(pubkey, msg, msglen, id, idlen, e);
    if (rc < 0) return rc;
    return topl_sm2_verify_core(key, e, 32, decoded.get());
}

int topl_sm2_verify_raw(const EVP_PKEY *pubkey, const unsigned char *id, int idlen, const unsigned char *msg,
                        int msglen, const unsigned char *sig, int siglen) {
    if (badMessageArgs(pubkey, msg, msglen, sig, siglen)) return TCORE_ERR_ARG;
    if (siglen < 64) return TOPL_ERR_SM2_SIG_SHORT;
    unsigned char raw[64];
    memcpy(raw, sig, sizeof raw);
    EC_KEY *key = ecKeyOf(pubkey);
    if (!key) return TCORE_ERR_ARG;
    unsigned char e[32];
    int rc = tol_sm2_sm3_preprocess2(pubkey, msg, msglen, id, idlen, e);
    if (rc < 0) return rc;
    return verifyRawBothOrders(key, e, 32, raw);
}

int topl_sm2_verify(const EVP_PKEY *pubkey, const unsigned char *id, int idlen, const unsigned char *msg,
                    int msglen, const unsigned char *sig, int siglen) {
    if (badMessageArgs(pubkey, msg, msglen, sig, siglen)) return TCORE_ERR_ARG;
    if (topl_sm2_sigIsDer(sig, siglen)) {
        int rc = topl_sm2_verify_opl(pubkey, id, idlen, msg, msglen, sig, siglen);
        if (rc != TOPL_ERR_SM2_SIG_DER) return rc;
    }
    return topl_sm2_verify_raw(pubkey, id, idlen, msg, msglen, sig, siglen);
}
