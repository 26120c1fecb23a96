// The SKF entry points of the software token (libsoftskf.so).
//
// Handles are pointers to objects of this library; every call checks that
// the handle is one it handed out and not yet closed (SAR_INVALIDHANDLEERR
// otherwise). Closing a device, application or container also closes
// everything opened through it. A device that was marked absent while
// connected answers SAR_DEVICE_REMOVED.
//
// Signing needs a verified user PIN on the application the container was
// opened from (SAR_USER_NOT_LOGGED_IN otherwise).
//
// SKF_RSASignData signs the given octets with PKCS#1 v1.5 padding. When
// their length is that of a known digest (16 MD5, 20 SHA-1, 28 SHA-224,
// 32 SHA-256, 48 SHA-384, 64 SHA-512) they are taken for that digest and
// wrapped in its DigestInfo first, so the signature verifies with standard
// verifiers (32 octets count as SHA-256). Other lengths are padded as they
// are. SKF_ECCSignData signs the given value (at most 32 octets, normally
// the SM3 digest of Z and the message) with SM2.
//
// The functions this token does not offer answer SAR_NOTSUPPORTYETERR.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>

#include "softskf_store.h"
#include "tutil/tutil_skf_api.h"

#define SKF_EXPORT extern "C" __attribute__((visibility("default")))

SKF_EXPORT SKF_EnumDev_t SKF_EnumDev;
SKF_EXPORT SKF_EnumApplication_t SKF_EnumApplication;
SKF_EXPORT SKF_ConnectDev_t SKF_ConnectDev;
SKF_EXPORT SKF_DisConnectDev_t SKF_DisConnectDev;
SKF_EXPORT SKF_CloseApplication_t SKF_CloseApplication;
SKF_EXPORT SKF_CloseContainer_t SKF_CloseContainer;
SKF_EXPORT SKF_GetContainerType_t SKF_GetContainerType;
SKF_EXPORT SKF_OpenContainer_t SKF_OpenContainer;
SKF_EXPORT SKF_EnumContainer_t SKF_EnumContainer;
SKF_EXPORT SKF_OpenApplication_t SKF_OpenApplication;
SKF_EXPORT SKF_ExportCertificate_t SKF_ExportCertificate;
SKF_EXPORT SKF_ECCSignData_t SKF_ECCSignData;
#ifndef SOFTSKF_WITHOUT_RSASIGN
SKF_EXPORT SKF_RSASignData_t SKF_RSASignData;
#endif
SKF_EXPORT SKF_Digest_t SKF_Digest;
SKF_EXPORT SKF_DigestInit_t SKF_DigestInit;
SKF_EXPORT SKF_ExportPublicKey_t SKF_ExportPublicKey;
SKF_EXPORT SKF_VerifyPIN_t SKF_VerifyPIN;
SKF_EXPORT SKF_EnumFiles_t SKF_EnumFiles;
SKF_EXPORT SKF_DeleteFile_t SKF_DeleteFile;
SKF_EXPORT SKF_ReadFile_t SKF_ReadFile;
SKF_EXPORT SKF_WriteFile_t SKF_WriteFile;
SKF_EXPORT SKF_CreateFile_t SKF_CreateFile;
SKF_EXPORT SKF_GetFileInfo_t SKF_GetFileInfo;
SKF_EXPORT SKF_GetDevInfo_t SKF_GetDevInfo;
SKF_EXPORT SKF_ChangePIN_t SKF_ChangePIN;
SKF_EXPORT SKF_UnblockPIN_t SKF_UnblockPIN;
SKF_EXPORT SKF_ImportSessionKey_t SKF_ImportSessionKey;
SKF_EXPORT SKF_DecryptInit_t SKF_DecryptInit;
SKF_EXPORT SKF_Decrypt_t SKF_Decrypt;
SKF_EXPORT SKF_DecryptUpdate_t SKF_DecryptUpdate;
SKF_EXPORT SKF_DecryptFinal_t SKF_DecryptFinal;
SKF_EXPORT SKF_CloseHandle_t SKF_CloseHandle;

using namespace softskf;

