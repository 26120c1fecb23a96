#include "plat_crypt.h"

#include "plat_certstore.h"
#include "plat_certstore_internal.h"
#include "plat_lasterror.h"
#include "plat_paths.h"
#include "plat_registry.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::crypt {

const char *const BASE_PROVIDER = "Microsoft Base Cryptographic Provider v1.0";
const char *const ENHANCED_PROVIDER = "Microsoft Enhanced Cryptographic Provider v1.0";
const char *const AES_PROVIDER = "Microsoft Enhanced RSA and AES Cryptographic Provider";

static const char *const kProvidersKey = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
static const char *const kProviderTypesKey =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types";
static const char *const kSharedFolder = "Microsoft Software Keys";
static const char *const kSm2DefaultId = "1234567812345678";

struct Provider {
    std::atomic<int> refs{1};
    std::string name;
    uint32_t type = 0;
    std::string storage;    // folder of the provider's containers
    std::string container;  // "" for a verify context
    std::vector<std::string> enumSnapshot;
    size_t enumPos = 0;
};

struct Key {
    Provider *prov = nullptr;  // one reference
    uint32_t keySpec = 0;
    EVP_PKEY *pkey = nullptr;
    std::vector<uint8_t> cert;
};

struct Hash {
    Provider *prov = nullptr;  // one reference
    uint32_t algId = 0;
    EVP_MD_CTX *md = nullptr;
    std::vector<uint8_t> value;
    bool finished = false;
};

// ---- helpers -----------------------------------------------------------

static bool fail(uint32_t code) {
    setLastError(code);
    return false;
}

static uint32_t ioError(int err) {
    return (err == EACCES || err == EPERM || err == EROFS) ? PLAT_ERROR_ACCESS_DENIED : PLAT_E_WRITE;
}

static bool isStandard(const std::string &name) {
    return strcasecmp(name.c_str(), BASE_PROVIDER) == 0 ||
           strcasecmp(name.c_str(), ENHANCED_PROVIDER) == 0 ||
           strcasecmp(name.c_str(), AES_PROVIDER) == 0;
}

