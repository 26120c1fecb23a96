#include "zeb_acx_hash.h"

#include "tcore/tcore_base64.h"
#include "tcore/tcore_file.h"
#include "topl/topl_alg.h"
#include "topl/topl_sm3.h"
#include "twcyt/twcyt_errors.h"
#include "twcyt/twcyt_sign.h"
#include "zeb_acx_log.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

struct DigestName {
    const char *name;
    int kid;
};

// Lookup order of the digest names.
const DigestName kDigestNames[] = {
    {"MD5", TOPL_KID_MD5},       {"SHA1", TOPL_KID_SHA1},     {"SHA256", TOPL_KID_SHA256},
    {"SHA512", TOPL_KID_SHA512}, {"SHA384", TOPL_KID_SHA384}, {"SM3", TOPL_KID_SM3},
};

// The provider's digest codes in the engine's terms.
int mapDigestError(int rc) {
    switch (rc) {
    case TWCYT_ERR_DIGEST_CSP: return ZEB_ACX_ERR_DIGEST_CSP;
    case TWCYT_ERR_CREATE_HASH: return ZEB_ACX_ERR_CREATE_HASH;
    case TWCYT_ERR_HASH_DATA: return ZEB_ACX_ERR_HASH_DATA;
    case TWCYT_ERR_GET_HASH_PARAM: return ZEB_ACX_ERR_HASH_VALUE;
    default: return ZEB_ACX_ERR_HASH_DATA;
    }
}

// Raw digest into md (TWCYT_SIG_MAX bytes). Returns its length or an
// engine code.
int digest(const unsigned char *data, int len, int kid, unsigned char *md) {
    if (kid == TOPL_KID_SM3) {
        topl_sm3_digest(data, len, md);
        return TOPL_SM3_DIGEST_LENGTH;
    }
    int rc = twcyt_digest(data, kid, len, md);
    if (rc <= 0) {
        zeb_acx_log_error("twcyt_digest fail %d", rc);
        return mapDigestError(rc);
    }
    return rc;
}

// Base64 of the digest into out (ZEB_ACX_HASH_OUT_SIZE bytes).
int encode(const unsigned char *md, int mdLen, char *out) {
    // One byte short of the buffer, so the text always ends in a NUL.
    int rc = tcore_base64_encode(out, reinterpret_cast<const char *>(md), mdLen, ZEB_ACX_HASH_OUT_SIZE - 1);
    out[ZEB_ACX_HASH_OUT_SIZE - 1] = '\0';
    if (rc < 0) {
        zeb_acx_log_error("tcore_base64_encode fail %d", rc);
        return ZEB_ACX_ERR_B64_ENCODE;
    }
    return rc;
}

}  // namespace

int zeb_acx_setSignHashAlg(const char *name) {
    if (!name || !*name) return ZEB_ACX_ERR_ARG;
    for (const DigestName &d : kDigestNames) {
        if (strcasecmp(name, d.name) == 0) return d.kid;
    }
    return ZEB_ACX_ERR_DIGEST_NAME;
}

int zeb_acx_hash(const unsigned char *data, int len, int kid, char *hashData) {
    if (!data || !hashData) return ZEB_ACX_ERR_ARG;
    unsigned char md[TWCYT_SIG_MAX];
    int mdLen = digest(data, len, kid, md);
    if (mdLen < 0) return mdLen;
    return encode(md, mdLen, hashData);
}

int zeb_acx_hash_file(const char *path, unsigned char *out, int kid, int b64) {
    if (!path || !out) return ZEB_ACX_ERR_ARG;
    unsigned char *content = nullptr;
    int size = tcore_file_load(path, &content);
    if (size <= 0) {
        zeb_acx_log_error("tcore_file_load fail %d", size);
        free(content);
        return ZEB_ACX_ERR_FILE_READ;
    }
    unsigned char md[TWCYT_SIG_MAX];
    int rc = digest(content, size, kid, md);
    free(content);
    if (rc < 0) return rc;
    if (b64) return encode(md, rc, reinterpret_cast<char *>(out));
    memset(out, 0, ZEB_ACX_HASH_OUT_SIZE);
    memcpy(out, md, static_cast<size_t>(rc));
    return rc;
}
