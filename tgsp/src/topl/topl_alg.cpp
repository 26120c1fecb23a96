#include "topl/topl_alg.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_errors.h"

#include <openssl/err.h>

#include <cstring>

namespace {

struct OidRow {
    const char *oid;
    int kid;
};

// Order matters for the prefix rule: every OID stands before the longer
// OIDs that extend it.
constexpr OidRow kOidTable[] = {
    {"1.2.840.113549.2.5", TOPL_KID_MD5},
    {"1.3.14.3.2.26", TOPL_KID_SHA1},
    {"2.16.840.1.101.3.4.2.1", TOPL_KID_SHA256},
    {"2.16.840.1.101.3.4.2.2", TOPL_KID_SHA384},
    {"2.16.840.1.101.3.4.2.3", TOPL_KID_SHA512},
    {"1.2.156.10197.1.401", TOPL_KID_SM3},
    {"1.2.156.10197.1.401.1", TOPL_KID_SM3_2},
    {"1.2.840.113549.1.1.1", TOPL_KID_RSA},
    {"1.2.840.113549.1.1.5", TOPL_KID_SHA1RSA},
    {"1.2.156.10197.1.301", TOPL_KID_SM2},
    {"1.2.156.10197.1.301.1", TOPL_KID_SM2_SIGN},
    {"1.2.156.10197.1.301.3", TOPL_KID_SM2_ENC},
    {"1.2.156.10197.1.501", TOPL_KID_SM3SM2},
    {"1.2.156.10197.1.104", TOPL_KID_SM4},
    {"1.2.156.10197.1.104.1", TOPL_KID_SM4_ECB},
    {"1.2.156.10197.1.104.2", TOPL_KID_SM4_CBC},
    {"1.2.840.113549.3.4", TOPL_KID_RC4},
    {"1.2.840.113549.3.7", TOPL_KID_DES_EDE3_CBC},
    {"1.3.14.3.2.17", TOPL_KID_DES_EDE_ECB},
    {"2.16.840.1.101.3.4.1.41", TOPL_KID_AES256_ECB},
    {"2.16.840.1.101.3.4.1.42", TOPL_KID_AES256_CBC},
};

constexpr OidRow kSigOidTable[] = {
    {"1.2.840.113549.1.1.4", TOPL_KID_MD5},
    {"1.2.840.113549.1.1.5", TOPL_KID_SHA1},
    {"1.2.840.113549.1.1.11", TOPL_KID_SHA256},
    {"1.2.840.113549.1.1.12", TOPL_KID_SHA384},
    {"1.2.840.113549.1.1.13", TOPL_KID_SHA512},
};

const char kOidMd5[] = "1.2.840.113549.2.5";
const char kOidSha1[] = "1.3.14.3.2.26";
const char kOidSha256[] = "2.16.840.1.101.3.4.2.1";
const char kOidSha384[] = "2.16.840.1.101.3.4.2.2";
const char kOidSha512[] = "2.16.840.1.101.3.4.2.3";
const char kOidSm3[] = "1.2.156.10197.1.401";
const char kOidRsa[] = "1.2.840.113549.1.1.1";
const char kOidSm2Sign[] = "1.2.156.10197.1.301.1";
const char kOidP7Data[] = "1.2.840.113549.1.7.1";
const char kOidP7Signed[] = "1.2.840.113549.1.7.2";
const char kOidGmData[] = "1.2.156.10197.6.1.4.2.1";
const char kOidGmSigned[] = "1.2.156.10197.6.1.4.2.2";

}  // namespace

int topl_alg_oid2kid(const char *oid) {
    if (!oid) return TCORE_ERR_ARG;
    size_t n = strlen(oid);
    for (const auto &row : kOidTable)
        if (strncmp(row.oid, oid, n) == 0) return row.kid;
    return TOPL_ERR_ALG;
}

int topl_alg_sigOid2kid(const char *oid) {
    if (!oid) return TOPL_ERR_ALG;
    for (const auto &row : kSigOidTable)
        if (strcmp(row.oid, oid) == 0) return row.kid;
    return TOPL_ERR_ALG;
}

unsigned int topl_alg_kid2calg(int kid) {
    switch (kid) {
    case TOPL_KID_MD5: return TOPL_CALG_MD5;
    case TOPL_KID_SHA256: return TOPL_CALG_SHA256;
    case TOPL_KID_SHA512: return TOPL_CALG_SHA512;
    case TOPL_KID_SHA384: return TOPL_CALG_SHA384;
    case TOPL_KID_MD5SHA1: return TOPL_CALG_SSL3_SHAMD5;
    case TOPL_KID_SM3: return TOPL_CALG_SM3;
    default: return TOPL_CALG_SHA1;
    }
}

const char *topl_alg_kid2oid(int kid) {
    for (const auto &row : kOidTable)
        if (row.kid == kid) return row.oid;
    return nullptr;
}

topl_p7oids *topl_p7oids_setRsa(topl_p7oids *rec, int kid) {
    if (!rec) return nullptr;
    switch (kid) {
    case TOPL_KID_MD5: rec->digestOid = kOidMd5; break;
    case TOPL_KID_SHA256: rec->digestOid = kOidSha256; break;
    case TOPL_KID_SHA512: rec->digestOid = kOidSha512; break;
    case TOPL_KID_SHA384: rec->digestOid = kOidSha384; break;
    default: rec->digestOid = kOidSha1; break;
    }
    rec->sigAlgOid = kOidRsa;
    rec->sigParamOid = nullptr;
    rec->dataOid = kOidP7Data;
    rec->signedDataOid = kOidP7Signed;
    return rec;
}

topl_p7oids *topl_p7oids_setSm2(topl_p7oids *rec) {
    if (!rec) return nullptr;
    rec->digestOid = kOidSm3;
    rec->sigAlgOid = kOidSm2Sign;
    rec->sigParamOid = nullptr;
    rec->dataOid = kOidGmData;
    rec->signedDataOid = kOidGmSigned;
    return rec;
}

unsigned long topl_opensslError(void) {
    unsigned long code = ERR_get_error();
    if (code != 0) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        TCORE_LOG("\nOPENSSL ERROR: [%d] %s\n", static_cast<int>(code), text);
    }
    return code;
}