static std::string escapeName(const std::string &name) {
    std::string out;
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || c == '/' || c == '%' || (i == 0 && c == '.')) {
            char buf[4];
            snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

static int hexVal(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

static std::string unescapeName(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size() + 0 && hexVal(s[i + 1]) >= 0 && hexVal(s[i + 2]) >= 0) {
            out += static_cast<char>(hexVal(s[i + 1]) * 16 + hexVal(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

static std::string storageFolder(const std::string &provider) {
    std::string base = plat::userDir();
    if (base.empty()) return "";
    return base + "/crypto/" + escapeName(isStandard(provider) ? kSharedFolder : provider);
}

std::string defaultContainerName() {
    struct passwd pw, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_name && *res->pw_name)
        return res->pw_name;
    const char *u = getenv("USER");
    return (u && *u) ? u : "default";
}

static bool ciLess(const std::string &a, const std::string &b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

// ---- providers ---------------------------------------------------------

struct ProvEntry {
    std::string name;
    uint32_t type = 0;
    bool typeOk = true;
};

static std::vector<ProvEntry> providerTable() {
    std::vector<ProvEntry> list = {
        {BASE_PROVIDER, PROV_RSA_FULL, true},
        {ENHANCED_PROVIDER, PROV_RSA_FULL, true},
        {AES_PROVIDER, PROV_RSA_AES, true},
    };
    std::vector<std::string> keys;
    if (reg::listSubkeys(reg::LocalMachine, kProvidersKey, &keys) == reg::PLAT_REG_OK) {
        for (const auto &k : keys) {
            if (isStandard(k)) continue;
            reg::Value v;
            ProvEntry e{k, 0, false};
            if (reg::getValue(reg::LocalMachine, std::string(kProvidersKey) + "\\" + k, "Type", &v) ==
                    reg::PLAT_REG_OK &&
                v.type == reg::Dword && v.data.size() == 4) {
                e.type = v.asDword();
                e.typeOk = true;
            }
            list.push_back(e);
        }
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const ProvEntry &a, const ProvEntry &b) { return ciLess(a.name, b.name); });
    return list;
}

bool enumProviders(uint32_t index, std::string *name, uint32_t *type) {
    std::vector<ProvEntry> list = providerTable();
    if (index >= list.size()) return fail(PLAT_ERROR_NO_MORE_ITEMS);
    if (!list[index].typeOk) return fail(PLAT_NTE_PROV_TYPE_ENTRY_BAD);
    if (name) *name = list[index].name;
    if (type) *type = list[index].type;
    return true;
}

static std::string defaultProviderFor(uint32_t type) {
    char key[160];
    snprintf(key, sizeof key, "%s\\Type %03u", kProviderTypesKey, type);
    reg::Value v;
    if (reg::getValue(reg::LocalMachine, key, "Name", &v) == reg::PLAT_REG_OK && !v.asText().empty())
        return v.asText();
    if (type == PROV_RSA_FULL) return BASE_PROVIDER;
    if (type == PROV_RSA_AES) return AES_PROVIDER;
    return "";
}

static bool removeTree(const std::string &path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) errno = ec.value();
    return !ec;
}

bool acquireContext(Provider **out, const char *container, const char *provider, uint32_t type,
                    uint32_t flags) {
    if (!out) return fail(PLAT_ERROR_INVALID_PARAMETER);
    *out = nullptr;
    const uint32_t known = VERIFY_CONTEXT | NEW_KEYSET | DELETE_KEYSET | SILENT;
    if ((flags & ~known) || ((flags & NEW_KEYSET) && (flags & DELETE_KEYSET)))
        return fail(PLAT_NTE_BAD_FLAGS);

    std::string provName = (provider && *provider) ? provider : defaultProviderFor(type);
    if (provName.empty()) return fail(PLAT_NTE_KEYSET_NOT_DEF);
    const ProvEntry *entry = nullptr;
    std::vector<ProvEntry> table = providerTable();
    for (const auto &e : table)
        if (strcasecmp(e.name.c_str(), provName.c_str()) == 0) entry = &e;
    if (!entry) return fail(PLAT_NTE_KEYSET_NOT_DEF);
    if (!entry->typeOk) return fail(PLAT_NTE_PROV_TYPE_ENTRY_BAD);
    if (entry->type != type) return fail(PLAT_NTE_PROV_TYPE_NO_MATCH);

    auto prov = std::make_unique<Provider>();
    prov->name = entry->name;
    prov->type = entry->type;
    prov->storage = storageFolder(entry->name);
    if (prov->storage.empty()) return fail(PLAT_E_WRITE);  // no user folder at all
    if ((flags & VERIFY_CONTEXT) == VERIFY_CONTEXT) {
        if (flags & (NEW_KEYSET | DELETE_KEYSET)) return fail(PLAT_NTE_BAD_FLAGS);
        *out = prov.release();
        return true;
    }
    prov->container = (container && *container) ? container : defaultContainerName();
    std::string dir = prov->storage + "/" + escapeName(prov->container);

    struct stat st;
    errno = 0;
    bool exists = stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!exists && errno == EACCES) return fail(PLAT_ERROR_ACCESS_DENIED);
    if (flags & DELETE_KEYSET) {
        if (!exists) return fail(PLAT_NTE_BAD_KEYSET);
        if (!removeTree(dir)) return fail(ioError(errno));
        return true;
    }
    if (flags & NEW_KEYSET) {
        if (exists) return fail(PLAT_NTE_EXISTS);
        if (!plat::makeDirs(dir)) return fail(ioError(errno));
    } else {
        if (!exists) return fail(PLAT_NTE_BAD_KEYSET);
        if (access(dir.c_str(), R_OK | X_OK) != 0) return fail(PLAT_ERROR_ACCESS_DENIED);
    }
    *out = prov.release();
    return true;
}

Provider *addRef(Provider *prov) {
    if (prov) prov->refs.fetch_add(1);
    return prov;
}

void releaseContext(Provider *prov) {
    if (prov && prov->refs.fetch_sub(1) == 1) delete prov;
}

std::string providerName(const Provider *prov) { return prov ? prov->name : ""; }
uint32_t providerType(const Provider *prov) { return prov ? prov->type : 0; }
std::string containerName(const Provider *prov) { return prov ? prov->container : ""; }

bool enumContainers(Provider *prov, bool first, std::string *name) {
    if (!prov) return fail(PLAT_ERROR_INVALID_PARAMETER);
    if (first) {
        prov->enumSnapshot.clear();
        prov->enumPos = 0;
        DIR *d = opendir(prov->storage.c_str());
        if (!d && errno != ENOENT) return fail(ioError(errno));
        if (d) {
            while (struct dirent *e = readdir(d)) {
                std::string n = e->d_name;
                if (n == "." || n == "..") continue;
                struct stat st;
                if (stat((prov->storage + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    prov->enumSnapshot.push_back(unescapeName(n));
            }
            closedir(d);
        }
        std::sort(prov->enumSnapshot.begin(), prov->enumSnapshot.end(), ciLess);
    }
    if (prov->enumPos >= prov->enumSnapshot.size()) return fail(PLAT_ERROR_NO_MORE_ITEMS);
    if (name) *name = prov->enumSnapshot[prov->enumPos];
    prov->enumPos++;
    return true;
}

// ---- keys --------------------------------------------------------------

static std::string keyFile(const Provider *prov, uint32_t keySpec, const char *ext) {
    return prov->storage + "/" + escapeName(prov->container) + "/" +
           (keySpec == AT_SIGNATURE ? "signature" : "exchange") + ext;
}

// Reads a whole (small, regular) file straight into *data: no staging
// buffer holds a copy of a private key's text that nobody would wipe.
static bool readFile(const std::string &path, std::string *data) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (1 << 20);
    if (ok) {
        data->assign(static_cast<size_t>(st.st_size), '\0');
        size_t got = 0;
        while (got < data->size()) {
            ssize_t n = read(fd, data->data() + got, data->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        data->resize(got);  // shrinking keeps the same storage
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

static std::vector<uint8_t> pemCertToDer(const std::string &pem) {
    std::vector<uint8_t> der;
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509 *x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    unsigned char *enc = nullptr;
    int n = x ? i2d_X509(x, &enc) : -1;
    if (n > 0) der.assign(enc, enc + n);
    OPENSSL_free(enc);
    X509_free(x);
    BIO_free(bio);
    return der;
}

bool getUserKey(Provider *prov, uint32_t keySpec, Key **out) {
    if (!prov || !out || (keySpec != AT_SIGNATURE && keySpec != AT_KEYEXCHANGE))
        return fail(PLAT_ERROR_INVALID_PARAMETER);
    *out = nullptr;
    if (prov->container.empty()) return fail(PLAT_NTE_NO_KEY);
    std::string pem;
    if (!readFile(keyFile(prov, keySpec, ".key"), &pem))
        return fail(errno == EACCES ? PLAT_ERROR_ACCESS_DENIED : PLAT_NTE_NO_KEY);
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY *pkey = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    OPENSSL_cleanse(pem.data(), pem.size());
    if (!pkey) return fail(PLAT_NTE_BAD_DATA);
    auto *key = new Key;
    key->prov = addRef(prov);
    key->keySpec = keySpec;
    key->pkey = pkey;
    std::string certPem;
    if (readFile(keyFile(prov, keySpec, ".crt"), &certPem)) key->cert = pemCertToDer(certPem);
    *out = key;
    return true;
}

void destroyKey(Key *key) {
    if (!key) return;
    EVP_PKEY_free(key->pkey);
    releaseContext(key->prov);
    delete key;
}

bool keyCertificate(const Key *key, std::vector<uint8_t> *der) {
    if (!key) return fail(PLAT_ERROR_INVALID_PARAMETER);
    if (key->cert.empty()) return fail(PLAT_NTE_NOT_FOUND);
    if (der) *der = key->cert;
    return true;
}

const EVP_PKEY *keyObject(const Key *key) { return key ? key->pkey : nullptr; }

// Writes `data` to `path` (mode 0600) through a temporary file.
static bool writePrivateFile(const std::string &path, const std::string &data) {
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            int e = errno;
            close(fd);
            unlink(tmp.c_str());
            errno = e;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        errno = e;
        return false;
    }
    return true;
}

static std::string bioText(BIO *bio) {
    char *p = nullptr;
    long n = BIO_get_mem_data(bio, &p);
    return (n > 0 && p) ? std::string(p, static_cast<size_t>(n)) : std::string();
}

bool storeKeyPair(Provider *prov, uint32_t keySpec, EVP_PKEY *key, const uint8_t *certDer,
                  size_t certLen) {
    if (!prov || !key || (keySpec != AT_SIGNATURE && keySpec != AT_KEYEXCHANGE))
        return fail(PLAT_ERROR_INVALID_PARAMETER);
    if (prov->container.empty()) return fail(PLAT_NTE_BAD_KEYSET);
    std::string dir = prov->storage + "/" + escapeName(prov->container);
    if (!plat::makeDirs(dir)) return fail(ioError(errno));

    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio || PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        BIO_free(bio);
        return fail(PLAT_NTE_BAD_DATA);
    }
    std::string pem = bioText(bio);
    BIO_free(bio);
    bool ok = writePrivateFile(keyFile(prov, keySpec, ".key"), pem);
    int err = errno;
    OPENSSL_cleanse(pem.data(), pem.size());
    if (!ok) return fail(ioError(err));

    std::string certPath = keyFile(prov, keySpec, ".crt");
    if (!certDer || certLen == 0) {
        unlink(certPath.c_str());
        return true;
    }
    const unsigned char *p = certDer;
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(certLen));
    if (!x) return fail(PLAT_E_ASN1_BAD);
    bio = BIO_new(BIO_s_mem());
    ok = bio && PEM_write_bio_X509(bio, x) == 1;
    std::string certPem = ok ? bioText(bio) : "";
    BIO_free(bio);
    X509_free(x);
    if (!ok) return fail(PLAT_NTE_FAIL);
    if (!writePrivateFile(certPath, certPem)) return fail(ioError(errno));
    return true;
}

// ---- hashes ------------------------------------------------------------

static const EVP_MD *mdFor(uint32_t algId) {
    switch (algId) {
    case ALG_MD5: return EVP_md5();
    case ALG_SHA1: return EVP_sha1();
    case ALG_SHA256: return EVP_sha256();
    case ALG_SHA384: return EVP_sha384();
    case ALG_SHA512: return EVP_sha512();
    case ALG_SM3: return EVP_sm3();
    default: return nullptr;
    }
}

static bool providerOffers(const Provider *prov, uint32_t algId) {
    if (algId == ALG_MD5 || algId == ALG_SHA1) return true;
    bool sha2 = algId == ALG_SHA256 || algId == ALG_SHA384 || algId == ALG_SHA512;
    if (strcasecmp(prov->name.c_str(), AES_PROVIDER) == 0) return sha2;
    if (isStandard(prov->name)) return false;
    return sha2 || algId == ALG_SM3;
}

static bool isSm2Key(const EVP_PKEY *pkey) {
    if (!pkey) return false;
    if (EVP_PKEY_is_a(pkey, "SM2")) return true;
    char group[64] = {0};
    size_t len = 0;
    return EVP_PKEY_is_a(pkey, "EC") &&
           EVP_PKEY_get_group_name(pkey, group, sizeof group, &len) == 1 &&
           strcmp(group, "SM2") == 0;
}

// Z of the SM2 identity hash for the default user ID (32 bytes), or empty.
static std::vector<uint8_t> sm2Z(const EVP_PKEY *pkey) {
    std::vector<uint8_t> z;
    BIGNUM *x = nullptr, *y = nullptr;
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *gx = BN_new(), *gy = BN_new();
    EC_GROUP *group = EC_GROUP_new_by_curve_name(NID_sm2);
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    bool ok = p && a && b && gx && gy && group && md &&
              EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
              EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
              EC_GROUP_get_curve(group, p, a, b, nullptr) == 1 &&
              EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), gx, gy,
                                              nullptr) == 1;
    if (ok) {
        const size_t idLen = strlen(kSm2DefaultId);
        uint8_t entl[2] = {static_cast<uint8_t>((idLen * 8) >> 8), static_cast<uint8_t>(idLen * 8)};
        ok = EVP_DigestInit_ex(md, EVP_sm3(), nullptr) == 1 &&
             EVP_DigestUpdate(md, entl, 2) == 1 && EVP_DigestUpdate(md, kSm2DefaultId, idLen) == 1;
        const BIGNUM *parts[] = {a, b, gx, gy, x, y};
        for (const BIGNUM *bn : parts) {
            uint8_t buf[32];
            ok = ok && BN_bn2binpad(bn, buf, 32) == 32 && EVP_DigestUpdate(md, buf, 32) == 1;
        }
        unsigned int n = 0;
        uint8_t out[EVP_MAX_MD_SIZE];
        if (ok && EVP_DigestFinal_ex(md, out, &n) == 1) z.assign(out, out + n);
    }
    EVP_MD_CTX_free(md);
    EC_GROUP_free(group);
    BN_free(x);
    BN_free(y);
    BN_free(p);
    BN_free(a);
    BN_free(b);
    BN_free(gx);
    BN_free(gy);
    return z;
}

// The container's SM2 key (signature key first), or null. Caller frees.
static EVP_PKEY *containerSm2Key(Provider *prov) {
    for (uint32_t keySpec : {AT_SIGNATURE, AT_KEYEXCHANGE}) {
        Key *key = nullptr;
        if (!getUserKey(prov, keySpec, &key)) continue;
        EVP_PKEY *pk = nullptr;
        if (isSm2Key(key->pkey)) {
            pk = key->pkey;
            key->pkey = nullptr;
        }
        destroyKey(key);
        if (pk) return pk;
    }
    return nullptr;
}

bool createHash(Provider *prov, uint32_t algId, Hash **out) {
    if (!prov || !out) return fail(PLAT_ERROR_INVALID_PARAMETER);
    *out = nullptr;
    const EVP_MD *md = mdFor(algId);
    if (!md || !providerOffers(prov, algId)) return fail(PLAT_NTE_BAD_ALGID);
    auto *h = new Hash;
    h->prov = addRef(prov);
    h->algId = algId;
    h->md = EVP_MD_CTX_new();
    if (!h->md || EVP_DigestInit_ex(h->md, md, nullptr) != 1) {
        destroyHash(h);
        return fail(PLAT_NTE_FAIL);
    }
    if (algId == ALG_SM3 && !prov->container.empty()) {
        uint32_t saved = lastError();
        if (EVP_PKEY *sm2 = containerSm2Key(prov)) {
            std::vector<uint8_t> z = sm2Z(sm2);
            EVP_PKEY_free(sm2);
            if (z.empty() || EVP_DigestUpdate(h->md, z.data(), z.size()) != 1) {
                destroyHash(h);
                return fail(PLAT_NTE_FAIL);
            }
        }
        setLastError(saved);
    }
    *out = h;
    return true;
}

bool hashData(Hash *hash, const uint8_t *data, size_t len) {
    if (!hash || (!data && len)) return fail(PLAT_ERROR_INVALID_PARAMETER);
    if (hash->finished) return fail(PLAT_NTE_BAD_HASH_STATE);
    if (len && EVP_DigestUpdate(hash->md, data, len) != 1) return fail(PLAT_NTE_FAIL);
    return true;
}

static bool finish(Hash *hash) {
    if (hash->finished) return true;
    uint8_t out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(hash->md, out, &n) != 1) return fail(PLAT_NTE_FAIL);
    hash->value.assign(out, out + n);
    hash->finished = true;
    return true;
}

static bool putParam(const uint8_t *src, uint32_t size, uint8_t *out, uint32_t *len) {
    if (!len) return fail(PLAT_ERROR_INVALID_PARAMETER);
    if (!out) {
        *len = size;
        return true;
    }
    if (*len < size) {
        *len = size;
        return fail(PLAT_ERROR_MORE_DATA);
    }
    memcpy(out, src, size);
    *len = size;
    return true;
}

bool getHashParam(Hash *hash, uint32_t param, uint8_t *out, uint32_t *len) {
    if (!hash) return fail(PLAT_ERROR_INVALID_PARAMETER);
    uint8_t word[4];
    switch (param) {
    case HP_ALGID:
    case HP_HASHSIZE: {
        uint32_t v = param == HP_ALGID ? hash->algId : static_cast<uint32_t>(EVP_MD_CTX_get_size(hash->md));
        for (int i = 0; i < 4; i++) word[i] = static_cast<uint8_t>(v >> (8 * i));
        return putParam(word, 4, out, len);
    }
    case HP_HASHVAL:
        if (!out) {
            if (!len) return fail(PLAT_ERROR_INVALID_PARAMETER);
            *len = static_cast<uint32_t>(EVP_MD_CTX_get_size(hash->md));
            return true;
        }
        if (!finish(hash)) return false;
        return putParam(hash->value.data(), static_cast<uint32_t>(hash->value.size()), out, len);
    default:
        return fail(PLAT_NTE_BAD_FLAGS);
    }
}

bool setHashParam(Hash *hash, uint32_t param, const uint8_t *data, uint32_t len) {
    if (!hash || !data) return fail(PLAT_ERROR_INVALID_PARAMETER);
    if (param != HP_HASHVAL) return fail(PLAT_NTE_BAD_FLAGS);
    if (len != static_cast<uint32_t>(EVP_MD_CTX_get_size(hash->md))) return fail(PLAT_NTE_BAD_LEN);
    hash->value.assign(data, data + len);
    hash->finished = true;
    return true;
}

void destroyHash(Hash *hash) {
    if (!hash) return;
    EVP_MD_CTX_free(hash->md);
    releaseContext(hash->prov);
    delete hash;
}

// DER ECDSA-Sig-Value -> r || s (each `half` bytes, big-endian).
static bool ecSigToRaw(const uint8_t *der, size_t len, size_t half, std::vector<uint8_t> *raw) {
    const unsigned char *p = der;
    ECDSA_SIG *sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(len));
    if (!sig) return false;
    raw->assign(2 * half, 0);
    bool ok = BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw->data(), static_cast<int>(half)) ==
                  static_cast<int>(half) &&
              BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw->data() + half, static_cast<int>(half)) ==
                  static_cast<int>(half);
    ECDSA_SIG_free(sig);
    return ok;
}

