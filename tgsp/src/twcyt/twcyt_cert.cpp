// Certificate contexts: loading, attributes, user properties, provider.
#include "twcyt/twcyt_cert.h"

#include "plat_crypt.h"
#include "plat_lasterror.h"
#include "tasn1/tasn1.h"
#include "tcore/tcore_base64.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace cert = plat::cert;
namespace pc = plat::crypt;

static const char *const kAesProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";

twcyt_certctx *twcyt_cert_dup(twcyt_certctx *c) { return cert::duplicate(c); }
void twcyt_cert_free(twcyt_certctx *c) { cert::release(c); }
void twcyt_cert_freeItem(void *c) { cert::release(static_cast<twcyt_certctx *>(c)); }

// Length of the DER element at the start of `der` (tag, length octets and
// contents), or 0 when its header does not fit `len`.
static size_t derElementLength(const unsigned char *der, size_t len) {
    if (len < 2) return 0;
    size_t hdr = 2, body = der[1];
    if (der[1] & 0x80) {
        size_t n = der[1] & 0x7F;
        if (n == 0 || n > 4 || len < 2 + n) return 0;
        body = 0;
        for (size_t i = 0; i < n; i++) body = (body << 8) | der[2 + i];
        hdr += n;
    }
    return body <= len - hdr ? hdr + body : 0;
}

twcyt_certctx *twcyt_cert_load(int len, const char *text) {
    if (!text || len < 1) return nullptr;
    unsigned char *converted = nullptr;
    const unsigned char *der = reinterpret_cast<const unsigned char *>(text);
    size_t derLen = static_cast<size_t>(len);
    if (static_cast<unsigned char>(text[0]) != 0x30) {
        int n = tasn1_cert_toDer(text, len, &converted);
        if (n <= 0 || !converted) {
            free(converted);
            return nullptr;
        }
        der = converted;
        derLen = static_cast<size_t>(n);
    }
    // Bytes after the certificate (base64 padding, a terminator) are ignored.
    size_t elem = derElementLength(der, derLen);
    twcyt_certctx *c = cert::create(der, elem ? elem : derLen);
    if (!c) TCORE_LOG_SYSERR("CertCreateCertificateContext");
    free(converted);
    return c;
}

int twcyt_cert_getSnData(twcyt_certctx *c, unsigned char *out, int outSize) {
    TCORE_CHECK_NULL(c);
    TCORE_CHECK_NULL(out);
    TCORE_CHECK_POSITIVE(outSize);
    memset(out, 0, static_cast<size_t>(outSize));
    std::vector<uint8_t> sn = cert::serialLittleEndian(c);
    if (sn.size() > static_cast<size_t>(outSize)) {
        TCORE_LOG("twcyt_cert_getSnData serial of %d bytes does not fit %d", static_cast<int>(sn.size()),
                  outSize);
        return TCORE_ERR_BUFFER_SMALL;
    }
    memcpy(out, sn.data(), sn.size());
    return static_cast<int>(sn.size());
}

int twcyt_cert_nameToStr(unsigned int encType, const unsigned char *name, int nameLen, char *out,
                         int outSize) {
    (void)encType;
    TCORE_CHECK_NULL(name);
    TCORE_CHECK_POSITIVE(nameLen);
    std::string text;
    // Bytes that are not a name give an empty text, as the system call does.
    if (!cert::nameToString(name, static_cast<size_t>(nameLen), &text) || text.empty()) {
        TCORE_LOG("twcyt_cert_nameToStr empty name");
        return TWCYT_ERR_EMPTY_NAME;
    }
    int needed = static_cast<int>(text.size()) + 1;
    if (!out) return needed;
    if (outSize > 0) memset(out, 0, static_cast<size_t>(outSize));
    if (outSize <= static_cast<int>(text.size())) {
        TCORE_LOG("twcyt_cert_nameToStr out of %d bytes too small for %d", outSize, needed);
        return TCORE_ERR_BUFFER_SMALL;
    }
    memcpy(out, text.data(), text.size());
    return needed;
}

static int nameOf(const std::vector<uint8_t> &name, char *out, int outSize) {
    if (name.empty()) return TWCYT_ERR_DN_NO_INFO;
    return twcyt_cert_nameToStr(TWCYT_X509_ASN_ENCODING, name.data(), static_cast<int>(name.size()),
                                out, outSize);
}

int twcyt_cert_getDn(twcyt_certctx *c, int outSize, char *out) {
    TCORE_CHECK_NULL(c);
    return nameOf(cert::subjectName(c), out, outSize);
}

int twcyt_cert_getIssuerDn(twcyt_certctx *c, char *out) {
    TCORE_CHECK_NULL(c);
    return nameOf(cert::issuerName(c), out, 512);
}

// The whole subject DN text, or a negative code.
static int subjectText(twcyt_certctx *c, std::string *text) {
    int n = twcyt_cert_getDn(c, 0, nullptr);
    if (n <= 0) return n;
    std::vector<char> buf(static_cast<size_t>(n));
    n = twcyt_cert_getDn(c, n, buf.data());
    if (n <= 0) return n;
    text->assign(buf.data());
    return 0;
}

