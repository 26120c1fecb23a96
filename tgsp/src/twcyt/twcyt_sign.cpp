// Signing contexts, provider hashing and the provider list.
#include "twcyt/twcyt_sign.h"

#include "plat_lasterror.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pc = plat::crypt;

enum { SIGN_BUF = 256, HASH_BUF = 256 };

static const char *const kAesProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";

twcyt_signctx *twcyt_signctx_new(void) {
    return static_cast<twcyt_signctx *>(tcore_zalloc(sizeof(twcyt_signctx)));
}

static void dropKey(twcyt_signctx *ctx) {
    if (ctx->prov && ctx->provOwned) pc::releaseContext(ctx->prov);
    ctx->prov = nullptr;
    ctx->provOwned = 0;
    ctx->keySpec = 0;
}

void twcyt_signctx_free(twcyt_signctx *ctx) {
    if (!ctx) return;
    dropKey(ctx);
    free(ctx);
}

// Opens the key through user properties 0 (provider) and 1 (container).
static int bindByUserProps(twcyt_signctx *ctx, twcyt_certctx *cert) {
    // One byte more than a property fills: a stored value without its
    // terminator (the store is a file) still ends inside the buffer.
    char provider[257] = {0}, container[257] = {0};
    if (twcyt_cert_userPropCount(cert) < 2 || twcyt_cert_getUserProp(cert, 0, provider) < 0 ||
        twcyt_cert_getUserProp(cert, 1, container) < 0) {
        TCORE_LOG_SYSERR("CryptAcquireCertificatePrivateKey");
        return TWCYT_ERR_NO_PRIVATE_KEY;
    }
    pc::Provider *prov = nullptr;
    if (!pc::acquireContext(&prov, container, provider, pc::PROV_RSA_FULL, 0)) {
        TCORE_LOG_SYSERR("CryptAcquireContext");
        return TWCYT_ERR_CSP_OPEN;
    }
    pc::Key *key = nullptr;
    int keySpec = pc::AT_SIGNATURE;
    if (!pc::getUserKey(prov, pc::AT_SIGNATURE, &key)) {
        keySpec = pc::AT_KEYEXCHANGE;
        if (!pc::getUserKey(prov, pc::AT_KEYEXCHANGE, &key)) {
            TCORE_LOG_SYSERR("CryptGetUserKey");
            pc::releaseContext(prov);
            return TWCYT_ERR_CONTAINER_NO_KEY;
        }
    }
    pc::destroyKey(key);
    ctx->prov = prov;
    ctx->provOwned = 1;
    ctx->keySpec = keySpec;
    return 0;
}

int twcyt_signctx_setCert(twcyt_signctx *ctx, twcyt_certctx *cert) {
    TCORE_CHECK_NULL(ctx);
    TCORE_CHECK_NULL(cert);
    dropKey(ctx);
    ctx->cert = cert;
    ctx->certOwned = 0;
    pc::Provider *prov = nullptr;
    uint32_t keySpec = 0;
    bool callerFree = false;
    if (pc::acquireCertificatePrivateKey(cert, pc::ACQUIRE_CACHE, &prov, &keySpec, &callerFree)) {
        ctx->prov = prov;
        ctx->provOwned = callerFree ? 1 : 0;
        ctx->keySpec = static_cast<int>(keySpec);
    } else {
        int rc = bindByUserProps(ctx, cert);
        if (rc < 0) {
            ctx->cert = nullptr;
            return rc;
        }
    }
    if (twcyt_cert_isSm2(cert)) ctx->digestKid = TOPL_KID_SM3;
    return 0;
}

// Signs the hash into a 256-byte buffer and copies it out. Destroys the hash.
static int signAndCopy(twcyt_signctx *ctx, pc::Hash *hash, unsigned char *out) {
    unsigned char sig[SIGN_BUF];
    uint32_t len = sizeof sig;
    bool ok = pc::signHash(hash, static_cast<uint32_t>(ctx->keySpec), sig, &len);
    if (!ok) TCORE_LOG_SYSERR("CryptSignHash");
    pc::destroyHash(hash);
    if (!ok) return TWCYT_ERR_SIGN;
    if (out) {
        if (len > TWCYT_SIG_MAX) return TCORE_ERR_BUFFER_SMALL;
        memcpy(out, sig, len);
    }
    return static_cast<int>(len);
}

static int createHash(twcyt_signctx *ctx, pc::Hash **hash) {
    if (!pc::createHash(ctx->prov, topl_alg_kid2calg(ctx->digestKid), hash)) {
        TCORE_LOG_SYSERR("CryptCreateHash");
        return TWCYT_ERR_CREATE_HASH;
    }
    return 0;
}

int twcyt_signctx_sign(twcyt_signctx *ctx, const unsigned char *data, int len, unsigned char *out) {
    TCORE_CHECK_NULL(ctx);
    TCORE_CHECK_NULL(data);
    TCORE_CHECK_POSITIVE(len);
    if (!ctx->cert || !ctx->prov) return TWCYT_ERR_NO_KEY_BOUND;
    pc::Hash *hash = nullptr;
    int rc = createHash(ctx, &hash);
    if (rc < 0) return rc;
    if (!pc::hashData(hash, data, static_cast<size_t>(len))) {
        TCORE_LOG_SYSERR("CryptHashData");
        pc::destroyHash(hash);
        return TWCYT_ERR_HASH_DATA;
    }
    return signAndCopy(ctx, hash, out);
}