namespace {

enum class Kind { Dev, App, Con, Hash };

struct Obj {
    Kind kind;
    Obj *parent;
    std::string name;
    std::string dir;
    Obj(Kind k, Obj *p) : kind(k), parent(p) {}
    virtual ~Obj() = default;
};

struct DevObj : Obj {
    DevObj() : Obj(Kind::Dev, nullptr) {}
};

struct AppObj : Obj {
    bool loggedIn = false;
    explicit AppObj(Obj *dev) : Obj(Kind::App, dev) {}
};

struct ConObj : Obj {
    int type = 0;
    EVP_PKEY *key = nullptr;  // loaded on first use
    explicit ConObj(Obj *app) : Obj(Kind::Con, app) {}
    ~ConObj() override { EVP_PKEY_free(key); }
};

struct HashObj : Obj {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    explicit HashObj(Obj *dev) : Obj(Kind::Hash, dev) {}
    ~HashObj() override { EVP_MD_CTX_free(ctx); }
};

// Every live handle. The library is used from one thread at a time in
// practice; the lock keeps it sound when it is not.
std::mutex g_mu;
std::map<const void *, std::unique_ptr<Obj>> g_objs;

template <class T>
T *find(HANDLE h, Kind kind) {
    auto it = g_objs.find(h);
    if (it == g_objs.end() || it->second->kind != kind) return nullptr;
    return static_cast<T *>(it->second.get());
}

HANDLE add(std::unique_ptr<Obj> obj) {
    HANDLE h = obj.get();
    g_objs.emplace(h, std::move(obj));
    return h;
}

bool below(const Obj *o, const Obj *top) {
    for (; o; o = o->parent)
        if (o == top) return true;
    return false;
}

// Removes `top` and everything opened through it. The victims are all
// found before any is freed: finding one walks parent pointers.
void closeTree(const Obj *top) {
    std::vector<const void *> victims;
    for (const auto &[h, obj] : g_objs)
        if (below(obj.get(), top)) victims.push_back(h);
    for (const void *h : victims) g_objs.erase(h);
}

const Obj *rootOf(const Obj *o) {
    while (o->parent) o = o->parent;
    return o;
}

bool devicePresent(const std::string &devDir) {
    Conf conf;
    if (!readConf(devDir + "/" + kDeviceConf, &conf)) return false;
    return confGet(conf, "present", "1") != "0";
}

// SAR_OK while the device an object belongs to is still there.
ULONG checkPresent(const Obj *o) {
    return devicePresent(rootOf(o)->dir) ? SAR_OK : SAR_DEVICE_REMOVED;
}

std::string faultOf(const std::string &confPath, const char *name) {
    Conf conf;
    readConf(confPath, &conf);
    return confGet(conf, name);
}

// Writes a name list the GM/T 0016 way, or the configured fault.
ULONG writeList(const std::vector<std::string> &names, const std::string &fault, LPSTR buf,
                ULONG *size) {
    if (!size) return SAR_INVALIDPARAMERR;
    if (fault == "fail") return SAR_FAIL;
    std::string list;
    for (const auto &n : names) list.append(n).push_back('\0');
    list.push_back('\0');
    if (!buf) {
        *size = static_cast<ULONG>(list.size());
        return SAR_OK;
    }
    if (fault == "unterminated") {
        memset(buf, 'A', *size);
        return SAR_OK;
    }
    if (*size < list.size()) {
        *size = static_cast<ULONG>(list.size());
        return SAR_BUFFER_TOO_SMALL;
    }
    memcpy(buf, list.data(), list.size());
    *size = fault == "oversize" ? *size + 4096 : static_cast<ULONG>(list.size());
    return SAR_OK;
}

// The two-call convention of output buffers: with no buffer the caller
// learns the size it needs (SAR_OK), with one too small it learns the size
// and gets SAR_BUFFER_TOO_SMALL. Returns true with `*rv` set when the call
// ends there; false when `buf` holds `need` octets.
bool answeredSizeOnly(size_t need, const void *buf, ULONG *len, ULONG *rv) {
    if (buf && *len >= need) return false;
    *rv = buf ? SAR_BUFFER_TOO_SMALL : SAR_OK;
    *len = static_cast<ULONG>(need);
    return true;
}

// Closes a handle of the given kind and everything opened through it.
template <class T>
ULONG closeHandle(HANDLE h, Kind kind) {
    T *obj = find<T>(h, kind);
    if (!obj) return SAR_INVALIDHANDLEERR;
    closeTree(obj);
    return SAR_OK;
}

// a || b || xG || yG of the SM2 curve, 128 octets, for Z.
bool sm2CurveBytes(unsigned char out[128]) {
    static unsigned char cached[128];
    static bool ready = false;
    if (ready) {
        memcpy(out, cached, sizeof cached);
        return true;
    }
    bool ok = false;
    EC_GROUP *group = EC_GROUP_new_by_curve_name(NID_sm2);
    BN_CTX *bctx = BN_CTX_new();
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *x = BN_new(), *y = BN_new();
    if (group && bctx && p && a && b && x && y &&
        EC_GROUP_get_curve(group, p, a, b, bctx) == 1 &&
        EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), x, y, bctx) ==
            1 &&
        BN_bn2binpad(a, cached, 32) == 32 && BN_bn2binpad(b, cached + 32, 32) == 32 &&
        BN_bn2binpad(x, cached + 64, 32) == 32 && BN_bn2binpad(y, cached + 96, 32) == 32) {
        ready = ok = true;
        memcpy(out, cached, sizeof cached);
    }
    BN_free(p), BN_free(a), BN_free(b), BN_free(x), BN_free(y);
    BN_CTX_free(bctx);
    EC_GROUP_free(group);
    return ok;
}

// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA).
bool sm2Z(const ECCPUBLICKEYBLOB *pub, const unsigned char *id, ULONG idLen,
          unsigned char z[32]) {
    if (pub->BitLen != 256 || idLen > 8191) return false;
    unsigned char curve[128];
    if (!sm2CurveBytes(curve)) return false;
    unsigned char entl[2] = {static_cast<unsigned char>((idLen * 8) >> 8),
                             static_cast<unsigned char>(idLen * 8)};
    EVP_MD_CTX *c = EVP_MD_CTX_new();
    unsigned int n = 0;
    bool ok = c && EVP_DigestInit_ex(c, EVP_sm3(), nullptr) == 1 &&
              EVP_DigestUpdate(c, entl, 2) == 1 && EVP_DigestUpdate(c, id, idLen) == 1 &&
              EVP_DigestUpdate(c, curve, sizeof curve) == 1 &&
              EVP_DigestUpdate(c, pub->XCoordinate + 32, 32) == 1 &&
              EVP_DigestUpdate(c, pub->YCoordinate + 32, 32) == 1 &&
              EVP_DigestFinal_ex(c, z, &n) == 1 && n == 32;
    EVP_MD_CTX_free(c);
    return ok;
}

// The container's signing key, loaded once; SM2-curve keys are turned into
// SM2 keys so that signing uses the SM2 scheme.
EVP_PKEY *containerKey(ConObj *con) {
    if (con->key) return con->key;
    EVP_PKEY *key = loadKey(con->dir);
    if (key && keyType(key) == 2 && !EVP_PKEY_is_a(key, "SM2")) {
        OSSL_PARAM *params = nullptr;
        EVP_PKEY *sm2 = nullptr;
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
        if (EVP_PKEY_todata(key, EVP_PKEY_KEYPAIR, &params) == 1 && pc &&
            EVP_PKEY_fromdata_init(pc) == 1)
            EVP_PKEY_fromdata(pc, &sm2, EVP_PKEY_KEYPAIR, params);
        OSSL_PARAM_free(params);
        EVP_PKEY_CTX_free(pc);
        EVP_PKEY_free(key);
        key = sm2;
    }
    if (key && keyType(key) != con->type) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    con->key = key;
    return key;
}

#ifndef SOFTSKF_WITHOUT_RSASIGN
const EVP_MD *digestForLength(ULONG len) {
    switch (len) {
    case 16: return EVP_md5();
    case 20: return EVP_sha1();
    case 28: return EVP_sha224();
    case 32: return EVP_sha256();
    case 48: return EVP_sha384();
    case 64: return EVP_sha512();
    default: return nullptr;
    }
}
#endif

