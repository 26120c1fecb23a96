#include "tutil/tutil_skf.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

#include <openssl/crypto.h>

#include "tcore/tcore_errors.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"
#include "topl/topl_evp_digest.h"
#include "tutil/tutil_skf_api.h"

namespace {

// The driver functions, in resolving order; the number logged for a
// missing one is its index + 1.
#define TUTIL_SKF_FUNCS(X)                                                              \
    X(EnumDev) X(EnumApplication) X(ConnectDev) X(DisConnectDev) X(CloseApplication)    \
    X(CloseContainer) X(GetContainerType) X(OpenContainer) X(EnumContainer)             \
    X(OpenApplication) X(ExportCertificate) X(ECCSignData) X(RSASignData) X(Digest)     \
    X(DigestInit) X(ExportPublicKey) X(VerifyPIN) X(EnumFiles) X(DeleteFile) X(ReadFile) \
    X(WriteFile) X(CreateFile) X(GetFileInfo) X(GetDevInfo) X(ChangePIN) X(UnblockPIN)  \
    X(ImportSessionKey) X(DecryptInit) X(Decrypt) X(DecryptUpdate) X(DecryptFinal)

enum FuncIndex {
#define X(name) F_##name,
    TUTIL_SKF_FUNCS(X)
#undef X
    F_COUNT
};
static_assert(F_COUNT == 31, "the SKF driver exports 31 functions");

const char *const kFuncNames[F_COUNT] = {
#define X(name) "SKF_" #name,
    TUTIL_SKF_FUNCS(X)
#undef X
};

struct Driver {
    int id;
    std::string path;  // as loaded, compared exactly
    void *module;
    void *fn[F_COUNT];
};

// The typed driver function `name` of driver d.
#define SKF(d, name) (reinterpret_cast<SKF_##name##_t *>((d)->fn[F_##name]))

std::vector<std::unique_ptr<Driver>> g_drivers;
int g_nextId = TUTIL_SKF_FIRST_ID;

// Default SM2 user ID handed to the device with the public key.
const unsigned char kSm2DefaultId[] = "1234567812345678";
const ULONG kSm2DefaultIdLen = 16;

enum {
    DEV_LIST_SIZE = 1024,   // SKF_EnumDev buffer
    NAME_LIST_SIZE = 256,   // SKF_EnumApplication / SKF_EnumContainer buffer
    BUF_SIZE = 1024,        // public-key blob, digest and RSA signature buffers
};

Driver *findDriver(int id) {
    for (auto &d : g_drivers)
        if (d->id == id) return d.get();
    return nullptr;
}

// Calls fn(name) for every name of a driver's name list. The walk stays in
// the first min(size, capacity) octets whatever the driver wrote, and ends
// at an empty name; a last name that runs to the end without its NUL is
// taken up to the end.
template <class Fn>
void forEachName(const char *list, ULONG size, size_t capacity, Fn fn) {
    size_t end = std::min<size_t>(size, capacity);
    size_t pos = 0;
    while (pos < end) {
        size_t len = strnlen(list + pos, end - pos);
        if (len == 0) break;
        fn(std::string(list + pos, len));
        pos += len + 1;
    }
}

void copyName(char *field, const std::string &name) {
    snprintf(field, TUTIL_SKF_NAME_SIZE, "%s", name.c_str());
}

bool terminated(const char *field, size_t size) { return memchr(field, '\0', size) != nullptr; }

// The record check shared by open and close.
int checkKey(const tutil_skf_key *key) {
    if (key->driverId <= 0 || key->certLen <= 0 || !key->devName[0] || !key->appName[0] ||
        !key->conName[0] || !terminated(key->devName, sizeof key->devName) ||
        !terminated(key->appName, sizeof key->appName) ||
        !terminated(key->conName, sizeof key->conName))
        return TUTIL_SKF_ERR_KEY;
    if (key->conType != TUTIL_SKF_TYPE_RSA && key->conType != TUTIL_SKF_TYPE_SM2)
        return TUTIL_SKF_ERR_CON_TYPE;
    return 0;
}

void closeHandles(Driver *d, tutil_skf_key *key) {
    if (key->hCon) {
        ULONG rv = SKF(d, CloseContainer)(key->hCon);
        if (rv != SAR_OK) TCORE_LOG("skf_closeContainer %s failed %8x", key->conName, rv);
        key->hCon = nullptr;
    }
    if (key->hApp) {
        ULONG rv = SKF(d, CloseApplication)(key->hApp);
        if (rv != SAR_OK) TCORE_LOG("skf_closeApplication %s failed %8x", key->appName, rv);
        key->hApp = nullptr;
    }
    if (key->hDev) {
        ULONG rv = SKF(d, DisConnectDev)(key->hDev);
        if (rv != SAR_OK) TCORE_LOG("skf_disConnectDev %s failed %8x", key->devName, rv);
        key->hDev = nullptr;
    }
}

int findAppCerts(Driver *d, HAPPLICATION hApp, const std::string &dev, const std::string &app,
                 tcore_list **list) {
    char names[NAME_LIST_SIZE] = {0};
    ULONG size = sizeof names;
    ULONG rv = SKF(d, EnumContainer)(hApp, names, &size);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_enumContainer failed %8x", rv);
        return TUTIL_SKF_ERR_ENUM_CON;
    }
    int count = 0;
    forEachName(names, size, sizeof names, [&](const std::string &con) {
        HCONTAINER hCon = nullptr;
        ULONG r = SKF(d, OpenContainer)(hApp, const_cast<char *>(con.c_str()), &hCon);
        if (r != SAR_OK) {
            TCORE_LOG("skf_openContainer %s failed %8x, continue", con.c_str(), r);
            return;
        }
        ULONG type = 0;
        r = SKF(d, GetContainerType)(hCon, &type);
        if (r != SAR_OK) {
            TCORE_LOG("skf_getContainerType %s failed %8x, continue", con.c_str(), r);
        } else {
            auto *key = static_cast<tutil_skf_key *>(tcore_zalloc(sizeof(tutil_skf_key)));
            ULONG certLen = sizeof key->cert;
            r = SKF(d, ExportCertificate)(hCon, TRUE, key->cert, &certLen);
            if (r != SAR_OK) {
                TCORE_LOG("skf_exportCertificate sign %s failed %8x, continue", con.c_str(), r);
                free(key);
            } else if (certLen == 0 || certLen > sizeof key->cert) {
                // A length the buffer cannot hold is a driver fault, not a certificate.
                TCORE_LOG("skf_exportCertificate sign %s gave %u octets, continue", con.c_str(),
                          certLen);
                free(key);
            } else {
                key->driverId = d->id;
                key->module = d->module;
                key->signFlag = 1;
                key->conType = static_cast<int>(type);
                copyName(key->devName, dev);
                copyName(key->appName, app);
                copyName(key->conName, con);
                key->certLen = static_cast<int>(certLen);
                if (!*list)
                    *list = tcore_list_new([](void *p) {
                        tutil_skf_release(static_cast<tutil_skf_key *>(p));
                    });
                tcore_list_append(*list, key);
                count++;
            }
        }
        r = SKF(d, CloseContainer)(hCon);
        if (r != SAR_OK) TCORE_LOG("skf_closeContainer %s failed %8x, continue", con.c_str(), r);
    });
    return count;
}