// Signature in CryptoAPI byte order, or false with the last error set.
static bool makeSignature(Hash *hash, EVP_PKEY *pkey, std::vector<uint8_t> *sig) {
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
    bool rsa = EVP_PKEY_is_a(pkey, "RSA");
    bool ec = EVP_PKEY_is_a(pkey, "EC") || EVP_PKEY_is_a(pkey, "SM2");
    bool ok = pctx && (rsa || ec) && EVP_PKEY_sign_init(pctx) == 1;
    if (ok && rsa)
        ok = EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
             EVP_PKEY_CTX_set_signature_md(pctx, mdFor(hash->algId)) == 1;
    size_t n = 0;
    ok = ok && EVP_PKEY_sign(pctx, nullptr, &n, hash->value.data(), hash->value.size()) == 1;
    std::vector<uint8_t> out(n);
    ok = ok && EVP_PKEY_sign(pctx, out.data(), &n, hash->value.data(), hash->value.size()) == 1;
    EVP_PKEY_CTX_free(pctx);
    if (!ok) return fail(rsa || ec ? PLAT_NTE_BAD_ALGID : PLAT_NTE_FAIL);
    out.resize(n);
    if (rsa) {
        std::reverse(out.begin(), out.end());
        *sig = out;
        return true;
    }
    size_t half = static_cast<size_t>((EVP_PKEY_get_bits(pkey) + 7) / 8);
    std::vector<uint8_t> raw;
    if (!ecSigToRaw(out.data(), out.size(), half, &raw)) return fail(PLAT_NTE_FAIL);
    std::reverse(raw.begin(), raw.begin() + static_cast<long>(half));
    std::reverse(raw.begin() + static_cast<long>(half), raw.end());
    *sig = raw;
    return true;
}