// Looks up a container for signing: present device, verified PIN, key.
ULONG signingContainer(HCONTAINER h, int type, ConObj **out, EVP_PKEY **key) {
    ConObj *con = find<ConObj>(h, Kind::Con);
    if (!con) return SAR_INVALIDHANDLEERR;
    if (ULONG rv = checkPresent(con)) return rv;
    if (con->type != type) return SAR_KEYUSAGEERR;
    if (!static_cast<AppObj *>(con->parent)->loggedIn) return SAR_USER_NOT_LOGGED_IN;
    *key = containerKey(con);
    if (!*key) return SAR_KEYNOTFOUNTERR;
    *out = con;
    return SAR_OK;
}

}  // namespace

ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG *pulSize) {
    std::lock_guard<std::mutex> lock(g_mu);
    std::string dir = tokenDir();
    std::vector<std::string> names;
    for (const auto &n : listChildren(dir, kDeviceConf))
        if (!bPresent || devicePresent(dir + "/" + n)) names.push_back(n);
    return writeList(names, faultOf(dir + "/" + kTokenConf, "enum_dev"), szNameList, pulSize);
}

ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE *phDev) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!szName || !phDev) return SAR_INVALIDPARAMERR;
    if (!validName(szName)) return SAR_NAMELENERR;
    std::string dir = devicePath(szName);
    Conf conf;
    if (!readConf(dir + "/" + kDeviceConf, &conf)) return SAR_INVALIDPARAMERR;
    if (!devicePresent(dir)) return SAR_DEVICE_REMOVED;
    auto dev = std::make_unique<DevObj>();
    dev->name = szName;
    dev->dir = dir;
    *phDev = add(std::move(dev));
    return SAR_OK;
}

ULONG SKF_DisConnectDev(DEVHANDLE hDev) {
    std::lock_guard<std::mutex> lock(g_mu);
    return closeHandle<DevObj>(hDev, Kind::Dev);
}

ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO *pDevInfo) {
    std::lock_guard<std::mutex> lock(g_mu);
    DevObj *dev = find<DevObj>(hDev, Kind::Dev);
    if (!dev) return SAR_INVALIDHANDLEERR;
    if (!pDevInfo) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(dev)) return rv;
    memset(pDevInfo, 0, sizeof *pDevInfo);
    pDevInfo->Version = {1, 0};
    snprintf(pDevInfo->Manufacturer, sizeof pDevInfo->Manufacturer, "softskf");
    snprintf(pDevInfo->Issuer, sizeof pDevInfo->Issuer, "softskf");
    snprintf(pDevInfo->Label, sizeof pDevInfo->Label, "%s", dev->name.c_str());
    snprintf(pDevInfo->SerialNumber, sizeof pDevInfo->SerialNumber, "%s", dev->name.c_str());
    pDevInfo->HWVersion = {1, 0};
    pDevInfo->FirmwareVersion = {1, 0};
    pDevInfo->AlgAsymCap = SGD_RSA | SGD_SM2_1;
    pDevInfo->AlgHashCap = SGD_SM3 | SGD_SHA1 | SGD_SHA256;
    pDevInfo->MaxECCBufferSize = 32;
    pDevInfo->MaxBufferSize = 0x7fffffff;
    return SAR_OK;
}

ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG *pulSize) {
    std::lock_guard<std::mutex> lock(g_mu);
    DevObj *dev = find<DevObj>(hDev, Kind::Dev);
    if (!dev) return SAR_INVALIDHANDLEERR;
    if (ULONG rv = checkPresent(dev)) return rv;
    return writeList(listChildren(dev->dir, kAppConf),
                     faultOf(dev->dir + "/" + kDeviceConf, "enum_apps"), szAppName, pulSize);
}

ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION *phApplication) {
    std::lock_guard<std::mutex> lock(g_mu);
    DevObj *dev = find<DevObj>(hDev, Kind::Dev);
    if (!dev) return SAR_INVALIDHANDLEERR;
    if (!szAppName || !phApplication) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(dev)) return rv;
    if (!validName(szAppName)) return SAR_APPLICATION_NAME_INVALID;
    std::string dir = dev->dir + "/" + szAppName;
    Conf conf;
    if (!readConf(dir + "/" + kAppConf, &conf)) return SAR_APPLICATION_NOT_EXISTS;
    auto app = std::make_unique<AppObj>(dev);
    app->name = szAppName;
    app->dir = dir;
    *phApplication = add(std::move(app));
    return SAR_OK;
}