int findDevCerts(Driver *d, DEVHANDLE hDev, const std::string &dev, tcore_list **list) {
    char names[NAME_LIST_SIZE] = {0};
    ULONG size = sizeof names;
    ULONG rv = SKF(d, EnumApplication)(hDev, names, &size);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_enumApplication failed %8x", rv);
        return TUTIL_SKF_ERR_ENUM_APP;
    }
    int count = 0;
    forEachName(names, size, sizeof names, [&](const std::string &app) {
        HAPPLICATION hApp = nullptr;
        ULONG r = SKF(d, OpenApplication)(hDev, const_cast<char *>(app.c_str()), &hApp);
        if (r != SAR_OK) {
            TCORE_LOG("skf_openApplication %s failed %8x, continue", app.c_str(), r);
            return;
        }
        int n = findAppCerts(d, hApp, dev, app, list);
        if (n < 0)
            TCORE_LOG("tutil_skf_findAppCerts  %s failed %d, continue", app.c_str(), n);
        else
            count += n;
        r = SKF(d, CloseApplication)(hApp);
        if (r != SAR_OK)
            TCORE_LOG("skf_closeApplication %s failed %8x, continue", app.c_str(), r);
    });
    return count;
}

// Maps a failed SKF_VerifyPIN to the adapter's code, after logging it.
int pinFailure(const tutil_skf_key *key, ULONG rv, ULONG retry) {
    TCORE_LOG("skf_verifyPin %s failed %8x, left retry %d", key->conName, rv,
              static_cast<int>(retry));
    return rv == SAR_PIN_LOCKED ? TUTIL_SKF_ERR_PIN_LOCKED : TUTIL_SKF_ERR_PIN;
}