int twcyt_signctx_signHash(twcyt_signctx *ctx, const unsigned char *digest, int len, unsigned char *out) {
    TCORE_CHECK_NULL(ctx);
    TCORE_CHECK_NULL(digest);
    TCORE_CHECK_POSITIVE(len);
    if (!ctx->cert || !ctx->prov) return TWCYT_ERR_NO_KEY_BOUND;
    pc::Hash *hash = nullptr;
    int rc = createHash(ctx, &hash);
    if (rc < 0) return rc;
    unsigned char size[4] = {0};
    uint32_t sizeLen = sizeof size;
    if (!pc::getHashParam(hash, pc::HP_HASHSIZE, size, &sizeLen)) {
        TCORE_LOG_SYSERR("CryptGetHashParam");
        pc::destroyHash(hash);
        return TWCYT_ERR_GET_HASH_PARAM;
    }
    int hashSize = size[0] | (size[1] << 8) | (size[2] << 16) | (size[3] << 24);
    if (len != hashSize) {
        TCORE_LOG("twcyt_signctx_signHash digest of %d bytes, algorithm %d needs %d", len, ctx->digestKid,
                  hashSize);
        pc::destroyHash(hash);
        return TWCYT_ERR_DIGEST_LEN;
    }
    if (!pc::setHashParam(hash, pc::HP_HASHVAL, digest, static_cast<uint32_t>(len))) {
        TCORE_LOG_SYSERR("CryptSetHashParam");
        pc::destroyHash(hash);
        return TWCYT_ERR_SET_HASH_PARAM;
    }
    return signAndCopy(ctx, hash, out);
}

// Opens the provider for hashing with its default container, creating the
// container when it does not exist yet. Null on failure (logged).
static pc::Provider *digestProvider(int kid) {
    bool sha2 = kid == TOPL_KID_SHA256 || kid == TOPL_KID_SHA384 || kid == TOPL_KID_SHA512;
    const char *name = sha2 ? kAesProvider : nullptr;
    uint32_t type = sha2 ? pc::PROV_RSA_AES : pc::PROV_RSA_FULL;
    pc::Provider *prov = nullptr;
    if (pc::acquireContext(&prov, nullptr, name, type, 0)) return prov;
    if (plat::lastError() == plat::PLAT_NTE_BAD_KEYSET &&
        pc::acquireContext(&prov, nullptr, name, type, pc::NEW_KEYSET))
        return prov;
    TCORE_LOG("CryptAcquireContext:%d", static_cast<int>(plat::lastError()));
    return nullptr;
}

int twcyt_digest(const unsigned char *data, int kid, int len, unsigned char *out) {
    TCORE_CHECK_NULL(data);
    if (len <= 0) len = static_cast<int>(strlen(reinterpret_cast<const char *>(data)));
    pc::Provider *prov = digestProvider(kid);
    if (!prov) return TWCYT_ERR_DIGEST_CSP;
    int rc = 0;
    pc::Hash *hash = nullptr;
    unsigned char value[HASH_BUF];
    uint32_t valueLen = sizeof value;
    if (!pc::createHash(prov, topl_alg_kid2calg(kid), &hash)) {
        TCORE_LOG_SYSERR("CryptCreateHash");
        rc = TWCYT_ERR_CREATE_HASH;
    } else if (!pc::hashData(hash, data, static_cast<size_t>(len))) {
        TCORE_LOG_SYSERR("CryptHashData");
        rc = TWCYT_ERR_HASH_DATA;
    } else if (!pc::getHashParam(hash, pc::HP_HASHVAL, value, &valueLen)) {
        TCORE_LOG_SYSERR("CryptGetHashParam");
        rc = TWCYT_ERR_GET_HASH_PARAM;
    } else if (out && valueLen > TWCYT_SIG_MAX) {
        rc = TCORE_ERR_BUFFER_SMALL;
    } else {
        if (out) memcpy(out, value, valueLen);
        rc = static_cast<int>(valueLen);
    }
    pc::destroyHash(hash);
    pc::releaseContext(prov);
    return rc;
}

int twcyt_csp_enumProviders(tcore_strlist **result) {
    TCORE_CHECK_NULL(result);
    *result = tcore_strlist_new();
    int count = 0;
    for (uint32_t index = 0;; index++) {
        std::string name;
        uint32_t type = 0;
        if (!pc::enumProviders(index, &name, &type)) {
            if (plat::lastError() == plat::PLAT_ERROR_NO_MORE_ITEMS) break;
            TCORE_LOG("CryptEnumProviders failed %X", static_cast<unsigned>(plat::lastError()));
            continue;
        }
        if (tcore_strlist_append(*result, name.c_str()) == 0) count++;
    }
    return count;
}

int twcyt_reverseHalves(unsigned char *buf, int len) {
    if (buf && len == 64) {
        std::reverse(buf, buf + 32);
        std::reverse(buf + 32, buf + 64);
    }
    return len;
}
