#include "zeb_acx_verify.h"

#include "tcore/tcore_base64.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_x509.h"
#include "twcyt/twcyt_cert.h"
#include "zeb_acx_hash.h"
#include "zeb_acx_log.h"

#include <cstring>
#include <memory>

namespace {

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

struct CertCtxFree {
    void operator()(twcyt_certctx *c) const { twcyt_cert_free(c); }
};
using CertCtxPtr = std::unique_ptr<twcyt_certctx, CertCtxFree>;

// Validity (with tolerance) and key usage of a signer certificate.
int checkSignerCert(const X509 *cert) {
    if (!topl_x509cert_checkValidity(cert, ZEB_ACX_VERIFY_TOLERANCE)) return ZEB_ACX_ERR_CERT_VALIDITY;
    unsigned char usage[2] = {0, 0};
    if (topl_x509cert_getKeyUsage(cert, usage) <= 0) return ZEB_ACX_ERR_CERT_USAGE;
    // digitalSignature (0x80) or nonRepudiation (0x40)
    if (!(usage[0] & 0xC0)) return ZEB_ACX_ERR_CERT_USAGE;
    return 0;
}

int p7verify(const char *p7, int np7, const unsigned char *content, int ncontent, int mode) {
    if (!p7 || np7 <= 0) return ZEB_ACX_ERR_ARG;
    auto der = reinterpret_cast<const unsigned char *>(p7);
    X509Ptr cert(topl_p7sign_getSignCert(der, np7));
    if (!cert) return ZEB_ACX_ERR_NO_CERT;
    int rc = topl_p7sign_verify(der, np7, content, ncontent, mode);
    if (rc < 0) return rc;
    return checkSignerCert(cert.get());
}

// The certificate text as a certificate context, or null (logged).
twcyt_certctx *loadCert(const char *cert) {
    twcyt_certctx *ctx = twcyt_cert_load(static_cast<int>(strlen(cert)), cert);
    if (!ctx) zeb_acx_log_error("twcyt_cert_load fail");
    return ctx;
}

}  // namespace

int zeb_acx_verify(const char *cert, int ncert, const unsigned char *data, int ndata,
                   const unsigned char *sig, int nsig) {
    if (!data || !sig) return ZEB_ACX_ERR_ARG;
    X509Ptr x(cert ? topl_x509cert_load(cert, ncert) : nullptr);
    if (!x) return ZEB_ACX_ERR_NO_CERT;
    int rc = topl_x509cert_verify(x.get(), nullptr, nullptr, data, ndata, sig, nsig);
    if (rc < 0) return rc;
    return checkSignerCert(x.get());
}

int zeb_acx_p7verify(const char *p7, int np7, const unsigned char *content, int ncontent) {
    return p7verify(p7, np7, content, ncontent, TOPL_P7_VERIFY_ATTACHED);
}

int zeb_acx_p7verifyDetached(const char *p7, int np7, const unsigned char *content, int ncontent) {
    return p7verify(p7, np7, content, ncontent, TOPL_P7_VERIFY_DETACHED);
}

int zeb_acx_cert_getHexSn(const char *cert, char *out) {
    if (!cert || !*cert || !out) return ZEB_ACX_ERR_ARG;
    CertCtxPtr ctx(loadCert(cert));
    if (!ctx) return ZEB_ACX_ERR_CERT_LOAD;
    unsigned char sn[ZEB_ACX_SN_OUT_SIZE];
    int n = twcyt_cert_getSnData(ctx.get(), sn, sizeof sn);
    if (n <= 0) {
        zeb_acx_log_error("twcyt_cert_getSnData fail %d(%d)", ZEB_ACX_ERR_SN_READ, n);
        return ZEB_ACX_ERR_SN_READ;
    }
    tcore_reverseBytes(n, sn);  // most significant byte first
    int rc = tcore_bytesToHexString(ZEB_ACX_SN_OUT_SIZE, out, n, sn);
    if (rc < 0) {
        zeb_acx_log_error("tcore_bytesToHexString fail %d(%d)", ZEB_ACX_ERR_SN_HEX, rc);
        memset(out, 0, ZEB_ACX_SN_OUT_SIZE);
        return ZEB_ACX_ERR_SN_HEX;
    }
    return rc;
}

int zeb_acx_cert_getSubjectDn(const char *cert, char *out) {
    if (!cert || !*cert || !out) return ZEB_ACX_ERR_ARG;
    CertCtxPtr ctx(loadCert(cert));
    if (!ctx) return ZEB_ACX_ERR_CERT_LOAD;
    int rc = twcyt_cert_getDn(ctx.get(), ZEB_ACX_DN_OUT_SIZE, out);
    if (rc <= 0) {
        zeb_acx_log_error("twcyt_cert_getDn fail %d", ZEB_ACX_ERR_SUBJECT_DN);
        memset(out, 0, ZEB_ACX_DN_OUT_SIZE);
        return ZEB_ACX_ERR_SUBJECT_DN;
    }
    return rc;
}

int zeb_acx_cert_getSubjectRdn(const char *cert, const char *key, char *out) {
    if (!cert || !*cert || !key || !*key || !out) return ZEB_ACX_ERR_ARG;
    CertCtxPtr ctx(loadCert(cert));
    if (!ctx) return ZEB_ACX_ERR_CERT_LOAD;
    int rc = twcyt_cert_getRdn(key, ctx.get(), out);
    if (rc <= 0) {
        zeb_acx_log_error("twcyt_cert_getRdn fail %d", ZEB_ACX_ERR_SUBJECT_DN);
        memset(out, 0, ZEB_ACX_RDN_OUT_SIZE);
        return ZEB_ACX_ERR_RDN;
    }
    return rc;
}

int zeb_acx_p7_getOriData(const char *p7, unsigned char *out, int outSize) {
    if (!p7 || !*p7) return ZEB_ACX_ERR_ARG;
    int rc = topl_p7sign_parseData(reinterpret_cast<const unsigned char *>(p7), static_cast<int>(strlen(p7)),
                                   out, out ? outSize : 0);
    if (rc < 0) {
        zeb_acx_log_error("topl_p7sign_parseData fail %d", rc);
        return ZEB_ACX_ERR_P7_CONTENT;
    }
    return rc;
}

int zeb_acx_p7_getOriDataLen(const char *p7) {
    return zeb_acx_p7_getOriData(p7, nullptr, 0);
}

int zeb_acx_p7_getCertData(const char *p7, char *certData) {
    if (!p7 || !*p7 || !certData) return ZEB_ACX_ERR_ARG;
    memset(certData, 0, ZEB_ACX_CERTDATA_SIZE);
    // One byte short of the buffer, so the text always ends in a NUL.
    int rc = topl_p7sign_parseSignCert(reinterpret_cast<const unsigned char *>(p7), static_cast<int>(strlen(p7)),
                                       certData, ZEB_ACX_CERTDATA_SIZE - 1);
    if (rc <= 0) {
        // A message without a signer certificate has nothing to hand out:
        // that is a failure too, not an empty success.
        zeb_acx_log_error("topl_p7sign_parseSignCert fail %d", rc);
        memset(certData, 0, ZEB_ACX_CERTDATA_SIZE);
        return ZEB_ACX_ERR_P7_SIGNCERT;
    }
    return rc;
}