// Verifies the record's PIN on its open application.
ULONG verifyPin(Driver *d, tutil_skf_key *key, ULONG *retry) {
    char pin[TUTIL_SKF_PIN_SIZE];
    memcpy(pin, key->pin, sizeof pin);
    pin[sizeof pin - 1] = '\0';
    ULONG rv = SKF(d, VerifyPIN)(key->hApp, USER_TYPE, pin, retry);
    OPENSSL_cleanse(pin, sizeof pin);
    return rv;
}

// Digests an RSA key's device cannot compute; the adapter computes them.
bool adapterDigest(int kid) {
    return kid == TOPL_KID_MD5 || kid == TOPL_KID_SHA512 || kid == TOPL_KID_SHA384;
}

// The digest to sign for tutil_skf_sign: computed on the device, or for
// the digests the device cannot compute (MD5, SHA-512, SHA-384 with RSA)
// by the adapter, so that the signature holds the digest the caller named.
int digestData(Driver *d, tutil_skf_key *key, const unsigned char *data, int len, int kid,
               unsigned char *out, ULONG *outLen) {
    if (key->conType == TUTIL_SKF_TYPE_RSA && adapterDigest(kid)) {
        int n = topl_evp_digest_once(kid, data, len, out, BUF_SIZE);
        if (n < 0) {
            TCORE_LOG("topl_evp_digest_once %d of %s failed %d", kid, key->conName, n);
            return n;
        }
        *outLen = static_cast<ULONG>(n);
        return 0;
    }
    ULONG alg = SGD_SHA1;
    unsigned char pub[BUF_SIZE] = {0};
    ECCPUBLICKEYBLOB *pubKey = nullptr;
    unsigned char *id = nullptr;
    ULONG idLen = 0;
    if (key->conType == TUTIL_SKF_TYPE_SM2) {
        ULONG pubLen = sizeof pub;
        ULONG rv = SKF(d, ExportPublicKey)(key->hCon, TRUE, pub, &pubLen);
        if (rv != SAR_OK) {
            TCORE_LOG("skf_exportPublicKey %s failed %8x", key->conName, rv);
            return TUTIL_SKF_ERR_EXPORT_PUB;
        }
        alg = SGD_SM3;
        pubKey = reinterpret_cast<ECCPUBLICKEYBLOB *>(pub);
        id = const_cast<unsigned char *>(kSm2DefaultId);
        idLen = kSm2DefaultIdLen;
    } else if (kid == TOPL_KID_SHA256) {
        alg = SGD_SHA256;
    }
    HANDLE hHash = nullptr;
    ULONG rv = SKF(d, DigestInit)(key->hDev, alg, pubKey, id, idLen, &hHash);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_digestInit %s failed %8x", key->conName, rv);
        return TUTIL_SKF_ERR_DIGEST_INIT;
    }
    *outLen = BUF_SIZE;
    rv = SKF(d, Digest)(hHash, const_cast<unsigned char *>(data), static_cast<ULONG>(len), out,
                        outLen);
    if (rv == SAR_OK && *outLen > BUF_SIZE) rv = SAR_BUFFER_TOO_SMALL;  // a driver's lie
    if (rv != SAR_OK) {
        TCORE_LOG("skf_digest %s failed %8x", key->conName, rv);
        return TUTIL_SKF_ERR_DIGEST;
    }
    return 0;
}

int signFailure(ULONG rv) {
    return rv == SAR_USER_NOT_LOGGED_IN ? TUTIL_SKF_ERR_NOT_LOGGED_IN : TUTIL_SKF_ERR_SIGN;
}

// Signs a digest with the open key; the output as the header describes.
int signDigest(Driver *d, tutil_skf_key *key, unsigned char *digest, ULONG digestLen,
               unsigned char *sig) {
    if (key->conType == TUTIL_SKF_TYPE_RSA) {
        unsigned char buf[BUF_SIZE];
        ULONG sigLen = sizeof buf;
        ULONG rv = SKF(d, RSASignData)(key->hCon, digest, digestLen, buf, &sigLen);
        if (rv != SAR_OK) {
            TCORE_LOG("skf_rsaSignData %s failed %8x", key->conName, rv);
            return signFailure(rv);
        }
        if (sigLen > sizeof buf) return TCORE_ERR_BUFFER_SMALL;
        memcpy(sig, buf, sigLen);
        return static_cast<int>(sigLen);
    }
    ECCSIGNATUREBLOB blob;
    memset(&blob, 0, sizeof blob);
    ULONG rv = SKF(d, ECCSignData)(key->hCon, digest, digestLen, &blob);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_eccSignData %s failed %8x", key->conName, rv);
        return signFailure(rv);
    }
    return tutil_skf_eccSigToDer(reinterpret_cast<const unsigned char *>(&blob), sig);
}