ULONG SKF_CloseApplication(HAPPLICATION hApplication) {
    std::lock_guard<std::mutex> lock(g_mu);
    return closeHandle<AppObj>(hApplication, Kind::App);
}

ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN,
                    ULONG *pulRetryCount) {
    std::lock_guard<std::mutex> lock(g_mu);
    AppObj *app = find<AppObj>(hApplication, Kind::App);
    if (!app) return SAR_INVALIDHANDLEERR;
    if (!szPIN) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(app)) return rv;
    if (ulPINType != USER_TYPE) return SAR_USER_TYPE_INVALID;
    if (strlen(szPIN) > static_cast<size_t>(kMaxPinLen)) return SAR_PIN_LEN_RANGE;
    int left = 0;
    bool ioError = false;
    PinCheck r = checkPin(app->dir, szPIN, &left, &ioError);
    if (pulRetryCount) *pulRetryCount = static_cast<ULONG>(left);
    app->loggedIn = r == PinCheck::Ok;
    switch (r) {
    case PinCheck::Ok: return SAR_OK;
    case PinCheck::Wrong: return SAR_PIN_INCORRECT;
    case PinCheck::Locked: return SAR_PIN_LOCKED;
    case PinCheck::NotSet: return ioError ? SAR_FILEERR : SAR_USER_PIN_NOT_INITIALIZED;
    }
    return SAR_FAIL;
}

ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG *pulSize) {
    std::lock_guard<std::mutex> lock(g_mu);
    AppObj *app = find<AppObj>(hApplication, Kind::App);
    if (!app) return SAR_INVALIDHANDLEERR;
    if (ULONG rv = checkPresent(app)) return rv;
    return writeList(listChildren(app->dir, kContainerConf),
                     faultOf(app->dir + "/" + kAppConf, "enum_containers"), szContainerName,
                     pulSize);
}

ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName,
                        HCONTAINER *phContainer) {
    std::lock_guard<std::mutex> lock(g_mu);
    AppObj *app = find<AppObj>(hApplication, Kind::App);
    if (!app) return SAR_INVALIDHANDLEERR;
    if (!szContainerName || !phContainer) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(app)) return rv;
    if (!validName(szContainerName)) return SAR_NAMELENERR;
    std::string dir = app->dir + "/" + szContainerName;
    Conf conf;
    if (!readConf(dir + "/" + kContainerConf, &conf)) return SAR_INVALIDPARAMERR;
    auto con = std::make_unique<ConObj>(app);
    con->name = szContainerName;
    con->dir = dir;
    std::string type = confGet(conf, "type");
    con->type = type == "1" ? SKF_CONTAINER_RSA : type == "2" ? SKF_CONTAINER_ECC : 0;
    *phContainer = add(std::move(con));
    return SAR_OK;
}