int twcyt_cert_getRdnValues(twcyt_certctx *c, tcore_strlist **result, const char *key) {
    TCORE_CHECK_NULL(c);
    TCORE_CHECK_NULL(result);
    TCORE_CHECK_STR(key);
    std::string dn;
    int rc = subjectText(c, &dn);
    if (rc < 0) return rc;
    return twcyt_dn_getValues(dn.c_str(), key, result);
}

int twcyt_cert_getRdn(const char *key, twcyt_certctx *c, char *out) {
    TCORE_CHECK_STR(key);
    TCORE_CHECK_NULL(c);
    if (out) memset(out, 0, 256);
    tcore_strlist *values = nullptr;
    int n = twcyt_cert_getRdnValues(c, &values, key);
    if (n <= 0) {
        tcore_strlist_free(values);
        return n;
    }
    std::string first = tcore_strlist_get(values, 0);
    tcore_strlist_free(values);
    if (first.size() >= 256) {
        TCORE_LOG("%s value of %s has %d bytes", "twcyt_cert_getRdn", key, static_cast<int>(first.size()));
        return TCORE_ERR_ARG;
    }
    if (out) memcpy(out, first.data(), first.size());
    return static_cast<int>(first.size());
}

int twcyt_cert_rdnContains(const char *key, twcyt_certctx *c, const char *text) {
    if (!key || !*key || !c || !text) return 0;
    tcore_strlist *values = nullptr;
    int n = twcyt_cert_getRdnValues(c, &values, key);
    int hit = 0;
    for (int i = 0; i < n && !hit; i++) hit = strstr(tcore_strlist_get(values, i), text) != nullptr;
    tcore_strlist_free(values);
    return hit;
}

