#include "plat_certstore.h"

#include "plat_certstore_internal.h"
#include "plat_lasterror.h"
#include "plat_registry.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>

namespace plat::cert {

struct Context {
    std::atomic<int> refs{1};
    std::vector<uint8_t> der;
    X509 *x509 = nullptr;
    std::map<uint32_t, std::vector<uint8_t>> props;
    // Set for a context read from (or added to) a system store: where the
    // certificate's key lives, so property changes reach the store.
    bool inStore = false;
    reg::Root storeRoot = reg::CurrentUser;
    std::string storeKey;  // "...\Certificates\<thumbprint>"
    // Provider handles cached by the private-key acquisition (plat_crypt).
    std::vector<void *> cached;
    void (*releaseCached)(void *) = nullptr;
};

struct Store {
    reg::Root root = reg::CurrentUser;
    std::string certsKey;  // "SOFTWARE\...\<STORE>\Certificates"
    bool readOnly = false;
};

static const char *const kStoresKey = "SOFTWARE\\Microsoft\\SystemCertificates";

// ---- contexts ----------------------------------------------------------

Context *create(const uint8_t *der, size_t len) {
    if (!der || len == 0 || len > 0x7FFFFFFF) {
        setLastError(PLAT_E_ASN1_BAD);
        return nullptr;
    }
    const unsigned char *p = der;
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(len));
    if (!x || p != der + len) {  // trailing bytes are not one certificate
        X509_free(x);
        setLastError(PLAT_E_ASN1_BAD);
        return nullptr;
    }
    auto *ctx = new Context;
    ctx->der.assign(der, der + len);
    ctx->x509 = x;
    return ctx;
}

Context *duplicate(Context *ctx) {
    if (ctx) ctx->refs.fetch_add(1);
    return ctx;
}

void retireCachedHandle(Context *ctx);

void release(Context *ctx) {
    if (!ctx || ctx->refs.fetch_sub(1) != 1) return;
    if (ctx->releaseCached)
        for (void *h : ctx->cached) ctx->releaseCached(h);
    X509_free(ctx->x509);
    delete ctx;
}

const std::vector<uint8_t> &der(const Context *ctx) { return ctx->der; }
const X509 *x509(const Context *ctx) { return ctx->x509; }

static std::vector<uint8_t> encodeName(const X509_NAME *name) {
    const unsigned char *bytes = nullptr;
    size_t len = 0;
    if (!name || X509_NAME_get0_der(const_cast<X509_NAME *>(name), &bytes, &len) != 1) return {};
    return std::vector<uint8_t>(bytes, bytes + len);
}

std::vector<uint8_t> subjectName(const Context *ctx) {
    return encodeName(X509_get_subject_name(ctx->x509));
}

std::vector<uint8_t> issuerName(const Context *ctx) {
    return encodeName(X509_get_issuer_name(ctx->x509));
}

// Content octets of the serial INTEGER as encoded (big-endian).
static std::vector<uint8_t> serialContent(const Context *ctx) {
    const ASN1_INTEGER *sn = X509_get0_serialNumber(ctx->x509);
    unsigned char *enc = nullptr;
    int n = sn ? i2d_ASN1_INTEGER(sn, &enc) : -1;
    std::vector<uint8_t> out;
    if (n > 2) {
        // Skip tag and length octets (short or long form).
        size_t pos = 1;
        size_t lenBytes = (enc[1] & 0x80) ? 1 + (enc[1] & 0x7F) : 1;
        pos += lenBytes;
        if (pos <= static_cast<size_t>(n)) out.assign(enc + pos, enc + n);
    }
    OPENSSL_free(enc);
    return out;
}

std::vector<uint8_t> serialLittleEndian(const Context *ctx) {
    std::vector<uint8_t> s = serialContent(ctx);
    std::reverse(s.begin(), s.end());
    return s;
}