ULONG SKF_CloseContainer(HCONTAINER hContainer) {
    std::lock_guard<std::mutex> lock(g_mu);
    return closeHandle<ConObj>(hContainer, Kind::Con);
}

ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG *pulContainerType) {
    std::lock_guard<std::mutex> lock(g_mu);
    ConObj *con = find<ConObj>(hContainer, Kind::Con);
    if (!con) return SAR_INVALIDHANDLEERR;
    if (!pulContainerType) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(con)) return rv;
    *pulContainerType = static_cast<ULONG>(con->type);
    return SAR_OK;
}

ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbCert,
                            ULONG *pulCertLen) {
    std::lock_guard<std::mutex> lock(g_mu);
    ConObj *con = find<ConObj>(hContainer, Kind::Con);
    if (!con) return SAR_INVALIDHANDLEERR;
    if (!pulCertLen) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(con)) return rv;
    if (faultOf(con->dir + "/" + kContainerConf, "export_cert") == "fail") return SAR_FAIL;
    std::vector<unsigned char> der;
    if (!bSignFlag || !loadCert(con->dir, &der)) return SAR_CERTNOTFOUNTERR;
    if (ULONG rv = SAR_OK; answeredSizeOnly(der.size(), pbCert, pulCertLen, &rv)) return rv;
    memcpy(pbCert, der.data(), der.size());
    *pulCertLen = static_cast<ULONG>(der.size());
    return SAR_OK;
}

ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE *pbBlob,
                          ULONG *pulBlobLen) {
    std::lock_guard<std::mutex> lock(g_mu);
    ConObj *con = find<ConObj>(hContainer, Kind::Con);
    if (!con) return SAR_INVALIDHANDLEERR;
    if (!pulBlobLen) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(con)) return rv;
    if (!bSignFlag) return SAR_KEYNOTFOUNTERR;  // signing keys only
    EVP_PKEY *key = containerKey(con);
    if (!key) return SAR_KEYNOTFOUNTERR;
    size_t need = con->type == SKF_CONTAINER_RSA ? sizeof(RSAPUBLICKEYBLOB)
                                                 : sizeof(ECCPUBLICKEYBLOB);
    if (ULONG rv = SAR_OK; answeredSizeOnly(need, pbBlob, pulBlobLen, &rv)) return rv;
    BIGNUM *a = nullptr, *b = nullptr;
    bool ok = false;
    if (con->type == SKF_CONTAINER_RSA) {
        RSAPUBLICKEYBLOB blob{};
        blob.AlgID = SGD_RSA;
        blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
        ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &a) == 1 &&
             EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &b) == 1 &&
             BN_bn2binpad(a, blob.Modulus, sizeof blob.Modulus) > 0 &&
             BN_bn2binpad(b, blob.PublicExponent, sizeof blob.PublicExponent) > 0;
        if (ok) memcpy(pbBlob, &blob, sizeof blob);
    } else {
        ECCPUBLICKEYBLOB blob{};
        blob.BitLen = 256;
        ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &a) == 1 &&
             EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &b) == 1 &&
             BN_bn2binpad(a, blob.XCoordinate + 32, 32) == 32 &&
             BN_bn2binpad(b, blob.YCoordinate + 32, 32) == 32;
        if (ok) memcpy(pbBlob, &blob, sizeof blob);
    }
    BN_free(a);
    BN_free(b);
    if (!ok) return SAR_FAIL;
    *pulBlobLen = static_cast<ULONG>(need);
    return SAR_OK;
}

ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB *pPubKey,
                     unsigned char *pucID, ULONG ulIDLen, HANDLE *phHash) {
    std::lock_guard<std::mutex> lock(g_mu);
    DevObj *dev = find<DevObj>(hDev, Kind::Dev);
    if (!dev) return SAR_INVALIDHANDLEERR;
    if (!phHash || (ulIDLen && !pucID)) return SAR_INVALIDPARAMERR;
    if (ULONG rv = checkPresent(dev)) return rv;
    const EVP_MD *md = ulAlgID == SGD_SM3      ? EVP_sm3()
                       : ulAlgID == SGD_SHA1   ? EVP_sha1()
                       : ulAlgID == SGD_SHA256 ? EVP_sha256()
                                               : nullptr;
    if (!md) return SAR_NOTSUPPORTYETERR;
    auto hash = std::make_unique<HashObj>(dev);
    if (!hash->ctx || EVP_DigestInit_ex(hash->ctx, md, nullptr) != 1) return SAR_HASHERR;
    if (ulAlgID == SGD_SM3 && pPubKey && pucID && ulIDLen) {
        unsigned char z[32];
        if (!sm2Z(pPubKey, pucID, ulIDLen, z)) return SAR_INVALIDPARAMERR;
        if (EVP_DigestUpdate(hash->ctx, z, sizeof z) != 1) return SAR_HASHERR;
    }
    *phHash = add(std::move(hash));
    return SAR_OK;
}

ULONG SKF_Digest(HANDLE hHash, BYTE *pbData, ULONG ulDataLen, BYTE *pbHashData,
                 ULONG *pulHashLen) {
    std::lock_guard<std::mutex> lock(g_mu);
    HashObj *hash = find<HashObj>(hHash, Kind::Hash);
    if (!hash) return SAR_INVALIDHANDLEERR;
    if (!pulHashLen || (ulDataLen && !pbData)) return SAR_INVALIDPARAMERR;
    ULONG size = static_cast<ULONG>(EVP_MD_CTX_get_size(hash->ctx));
    if (ULONG rv = SAR_OK; answeredSizeOnly(size, pbHashData, pulHashLen, &rv)) return rv;
    unsigned int n = 0;
    bool ok = EVP_DigestUpdate(hash->ctx, pbData, ulDataLen) == 1 &&
              EVP_DigestFinal_ex(hash->ctx, pbHashData, &n) == 1;
    // A finished digest handle is spent: free it here, since callers that
    // only know SKF_Digest never close it.
    closeTree(hash);
    if (!ok) return SAR_HASHERR;
    *pulHashLen = n;
    return SAR_OK;
}

