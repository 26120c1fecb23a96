#include "topl/topl_x509.h"

#include "tcore/tcore_base64.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "tcore/tcore_time.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"
#include "topl/topl_rsa.h"
#include "topl/topl_sm2.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

topl_keystore *topl_keystore_new(void) { return static_cast<topl_keystore *>(tcore_zalloc(sizeof(topl_keystore))); }

void topl_keystore_clear(topl_keystore *ks) {
    if (!ks) return;
    EVP_PKEY_free(ks->pKey);
    X509_free(ks->pCert);
    free(ks->pData);
    free(ks->pExtra);
    ks->pKey = nullptr;
    ks->pCert = nullptr;
    ks->pData = nullptr;
    ks->nData = 0;
    ks->pExtra = nullptr;
}

void topl_keystore_free(topl_keystore *ks) {
    if (!ks) return;
    topl_keystore_clear(ks);
    free(ks);
}

namespace {

X509 *readDer(const void *bytes, int n) {
    BIO *bio = BIO_new_mem_buf(bytes, n);
    if (!bio) return nullptr;
    X509 *x = d2i_X509_bio(bio, nullptr);
    BIO_free(bio);
    return x;
}

X509 *readPem(const char *text, int n) {
    BIO *bio = BIO_new_mem_buf(text, n);
    if (!bio) return nullptr;
    X509 *x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return x;
}

}  // namespace

X509 *topl_x509cert_load(const char *text, int length) {
    if (!text || length < 2) return nullptr;
    X509 *x = nullptr;
    ERR_set_mark();
    if (text[0] == 'M') {
        int cap = length / 4 * 3;
        auto *buf = static_cast<unsigned char *>(tcore_zalloc(static_cast<size_t>(cap)));
        int n = tcore_base64_decode(buf, text, length, cap);
        if (n <= 0) TCORE_LOG("tcore_base64_decode failed %d", n);
        else x = readDer(buf, n);
        free(buf);
    } else if (static_cast<unsigned char>(text[0]) == 0x30) {
        x = readDer(text, length);
    } else {
        x = readPem(text, length);
    }
    ERR_pop_to_mark();  // a text that is no certificate is an answer, not an incident
    if (x) topl_x509cert_init(x);
    return x;
}