std::vector<uint8_t> sha1(const Context *ctx) {
    std::vector<uint8_t> md(SHA_DIGEST_LENGTH);
    SHA1(ctx->der.data(), ctx->der.size(), md.data());
    return md;
}

static std::string hexUpper(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string thumbprint(const Context *ctx) { return hexUpper(sha1(ctx)); }

std::string publicKeyAlgorithm(const Context *ctx) {
    X509_PUBKEY *pk = X509_get_X509_PUBKEY(ctx->x509);
    ASN1_OBJECT *alg = nullptr;
    if (!pk || X509_PUBKEY_get0_param(&alg, nullptr, nullptr, nullptr, pk) != 1 || !alg) return "";
    char buf[128];
    int n = OBJ_obj2txt(buf, sizeof buf, alg, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof buf)) return "";
    return buf;
}

bool sameIssuerAndSerial(const Context *a, const Context *b) {
    if (!a || !b) return false;
    if (a == b) return true;
    return issuerName(a) == issuerName(b) && serialContent(a) == serialContent(b);
}

bool validity(const Context *ctx, struct tm *notBefore, struct tm *notAfter) {
    struct tm nb {}, na {};
    if (ASN1_TIME_to_tm(X509_get0_notBefore(ctx->x509), &nb) != 1 ||
        ASN1_TIME_to_tm(X509_get0_notAfter(ctx->x509), &na) != 1) {
        setLastError(PLAT_E_ASN1_BAD);
        return false;
    }
    if (notBefore) *notBefore = nb;
    if (notAfter) *notAfter = na;
    return true;
}

int checkTime(const Context *ctx, time_t now) {
    // Both ends belong to the period: notAfter itself is still valid.
    // ASN1_TIME_cmp_time_t: -1 / 0 / 1 for before / equal / after `now`, -2 error.
    int before = ASN1_TIME_cmp_time_t(X509_get0_notBefore(ctx->x509), now);
    if (before == -2) return 1;
    if (before > 0) return -1;
    int after = ASN1_TIME_cmp_time_t(X509_get0_notAfter(ctx->x509), now);
    if (after == -2 || after < 0) return 1;
    return 0;
}

bool intendedKeyUsage(const Context *ctx, uint8_t *out, size_t outLen) {
    if (out) memset(out, 0, outLen);
    int crit = 0;
    auto *bits = static_cast<ASN1_BIT_STRING *>(
        X509_get_ext_d2i(ctx->x509, NID_key_usage, &crit, nullptr));
    if (!bits) {
        // -1: no extension; -2: more than one (malformed); else a decode error.
        setLastError(crit == -1 ? PLAT_ERROR_SUCCESS : PLAT_E_ASN1_BAD);
        return false;
    }
    const unsigned char *data = ASN1_STRING_get0_data(bits);
    size_t n = static_cast<size_t>(ASN1_STRING_length(bits));
    if (out) memcpy(out, data, std::min(n, outLen));
    ASN1_BIT_STRING_free(bits);
    return true;
}

// ---- properties --------------------------------------------------------

static std::string propValueName(uint32_t id) {
    char name[16];
    snprintf(name, sizeof name, "Prop%04X", id & 0xFFFF);
    return name;
}

static uint32_t regErrorToLast(int rc) {
    if (rc == reg::PLAT_REG_NO_KEY || rc == reg::PLAT_REG_NO_VALUE) return PLAT_E_NOT_FOUND;
    if (errno == EACCES || errno == EPERM || errno == EROFS) return PLAT_ERROR_ACCESS_DENIED;
    return PLAT_E_WRITE;
}