static void writeTime(const struct tm &t, char *out) {
    if (!out) return;
    memset(out, 0, 63);
    char part[5][8];
    int fields[5] = {t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    for (int i = 0; i < 5; i++) snprintf(part[i], sizeof part[i], "%02d", fields[i] % 100);
    snprintf(out, 62, "%d%s%s%s%s%s", t.tm_year + 1900, part[0], part[1], part[2], part[3], part[4]);
}

int twcyt_cert_getValidity(twcyt_certctx *c, char *notBefore, char *notAfter) {
    TCORE_CHECK_NULL(c);
    struct tm nb {}, na {};
    if (!cert::validity(c, &nb, &na)) {
        TCORE_LOG_SYSERR("FileTimeToSystemTime");
        return TWCYT_ERR_TIME;
    }
    writeTime(nb, notBefore);
    writeTime(na, notAfter);
    return 0;
}

int twcyt_cert_checkValidity(twcyt_certctx *c) {
    TCORE_CHECK_NULL(c);
    int r = cert::checkTime(c, time(nullptr));
    if (r < 0) return TWCYT_ERR_NOT_YET_VALID;
    if (r > 0) return TWCYT_ERR_EXPIRED;
    return 0;
}

int twcyt_cert_keyAlg(twcyt_certctx *c) {
    TCORE_CHECK_NULL(c);
    std::string oid = cert::publicKeyAlgorithm(c);
    if (oid == "1.2.840.113549.1.1.1") return TWCYT_KID_RSA;
    if (oid == "1.2.840.10045.2.1" || oid == "1.2.156.10197.1.301") return TWCYT_KID_SM2;
    return TWCYT_ERR_KEY_ALG;
}

int twcyt_cert_isRsa(twcyt_certctx *c) { return c && twcyt_cert_keyAlg(c) == TWCYT_KID_RSA; }
int twcyt_cert_isSm2(twcyt_certctx *c) { return c && twcyt_cert_keyAlg(c) == TWCYT_KID_SM2; }

// 1 when the key-usage byte has one of `bits`, or there is no extension.
static int usageAllows(twcyt_certctx *c, unsigned char bits) {
    if (!c) return 0;
    unsigned char ku[2] = {0, 0};
    if (!cert::intendedKeyUsage(c, ku, sizeof ku)) return plat::lastError() == 0 ? 1 : 0;
    return (ku[0] & bits) ? 1 : 0;
}

int twcyt_cert_canSign(twcyt_certctx *c) { return usageAllows(c, 0x80 | 0x40); }
int twcyt_cert_canEncrypt(twcyt_certctx *c) { return usageAllows(c, 0x10); }

int twcyt_cert_toBase64(char *out, twcyt_certctx *c) {
    TCORE_CHECK_NULL(c);
    const std::vector<uint8_t> &der = cert::der(c);
    int needed = static_cast<int>((der.size() + 2) / 3 * 4);
    if (!out) return needed;
    return tcore_base64_encode(out, reinterpret_cast<const char *>(der.data()),
                               static_cast<int>(der.size()), 4095);
}

// ---- user properties ---------------------------------------------------

int twcyt_cert_userPropCount(twcyt_certctx *c) {
    if (!c) return 0;
    int n = 0;
    while (cert::PROP_FIRST_USER + n <= cert::PROP_LAST &&
           cert::getProperty(c, cert::PROP_FIRST_USER + n, nullptr))
        n++;
    return n;
}

int twcyt_cert_addUserProp(twcyt_certctx *c, const unsigned char *value, int len) {
    TCORE_CHECK_NULL(c);
    TCORE_CHECK_NULL(value);
    TCORE_CHECK_POSITIVE(len);
    int n = twcyt_cert_userPropCount(c);
    uint32_t id = cert::PROP_FIRST_USER + static_cast<uint32_t>(n);
    if (id > cert::PROP_LAST) return TWCYT_ERR_USER_PROP_FULL;
    if (!cert::setProperty(c, id, value, static_cast<size_t>(len))) {
        TCORE_LOG_SYSERR("CertSetCertificateContextProperty");
        return TWCYT_ERR_SET_PROP;
    }
    return n + 1;
}

int twcyt_cert_getUserProp(twcyt_certctx *c, int n, char *out) {
    TCORE_CHECK_NULL(c);
    TCORE_CHECK_NONNEGATIVE(n);
    std::vector<uint8_t> v;
    if (n > static_cast<int>(cert::PROP_LAST - cert::PROP_FIRST_USER) ||
        !cert::getProperty(c, cert::PROP_FIRST_USER + static_cast<uint32_t>(n), &v)) {
        TCORE_LOG_SYSERR("CertGetCertificateContextProperty");
        return TWCYT_ERR_GET_PROP;
    }
    if (!out) return static_cast<int>(v.size());
    if (v.size() > 256) return TCORE_ERR_BUFFER_SMALL;
    memset(out, 0, 256);
    memcpy(out, v.data(), v.size());
    return static_cast<int>(v.size());
}

// ---- provider ----------------------------------------------------------

int twcyt_cert_getProviderName(twcyt_certctx *c, char *out) {
    TCORE_CHECK_NULL(c);
    TCORE_CHECK_NULL(out);
    memset(out, 0, 256);
    pc::Provider *prov = nullptr;
    uint32_t keySpec = 0;
    bool callerFree = false;
    if (!pc::acquireCertificatePrivateKey(c, 0, &prov, &keySpec, &callerFree)) {
        TCORE_LOG_SYSERR("CryptAcquireCertificatePrivateKey");
        return TWCYT_ERR_NO_PRIVATE_KEY;
    }
    std::string name = pc::providerName(prov);
    if (callerFree) pc::releaseContext(prov);
    if (name.empty() || name.size() >= 256) {
        plat::setLastError(name.empty() ? plat::PLAT_NTE_FAIL : plat::PLAT_ERROR_MORE_DATA);
        TCORE_LOG_SYSERR("CryptGetProvParam");
        return TWCYT_ERR_PROV_NAME;
    }
    memcpy(out, name.data(), name.size());
    return static_cast<int>(name.size());
}

// The provider name as the AES switch sees it: user property 0 for an SM2
// certificate found in a key container, else the private key's provider.
// `name` has 257 bytes, zeroed: a property of 256 bytes without its
// terminator (the store is a file) still ends inside it.
static int providerNameOf(twcyt_certctx *c, char *name) {
    if (twcyt_cert_isSm2(c) && twcyt_cert_userPropCount(c) >= 2 && twcyt_cert_getUserProp(c, 0, name) >= 0)
        return static_cast<int>(strlen(name));
    return twcyt_cert_getProviderName(c, name);
}

int twcyt_cert_isMicrosoftProvider(twcyt_certctx *c) {
    if (!c) return 0;
    char name[257] = {0};
    if (providerNameOf(c, name) < 0) return 0;
    return strstr(name, "Microsoft") != nullptr;
}

int twcyt_cert_setProvider(twcyt_certctx *pcert) {
    TCORE_CHECK_NULL(pcert);
    char name[257] = {0};
    int rc = providerNameOf(pcert, name);
    if (rc < 0) return rc;
    if (strcmp(name, kAesProvider) == 0) return 0;
    std::vector<uint8_t> raw;
    cert::KeyProvInfo info;
    if (!cert::getProperty(pcert, cert::PROP_KEY_PROV_INFO, &raw) ||
        !cert::decodeKeyProvInfo(raw.data(), raw.size(), &info)) {
        TCORE_LOG_SYSERR("CertGetCertificateContextProperty");
        return TWCYT_ERR_GET_PROP;
    }
    info.provType = pc::PROV_RSA_AES;
    info.provider = kAesProvider;
    raw = cert::encodeKeyProvInfo(info);
    if (!cert::setProperty(pcert, cert::PROP_KEY_PROV_INFO, raw.data(), raw.size())) {
        TCORE_LOG_SYSERR("CertSetCertificateContextProperty");
        return TWCYT_ERR_SET_PROP;
    }
    return 0;
}

twcyt_certctx *twcyt_certlist_find(tcore_list *list, twcyt_certctx *c) {
    if (!list || !c) return nullptr;
    for (int i = 0; i < tcore_list_count(list); i++) {
        auto *item = static_cast<twcyt_certctx *>(tcore_list_get(list, i));
        if (item && (item == c || cert::sameIssuerAndSerial(item, c))) return item;
    }
    return nullptr;
}