int topl_x509cert_init(X509 *pX509) {
    TCORE_CHECK_NULL(pX509);
    unsigned char sha1[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    // Fills the object's cached extension data, SHA-1 thumbprint included.
    X509_check_purpose(pX509, -1, 0);
    if (X509_digest(pX509, EVP_sha1(), sha1, &n) != 1) n = 0;
    uint32_t h = 0;
    for (unsigned int i = 0; i < n; ++i) h = h * 31 + sha1[i];
    X509_set_ex_data(pX509, 0, reinterpret_cast<void *>(static_cast<uintptr_t>(h)));
    return 0;
}

int topl_x509cert_isRsa(const X509 *cert) {
    if (!cert) return 0;
    X509_PUBKEY *xpk = X509_get_X509_PUBKEY(cert);
    ASN1_OBJECT *alg = nullptr;
    if (!xpk || X509_PUBKEY_get0_param(&alg, nullptr, nullptr, nullptr, xpk) != 1) return 0;
    return OBJ_obj2nid(alg) == NID_rsaEncryption;
}

int topl_asn1time_toTm(const ASN1_TIME *t, struct tm *out) {
    if (!t || !out) return -1;
    const char *s = reinterpret_cast<const char *>(ASN1_STRING_get0_data(t));
    int len = ASN1_STRING_length(t);
    if (!s || len < 11) return -1;
    *out = {};
    auto two = [&](int i) { return (s[i] - '0') * 10 + (s[i + 1] - '0'); };
    int i = 0;
    switch (ASN1_STRING_type(t)) {
    case V_ASN1_GENERALIZEDTIME:
        if (len < 13) return -1;
        out->tm_year = two(0) * 100 + two(2) - 1900;
        i = 4;
        break;
    case V_ASN1_UTCTIME: {
        int yy = two(0);
        out->tm_year = yy < 50 ? yy + 100 : yy;
        i = 2;
        break;
    }
    default:
        return -1;
    }
    out->tm_mon = two(i) - 1;
    out->tm_mday = two(i + 2);
    out->tm_hour = two(i + 4);
    out->tm_min = two(i + 6);
    i += 8;
    if (i + 2 <= len && s[i] != 'Z' && s[i] != '+' && s[i] != '-') {
        out->tm_sec = two(i);
        i += 2;
    }
    if (i >= len) return -1;
    if (s[i] == 'Z') return 0;
    if ((s[i] != '+' && s[i] != '-') || i + 5 > len) return -1;
    int offset = two(i + 1) * 60 + two(i + 3);
    if (offset == 0) return 0;
    // Local time with an offset: move it to UTC.
    struct tm copy = *out;
    time_t when = timegm(&copy) - (s[i] == '+' ? 1 : -1) * static_cast<time_t>(offset) * 60;
    struct tm utc;
    if (!gmtime_r(&when, &utc)) return -1;
    *out = {};
    out->tm_year = utc.tm_year;
    out->tm_mon = utc.tm_mon;
    out->tm_mday = utc.tm_mday;
    out->tm_hour = utc.tm_hour;
    out->tm_min = utc.tm_min;
    out->tm_sec = utc.tm_sec;
    out->tm_wday = utc.tm_wday;
    return 0;
}

namespace {

// Both validity bounds as broken-down UTC time.
int validityUtc(const X509 *cert, struct tm *nb, struct tm *na) {
    if (!cert) return TCORE_ERR_ARG;
    const ASN1_TIME *b = X509_get0_notBefore(cert), *a = X509_get0_notAfter(cert);
    if (!b || !a) return TCORE_ERR_ARG;
    if (!nb || !na) return TOPL_ERR_VALIDITY_TIME;
    if (topl_asn1time_toTm(b, nb) != 0 || topl_asn1time_toTm(a, na) != 0) return TOPL_ERR_VALIDITY_TIME;
    return 0;
}

}  // namespace

int topl_x509cert_getValidity(const X509 *cert, struct tm *notBefore, struct tm *notAfter) {
    struct tm nb, na;
    int rc = validityUtc(cert, notBefore ? &nb : nullptr, notAfter ? &na : nullptr);
    if (rc != 0) return rc;
    if (tcore_time_utcToLocal(&nb, notBefore) != 0 || tcore_time_utcToLocal(&na, notAfter) != 0) return -1;
    return 0;
}

int topl_x509cert_checkValidity(const X509 *cert, int64_t tolerance) {
    struct tm lb, la, ub, ua;
    if (topl_x509cert_getValidity(cert, &lb, &la) != 0) return 0;
    // The comparison runs on the UTC instants the local times stand for, so
    // it cannot be off by a daylight-saving hour.
    if (validityUtc(cert, &ub, &ua) != 0) return 0;
    int64_t nb = timegm(&ub), na = timegm(&ua), now = time(nullptr);
    return nb <= now + tolerance && now - tolerance <= na ? 1 : 0;
}

int topl_x509cert_getKeyUsage(const X509 *cert, unsigned char *out) {
    if (!cert || !out) return TCORE_ERR_ARG;
    int pos = X509_get_ext_by_NID(cert, NID_key_usage, -1);
    if (pos < 0) return TOPL_ERR_KEYUSAGE;
    X509_EXTENSION *ext = X509_get_ext(cert, pos);
    const ASN1_OCTET_STRING *value = ext ? X509_EXTENSION_get_data(ext) : nullptr;
    if (!value) return TOPL_ERR_KEYUSAGE;
    int n = ASN1_STRING_length(value);
    if (n <= 0 || n > 32) return TOPL_ERR_KEYUSAGE;
    const unsigned char *p = ASN1_STRING_get0_data(value);
    ERR_set_mark();
    ASN1_BIT_STRING *bits = d2i_ASN1_BIT_STRING(nullptr, &p, n);
    ERR_pop_to_mark();
    if (!bits) return TOPL_ERR_KEYUSAGE;
    int len = ASN1_STRING_length(bits);
    int rc;
    if (len > 2) rc = TCORE_ERR_BUFFER_SMALL;
    else if (len <= 0) rc = TOPL_ERR_KEYUSAGE;
    else {
        memcpy(out, ASN1_STRING_get0_data(bits), static_cast<size_t>(len));
        rc = len;
    }
    ASN1_BIT_STRING_free(bits);
    return rc;
}

int topl_x509cert_verify(const X509 *cert, const topl_sm2_userid *id, int *kid, const unsigned char *data, int ndata,
                         const unsigned char *sig, int nsig) {
    EVP_PKEY *key = nullptr;
    if (topl_x509cert_isRsa(cert)) key = X509_get_pubkey(const_cast<X509 *>(cert));
    else if (topl_x509cert_isSm2(cert)) key = topl_key_new_fromCert(cert);
    if (!key) return TOPL_ERR_NO_PUBKEY;

    int rc;
    switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
        rc = topl_rsa_verify(key, kid, data, ndata, sig, nsig);
        break;
    case EVP_PKEY_EC:
        rc = topl_sm2_verify(key, id ? id->id : nullptr, id ? id->idlen : 0, data, ndata, sig, nsig);
        break;
    default:
        rc = TOPL_ERR_KEY_UNSUPPORTED;
        break;
    }
    EVP_PKEY_free(key);
    return rc;
}