bool getProperty(const Context *ctx, uint32_t id, std::vector<uint8_t> *out) {
    if (!ctx) {
        setLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (id == PROP_SHA1_HASH) {
        if (out) *out = sha1(ctx);
        return true;
    }
    auto it = ctx->props.find(id);
    if (it == ctx->props.end()) {
        setLastError(PLAT_E_NOT_FOUND);
        return false;
    }
    if (out) *out = it->second;
    return true;
}

bool setProperty(Context *ctx, uint32_t id, const uint8_t *data, size_t len) {
    if (!ctx || id == 0 || id == PROP_SHA1_HASH || id > PROP_LAST) {
        setLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    // A certificate deleted from its store meanwhile keeps the change in memory.
    if (ctx->inStore && reg::keyExists(ctx->storeRoot, ctx->storeKey)) {
        errno = 0;
        int rc = data ? reg::setValue(ctx->storeRoot, ctx->storeKey,
                                      reg::Value::binary(propValueName(id),
                                                         std::vector<uint8_t>(data, data + len)))
                      : reg::deleteValue(ctx->storeRoot, ctx->storeKey, propValueName(id));
        if (rc != reg::PLAT_REG_OK && !(rc == reg::PLAT_REG_NO_VALUE && !data)) {
            setLastError(regErrorToLast(rc) == PLAT_E_NOT_FOUND ? PLAT_E_WRITE : regErrorToLast(rc));
            return false;
        }
    }
    if (data)
        ctx->props[id].assign(data, data + len);
    else
        ctx->props.erase(id);
    // New key-provider information: the next acquisition opens the new key.
    if (id == PROP_KEY_PROV_INFO) retireCachedHandle(ctx);
    return true;
}

std::vector<uint32_t> propertyIds(const Context *ctx) {
    std::vector<uint32_t> ids;
    for (const auto &p : ctx->props) ids.push_back(p.first);
    return ids;
}

static void putU32(std::vector<uint8_t> *v, uint32_t x) {
    for (int i = 0; i < 4; i++) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

static bool getU32(const uint8_t *data, size_t len, size_t *pos, uint32_t *x) {
    if (*pos > len || len - *pos < 4) return false;
    *x = 0;
    for (int i = 0; i < 4; i++) *x |= static_cast<uint32_t>(data[*pos + i]) << (8 * i);
    *pos += 4;
    return true;
}

static bool getText(const uint8_t *data, size_t len, size_t *pos, std::string *s) {
    uint32_t n = 0;
    if (!getU32(data, len, pos, &n) || n > len - *pos) return false;
    s->assign(reinterpret_cast<const char *>(data + *pos), n);
    *pos += n;
    return true;
}

// Layout: "KPI1", provType, flags, keySpec, container (u32 length + bytes),
// provider (u32 length + bytes); integers little-endian.
std::vector<uint8_t> encodeKeyProvInfo(const KeyProvInfo &info) {
    std::vector<uint8_t> v = {'K', 'P', 'I', '1'};
    putU32(&v, info.provType);
    putU32(&v, info.flags);
    putU32(&v, info.keySpec);
    putU32(&v, static_cast<uint32_t>(info.container.size()));
    v.insert(v.end(), info.container.begin(), info.container.end());
    putU32(&v, static_cast<uint32_t>(info.provider.size()));
    v.insert(v.end(), info.provider.begin(), info.provider.end());
    return v;
}

bool decodeKeyProvInfo(const uint8_t *data, size_t len, KeyProvInfo *info) {
    if (!data || !info || len < 4 || memcmp(data, "KPI1", 4) != 0) return false;
    size_t pos = 4;
    KeyProvInfo k;
    if (!getU32(data, len, &pos, &k.provType) || !getU32(data, len, &pos, &k.flags) ||
        !getU32(data, len, &pos, &k.keySpec) || !getText(data, len, &pos, &k.container) ||
        !getText(data, len, &pos, &k.provider) || pos != len)
        return false;
    *info = k;
    return true;
}

// ---- names -------------------------------------------------------------

static const char *shortKey(const ASN1_OBJECT *obj) {
    static const struct {
        int nid;
        const char *key;
    } table[] = {
        {NID_commonName, "CN"},         {NID_organizationalUnitName, "OU"},
        {NID_organizationName, "O"},    {NID_localityName, "L"},
        {NID_stateOrProvinceName, "S"}, {NID_countryName, "C"},
        {NID_pkcs9_emailAddress, "E"},  {NID_streetAddress, "STREET"},
        {NID_title, "T"},               {NID_givenName, "G"},
        {NID_initials, "I"},            {NID_surname, "SN"},
        {NID_domainComponent, "DC"},    {NID_serialNumber, "SERIALNUMBER"},
    };
    int nid = OBJ_obj2nid(obj);
    for (const auto &row : table)
        if (row.nid == nid && nid != NID_undef) return row.key;
    return nullptr;
}

static bool isStringType(int type) {
    switch (type) {
    case V_ASN1_UTF8STRING: case V_ASN1_PRINTABLESTRING: case V_ASN1_T61STRING:
    case V_ASN1_IA5STRING: case V_ASN1_BMPSTRING: case V_ASN1_UNIVERSALSTRING:
    case V_ASN1_VISIBLESTRING: case V_ASN1_NUMERICSTRING: case V_ASN1_GENERALSTRING:
    case V_ASN1_VIDEOTEXSTRING: case V_ASN1_GRAPHICSTRING:
        return true;
    default:
        return false;
    }
}

static bool needsQuotes(const std::string &v) {
    if (v.empty()) return false;
    if (v.front() == ' ' || v.back() == ' ' || v.front() == '\t' || v.back() == '\t') return true;
    return v.find_first_of(",+=\"\r\n<>#;") != std::string::npos;
}

static bool entryText(const X509_NAME_ENTRY *e, std::string *out) {
    const ASN1_OBJECT *obj = X509_NAME_ENTRY_get_object(e);
    const ASN1_STRING *val = X509_NAME_ENTRY_get_data(e);
    std::string key;
    if (const char *k = shortKey(obj)) {
        key = k;
    } else {
        char buf[128];
        int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
        if (n <= 0 || n >= static_cast<int>(sizeof buf)) return false;
        key = std::string("OID.") + buf;
    }
    std::string value;
    if (isStringType(ASN1_STRING_type(val))) {
        unsigned char *utf8 = nullptr;
        int n = ASN1_STRING_to_UTF8(&utf8, val);
        if (n < 0) return false;
        value.assign(reinterpret_cast<char *>(utf8), static_cast<size_t>(n));
        OPENSSL_free(utf8);
    } else {
        // Not a string: "#" and the hex of the value's encoding. For SEQUENCE,
        // SET and non-universal tags the data already is the whole encoding.
        int type = ASN1_STRING_type(val);
        const unsigned char *data = ASN1_STRING_get0_data(val);
        size_t len = static_cast<size_t>(std::max(ASN1_STRING_length(val), 0));
        std::vector<uint8_t> enc;
        if (type == V_ASN1_BIT_STRING) {
            // Kept without its unused-bits octet: let OpenSSL encode it.
            unsigned char *der = nullptr;
            int n = i2d_ASN1_BIT_STRING(const_cast<ASN1_STRING *>(val), &der);
            if (n <= 0) return false;
            *out = key + "=#" + hexUpper(std::vector<uint8_t>(der, der + n));
            OPENSSL_free(der);
            return true;
        }
        if (type != V_ASN1_SEQUENCE && type != V_ASN1_SET && type >= 0 && type < 31) {
            enc.push_back(static_cast<uint8_t>(type));
            if (len < 0x80) {
                enc.push_back(static_cast<uint8_t>(len));
            } else {
                std::vector<uint8_t> octets;
                for (size_t n = len; n; n >>= 8) octets.insert(octets.begin(), static_cast<uint8_t>(n));
                enc.push_back(static_cast<uint8_t>(0x80 | octets.size()));
                enc.insert(enc.end(), octets.begin(), octets.end());
            }
        }
        if (data) enc.insert(enc.end(), data, data + len);
        *out = key + "=#" + hexUpper(enc);
        return true;
    }
    if (needsQuotes(value)) {
        std::string q = "\"";
        for (char c : value) {
            if (c == '"') q += '"';
            q += c;
        }
        value = q + "\"";
    }
    *out = key + "=" + value;
    return true;
}

bool nameToString(const uint8_t *encoded, size_t len, std::string *text) {
    if (!encoded || !text || len == 0 || len > 0x7FFFFFFF) {
        setLastError(PLAT_E_ASN1_BAD);
        return false;
    }
    const unsigned char *p = encoded;
    X509_NAME *name = d2i_X509_NAME(nullptr, &p, static_cast<long>(len));
    if (!name || p != encoded + len) {
        X509_NAME_free(name);
        setLastError(PLAT_E_ASN1_BAD);
        return false;
    }
    std::string s;
    int lastSet = -1;
    bool ok = true;
    for (int i = 0; i < X509_NAME_entry_count(name); i++) {
        const X509_NAME_ENTRY *e = X509_NAME_get_entry(name, i);
        std::string item;
        if (!entryText(e, &item)) {
            ok = false;
            break;
        }
        int set = X509_NAME_ENTRY_set(e);
        if (i > 0) s += (set == lastSet) ? " + " : ", ";
        lastSet = set;
        s += item;
    }
    X509_NAME_free(name);
    if (!ok) {
        setLastError(PLAT_E_ASN1_BAD);
        return false;
    }
    *text = s;
    return true;
}

// ---- stores ------------------------------------------------------------

static bool validStoreName(const std::string &name) {
    return !name.empty() && name.find_first_of("\\/") == std::string::npos && name != "." &&
           name != "..";
}

Store *openSystemStore(Location where, const std::string &name, unsigned flags) {
    if (!validStoreName(name)) {
        setLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    reg::Root root = where == LocalMachine ? reg::LocalMachine : reg::CurrentUser;
    std::string certsKey = std::string(kStoresKey) + "\\" + name + "\\Certificates";
    if (!reg::keyExists(root, certsKey)) {
        if (flags & OPEN_EXISTING) {
            setLastError(PLAT_E_NOT_FOUND);
            return nullptr;
        }
        errno = 0;
        int rc = reg::createKey(root, certsKey);
        if (rc != reg::PLAT_REG_OK) {
            setLastError(regErrorToLast(rc) == PLAT_E_NOT_FOUND ? PLAT_E_WRITE : regErrorToLast(rc));
            return nullptr;
        }
    }
    auto *store = new Store;
    store->root = root;
    store->certsKey = certsKey;
    store->readOnly = (flags & OPEN_READONLY) != 0;
    return store;
}

void closeStore(Store *store) { delete store; }

static bool parsePropName(const std::string &name, uint32_t *id) {
    if (name.size() != 8 || strncasecmp(name.c_str(), "Prop", 4) != 0) return false;
    uint32_t v = 0;
    for (size_t i = 4; i < 8; i++) {
        char c = name[i];
        int d = (c >= '0' && c <= '9') ? c - '0'
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                         : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    *id = v;
    return v != 0 && v != PROP_SHA1_HASH;
}

// Context for the certificate stored under `key`, or null when its Blob is
// missing or does not parse.
static Context *loadEntry(reg::Root root, const std::string &key) {
    std::vector<reg::Value> values;
    if (reg::listValues(root, key, &values) != reg::PLAT_REG_OK) return nullptr;
    Context *ctx = nullptr;
    for (const auto &v : values)
        if (strcasecmp(v.name.c_str(), "Blob") == 0 && v.type == reg::Binary)
            ctx = create(v.data.data(), v.data.size());
    if (!ctx) return nullptr;
    for (const auto &v : values) {
        uint32_t id = 0;
        if (v.type == reg::Binary && parsePropName(v.name, &id)) ctx->props[id] = v.data;
    }
    ctx->inStore = true;
    ctx->storeRoot = root;
    ctx->storeKey = key;
    return ctx;
}

std::vector<Context *> certificates(Store *store) {
    std::vector<Context *> out;
    if (!store) return out;
    std::vector<std::string> keys;
    if (reg::listSubkeys(store->root, store->certsKey, &keys) != reg::PLAT_REG_OK) return out;
    for (const auto &k : keys)
        if (Context *ctx = loadEntry(store->root, store->certsKey + "\\" + k)) out.push_back(ctx);
    return out;
}

static bool writeEntry(Store *store, const std::string &key, const Context *ctx) {
    errno = 0;
    // Start from an empty key so no property of an older entry survives.
    int rc = reg::deleteKey(store->root, key);
    if (rc != reg::PLAT_REG_OK && rc != reg::PLAT_REG_NO_KEY) {
        setLastError(regErrorToLast(rc) == PLAT_E_NOT_FOUND ? PLAT_E_WRITE : regErrorToLast(rc));
        return false;
    }
    rc = reg::setValue(store->root, key, reg::Value::binary("Blob", ctx->der));
    for (auto it = ctx->props.begin(); rc == reg::PLAT_REG_OK && it != ctx->props.end(); ++it)
        rc = reg::setValue(store->root, key, reg::Value::binary(propValueName(it->first), it->second));
    if (rc != reg::PLAT_REG_OK) {
        setLastError(regErrorToLast(rc) == PLAT_E_NOT_FOUND ? PLAT_E_WRITE : regErrorToLast(rc));
        reg::deleteKey(store->root, key);
        return false;
    }
    return true;
}

bool addContext(Store *store, const Context *ctx, AddMode mode, Context **added) {
    if (added) *added = nullptr;
    if (!store || !ctx) {
        setLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string key = store->certsKey + "\\" + thumbprint(ctx);
    bool present = false;
    if (reg::keyExists(store->root, key)) {
        Context *old = loadEntry(store->root, key);
        present = old != nullptr;  // a broken entry is overwritten
        release(old);
    }
    if (present && mode == ADD_NEW) {
        setLastError(PLAT_E_EXISTS);
        return false;
    }
    if (!(present && mode == ADD_USE_EXISTING)) {
        if (store->readOnly) {
            setLastError(PLAT_ERROR_ACCESS_DENIED);
            return false;
        }
        if (!writeEntry(store, key, ctx)) return false;
    }
    if (added) *added = loadEntry(store->root, key);
    return true;
}

bool addEncoded(Store *store, const uint8_t *der, size_t len, AddMode mode, Context **added) {
    if (added) *added = nullptr;
    Context *ctx = create(der, len);
    if (!ctx) return false;
    bool ok = addContext(store, ctx, mode, added);
    release(ctx);
    return ok;
}

bool removeByThumbprint(Store *store, const std::string &thumb) {
    if (!store || thumb.size() != 40 || thumb.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        setLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string key = store->certsKey + "\\" + thumb;
    if (!reg::keyExists(store->root, key)) {
        setLastError(PLAT_E_NOT_FOUND);
        return false;
    }
    if (store->readOnly) {
        setLastError(PLAT_ERROR_ACCESS_DENIED);
        return false;
    }
    errno = 0;
    int rc = reg::deleteKey(store->root, key);
    if (rc != reg::PLAT_REG_OK) {
        setLastError(regErrorToLast(rc) == PLAT_E_NOT_FOUND ? PLAT_E_WRITE : regErrorToLast(rc));
        return false;
    }
    return true;
}

// ---- for plat_crypt ----------------------------------------------------

void cacheHandle(Context *ctx, void *handle, void (*releaseFn)(void *)) {
    ctx->cached.push_back(handle);
    ctx->releaseCached = releaseFn;
}

void *cachedHandle(const Context *ctx) { return ctx->cached.empty() ? nullptr : ctx->cached.back(); }

void retireCachedHandle(Context *ctx) {
    // The handle may still be borrowed by a caller; it is released with the
    // context. A null entry marks "no current handle".
    if (!ctx->cached.empty() && ctx->cached.back()) ctx->cached.push_back(nullptr);
}

}  // namespace plat::cert