bool signHash(Hash *hash, uint32_t keySpec, uint8_t *sig, uint32_t *len) {
    if (!hash || !len) return fail(PLAT_ERROR_INVALID_PARAMETER);
    Key *key = nullptr;
    if (!getUserKey(hash->prov, keySpec, &key)) return false;
    bool ok = finish(hash);
    std::vector<uint8_t> out;
    ok = ok && makeSignature(hash, key->pkey, &out);
    destroyKey(key);
    if (!ok) return false;
    return putParam(out.data(), static_cast<uint32_t>(out.size()), sig, len);
}

// ---- certificate private keys -----------------------------------------

static void releaseCachedProvider(void *handle) { releaseContext(static_cast<Provider *>(handle)); }

bool acquireCertificatePrivateKey(cert::Context *ctx, uint32_t flags, Provider **prov,
                                  uint32_t *keySpec, bool *callerFree) {
    if (!ctx || !prov) return fail(PLAT_ERROR_INVALID_PARAMETER);
    *prov = nullptr;
    std::vector<uint8_t> raw;
    cert::KeyProvInfo info;
    if (!cert::getProperty(ctx, cert::PROP_KEY_PROV_INFO, &raw) ||
        !cert::decodeKeyProvInfo(raw.data(), raw.size(), &info))
        return fail(PLAT_E_NO_KEY_PROPERTY);
    if ((flags & ACQUIRE_CACHE) && cert::cachedHandle(ctx)) {
        *prov = static_cast<Provider *>(cert::cachedHandle(ctx));
        if (keySpec) *keySpec = info.keySpec;
        if (callerFree) *callerFree = false;
        return true;
    }
    Provider *p = nullptr;
    if (!acquireContext(&p, info.container.c_str(), info.provider.c_str(), info.provType, 0))
        return false;
    Key *key = nullptr;
    if (!getUserKey(p, info.keySpec, &key)) {
        releaseContext(p);
        return false;
    }
    EVP_PKEY *certKey = X509_get0_pubkey(cert::x509(ctx));
    bool match = certKey && EVP_PKEY_eq(certKey, key->pkey) == 1;
    destroyKey(key);
    if (!match) {
        releaseContext(p);
        return fail(PLAT_NTE_BAD_PUBLIC_KEY);
    }
    if (flags & ACQUIRE_CACHE) cert::cacheHandle(ctx, p, releaseCachedProvider);
    *prov = p;
    if (keySpec) *keySpec = info.keySpec;
    if (callerFree) *callerFree = (flags & ACQUIRE_CACHE) == 0;
    return true;
}

}  // namespace plat::crypt