// The common road of both signing calls; `hashed` says whether `in` is a
// ready digest.
int signCommon(tutil_skf_key *key, const unsigned char *in, int len, int kid,
               unsigned char *sig, bool hashed) {
    Driver *d = findDriver(key->driverId);
    if (!d) return TUTIL_SKF_ERR_NO_DRIVER;
    int rc = tutil_skf_open(key);
    if (rc < 0) return rc;

    unsigned char digest[BUF_SIZE];
    ULONG digestLen = 0;
    if (key->pin[0]) {
        ULONG retry = 0;
        ULONG rv = verifyPin(d, key, &retry);
        if (rv != SAR_OK) rc = pinFailure(key, rv, retry);
    }
    if (rc == 0) {
        if (hashed) {
            digestLen = static_cast<ULONG>(std::min(len, static_cast<int>(sizeof digest)));
            memcpy(digest, in, digestLen);
        } else {
            rc = digestData(d, key, in, len, kid, digest, &digestLen);
        }
    }
    if (rc == 0) rc = signDigest(d, key, digest, digestLen, sig);
    OPENSSL_cleanse(digest, sizeof digest);
    if (rc < 0) tutil_skf_close(key);
    return rc;
}

}  // namespace

int tutil_skf_load(const char *path) {
    TCORE_CHECK_STR(path);
    for (auto &d : g_drivers)
        if (d->path == path) return d->id;

    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        TCORE_LOG_SYSERR("LoadLibrary");
        TCORE_LOG("dlopen %s: %s", path, dlerror());
        return TUTIL_SKF_ERR_LOAD;
    }
    auto d = std::make_unique<Driver>();
    for (int i = 0; i < F_COUNT; i++) {
        d->fn[i] = dlsym(module, kFuncNames[i]);
        if (!d->fn[i]) {
            TCORE_LOG("get func (No.%d) addr failed ", i + 1);
            TCORE_LOG("%s has no %s", path, kFuncNames[i]);
            dlclose(module);
            return TUTIL_SKF_ERR_FUNC;
        }
    }
    d->id = g_nextId++;
    d->path = path;
    d->module = module;
    g_drivers.push_back(std::move(d));
    return g_drivers.back()->id;
}

int tutil_skf_findAllCerts(int driverId, tcore_list **list) {
    TCORE_CHECK_NULL(list);
    Driver *d = findDriver(driverId);
    if (!d) return TUTIL_SKF_ERR_NO_DRIVER;

    char names[DEV_LIST_SIZE] = {0};
    ULONG size = sizeof names;
    ULONG rv = SKF(d, EnumDev)(TRUE, names, &size);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_enumDev failed %8x", rv);
        return TUTIL_SKF_ERR_ENUM_DEV;
    }
    int count = 0;
    forEachName(names, size, sizeof names, [&](const std::string &dev) {
        DEVHANDLE hDev = nullptr;
        ULONG r = SKF(d, ConnectDev)(const_cast<char *>(dev.c_str()), &hDev);
        if (r != SAR_OK) {
            TCORE_LOG("skf_connectDev %s failed %8x, continue", dev.c_str(), r);
            return;
        }
        int n = findDevCerts(d, hDev, dev, list);
        if (n < 0)
            TCORE_LOG("tutil_skf_findDevCerts  %s failed %d, continue", dev.c_str(), n);
        else
            count += n;
        r = SKF(d, DisConnectDev)(hDev);
        if (r != SAR_OK) TCORE_LOG("skf_disConnectDev %s failed %8x, continue", dev.c_str(), r);
    });
    return count;
}