ULONG SKF_CloseHandle(HANDLE hHandle) {
    std::lock_guard<std::mutex> lock(g_mu);
    return closeHandle<HashObj>(hHandle, Kind::Hash);
}

#ifndef SOFTSKF_WITHOUT_RSASIGN
ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE *pbData, ULONG ulDataLen, BYTE *pbSignature,
                      ULONG *pulSignLen) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!pbData || !ulDataLen || !pulSignLen) return SAR_INVALIDPARAMERR;
    ConObj *con = nullptr;
    EVP_PKEY *key = nullptr;
    if (ULONG rv = signingContainer(hContainer, SKF_CONTAINER_RSA, &con, &key)) return rv;
    size_t size = static_cast<size_t>(EVP_PKEY_get_size(key));
    if (ULONG rv = SAR_OK; answeredSizeOnly(size, pbSignature, pulSignLen, &rv)) return rv;
    const EVP_MD *md = digestForLength(ulDataLen);
    if (!md && ulDataLen > size - 11) return SAR_INDATALENERR;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool ok = ctx && EVP_PKEY_sign_init(ctx) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              (!md || EVP_PKEY_CTX_set_signature_md(ctx, md) == 1) &&
              EVP_PKEY_sign(ctx, pbSignature, &size, pbData, ulDataLen) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) return SAR_FAIL;
    *pulSignLen = static_cast<ULONG>(size);
    return SAR_OK;
}
#endif

ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE *pbData, ULONG ulDataLen,
                      PECCSIGNATUREBLOB pSignature) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!pbData || !pSignature) return SAR_INVALIDPARAMERR;
    if (ulDataLen == 0 || ulDataLen > 32) return SAR_INDATALENERR;
    ConObj *con = nullptr;
    EVP_PKEY *key = nullptr;
    if (ULONG rv = signingContainer(hContainer, SKF_CONTAINER_ECC, &con, &key)) return rv;
    unsigned char der[128];
    size_t derLen = sizeof der;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool ok = ctx && EVP_PKEY_sign_init(ctx) == 1 &&
              EVP_PKEY_sign(ctx, der, &derLen, pbData, ulDataLen) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) return SAR_FAIL;
    const unsigned char *p = der;
    ECDSA_SIG *sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLen));
    if (!sig) return SAR_FAIL;
    ECCSIGNATUREBLOB blob{};
    ok = BN_bn2binpad(ECDSA_SIG_get0_r(sig), blob.r + 32, 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig), blob.s + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    if (!ok) return SAR_FAIL;
    memcpy(pSignature, &blob, sizeof blob);
    return SAR_OK;
}

// Not offered by this token.

ULONG SKF_EnumFiles(HAPPLICATION, LPSTR, ULONG *) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_DeleteFile(HAPPLICATION, LPSTR) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_ReadFile(HAPPLICATION, LPSTR, ULONG, ULONG, BYTE *, ULONG *) {
    return SAR_NOTSUPPORTYETERR;
}
ULONG SKF_WriteFile(HAPPLICATION, LPSTR, ULONG, BYTE *, ULONG) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_CreateFile(HAPPLICATION, LPSTR, ULONG, ULONG, ULONG) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_GetFileInfo(HAPPLICATION, LPSTR, FILEATTRIBUTE *) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_ChangePIN(HAPPLICATION, ULONG, LPSTR, LPSTR, ULONG *) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_UnblockPIN(HAPPLICATION, LPSTR, LPSTR, ULONG *) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_ImportSessionKey(HCONTAINER, ULONG, BYTE *, ULONG, HANDLE *) {
    return SAR_NOTSUPPORTYETERR;
}
ULONG SKF_DecryptInit(HANDLE, BLOCKCIPHERPARAM) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_Decrypt(HANDLE, BYTE *, ULONG, BYTE *, ULONG *) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_DecryptUpdate(HANDLE, BYTE *, ULONG, BYTE *, ULONG *) { return SAR_NOTSUPPORTYETERR; }
ULONG SKF_DecryptFinal(HANDLE, BYTE *, ULONG *) { return SAR_NOTSUPPORTYETERR; }