int tutil_skf_open(tutil_skf_key *key) {
    TCORE_CHECK_NULL(key);
    int rc = checkKey(key);
    if (rc < 0) return rc;
    if (key->hDev && key->hApp && key->hCon) return 0;
    Driver *d = findDriver(key->driverId);
    if (!d) return TUTIL_SKF_ERR_NO_DRIVER;
    closeHandles(d, key);  // a half-open key starts over

    ULONG rv = SKF(d, ConnectDev)(key->devName, &key->hDev);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_connectDev %s failed %8x", key->devName, rv);
        key->hDev = nullptr;
        return TUTIL_SKF_ERR_CONNECT;
    }
    rv = SKF(d, OpenApplication)(key->hDev, key->appName, &key->hApp);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_openApplication %s failed %8x", key->appName, rv);
        key->hApp = nullptr;
        closeHandles(d, key);
        return TUTIL_SKF_ERR_OPEN_APP;
    }
    rv = SKF(d, OpenContainer)(key->hApp, key->conName, &key->hCon);
    if (rv != SAR_OK) {
        TCORE_LOG("skf_openContainer %s failed %8x, continue", key->conName, rv);
        key->hCon = nullptr;
        closeHandles(d, key);
        return TUTIL_SKF_ERR_OPEN_CON;
    }
    return 0;
}

int tutil_skf_close(tutil_skf_key *key) {
    TCORE_CHECK_NULL(key);
    int rc = checkKey(key);
    if (rc < 0) return rc;
    Driver *d = findDriver(key->driverId);
    if (!d) return TUTIL_SKF_ERR_NO_DRIVER;
    closeHandles(d, key);
    return 0;
}

int tutil_skf_sign(tutil_skf_key *key, const unsigned char *data, int len, int kid,
                   unsigned char *sig) {
    TCORE_CHECK_NULL(key);
    TCORE_CHECK_NULL(data);
    TCORE_CHECK_POSITIVE(len);
    TCORE_CHECK_NULL(sig);
    return signCommon(key, data, len, kid, sig, false);
}

int tutil_skf_signHash(tutil_skf_key *key, const unsigned char *digest, int len, int kid,
                       unsigned char *sig) {
    TCORE_CHECK_NULL(key);
    TCORE_CHECK_NULL(digest);
    TCORE_CHECK_POSITIVE(len);
    TCORE_CHECK_NULL(sig);
    return signCommon(key, digest, len, kid, sig, true);
}

int tutil_skf_verifyPin(tutil_skf_key *key, int *retry) {
    TCORE_CHECK_NULL(key);
    TCORE_CHECK_STR(key->pin);
    Driver *d = findDriver(key->driverId);
    if (!d) return TUTIL_SKF_ERR_NO_DRIVER;
    int rc = tutil_skf_open(key);
    if (rc < 0) return rc;
    ULONG left = 0;
    ULONG rv = verifyPin(d, key, &left);
    if (rv == SAR_OK) return 0;
    rc = pinFailure(key, rv, left);
    if (retry) *retry = static_cast<int>(left);
    tutil_skf_close(key);
    return rc;
}

void tutil_skf_release(tutil_skf_key *key) {
    if (!key) return;
    if (key->refCount > 0) {
        key->refCount--;
        return;
    }
    if (key->hDev || key->hApp || key->hCon) {
        if (Driver *d = findDriver(key->driverId)) closeHandles(d, key);
    }
    OPENSSL_cleanse(key->pin, sizeof key->pin);
    free(key);
}

void tutil_skf_unloadAll(void) {
    for (auto &d : g_drivers) dlclose(d->module);
    g_drivers.clear();
    g_drivers.shrink_to_fit();
}

int tutil_skf_eccSigToDer(const unsigned char *blob, unsigned char *out) {
    TCORE_CHECK_NULL(blob);
    TCORE_CHECK_NULL(out);
    // r is octets 32-63 of the blob, s octets 96-127.
    const unsigned char *parts[2] = {blob + 32, blob + 96};
    unsigned char body[70];
    size_t n = 0;
    for (const unsigned char *v : parts) {
        size_t skip = 0;
        while (skip < 31 && v[skip] == 0) skip++;  // minimal: keep at least one octet
        size_t vlen = 32 - skip;
        bool pad = v[skip] >= 0x80;
        body[n++] = 0x02;
        body[n++] = static_cast<unsigned char>(vlen + pad);
        if (pad) body[n++] = 0x00;
        memcpy(body + n, v + skip, vlen);
        n += vlen;
    }
    out[0] = 0x30;
    out[1] = static_cast<unsigned char>(n);
    memcpy(out + 2, body, n);
    return static_cast<int>(n + 2);
}
