#include "tutil/tutil_pkcs11.h"

#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_file.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"
#include "tutil/tutil_pkcs11_ck.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The functions resolved by name, in this order. The first 12 are required;
// the others may be missing (their pointers stay null).
const char *const kFuncNames[] = {
    "C_Initialize",      "C_Finalize",      "C_GetSlotList",       "C_GetSlotInfo",
    "C_GetTokenInfo",    "C_OpenSession",   "C_CloseSession",      "C_Login",
    "C_FindObjectsInit", "C_FindObjects",   "C_FindObjectsFinal",  "C_GetAttributeValue",
    "C_Logout",          "C_CreateObject",  "C_DestroyObject",     "C_DigestInit",
    "C_Digest",          "C_DigestUpdate",  "C_DigestFinal",       "C_SignInit",
    "C_Sign",            "C_SignUpdate",    "C_SignFinal",         "C_EncryptInit",
    "C_Encrypt",         "C_EncryptUpdate", "C_EncryptFinal",      "C_DecryptInit",
    "C_Decrypt",         "C_DecryptUpdate", "C_DecryptFinal",
};

enum Func {
    F_INITIALIZE = 0,
    F_FINALIZE = 1,
    F_GET_SLOT_LIST = 2,
    F_OPEN_SESSION = 5,
    F_CLOSE_SESSION = 6,
    F_LOGIN = 7,
    F_FIND_INIT = 8,
    F_FIND = 9,
    F_FIND_FINAL = 10,
    F_GET_ATTRIBUTE = 11,
    F_REQUIRED = 12,
    F_SIGN_INIT = 19,
    F_SIGN = 20,
    F_COUNT = 31,
};
static_assert(sizeof kFuncNames / sizeof kFuncNames[0] == F_COUNT);

// Limits on what a driver may answer. A token that claims more slots or
// objects, or longer attributes, than any real token has is broken or
// hostile; the adapter refuses rather than allocate or loop without end.
constexpr CK_ULONG kMaxSlots = 1024;
constexpr int kMaxObjectsPerWalk = 100000;
constexpr CK_ULONG kMaxIdLen = 4096;
constexpr CK_ULONG kMaxCertLen = 1024 * 1024;

constexpr CK_FLAGS kSessionFlags = CKF_SERIAL_SESSION | CKF_RW_SESSION;  // 6

struct Driver {
    int id = 0;
    std::string path;          // as given to the load, for the same-path check
    void *module = nullptr;    // tcore_loadLibrary handle
    void *fn[F_COUNT] = {};    // resolved functions, null when not exported

    template <typename F>
    F call(Func f) const {
        return reinterpret_cast<F>(fn[f]);
    }
};

// Process-wide driver table; used from one thread only.
std::vector<Driver> &drivers() {
    static std::vector<Driver> table;
    return table;
}
int g_nextId = TUTIL_P11_FIRST_ID;

const Driver *findDriver(int id) {
    for (const Driver &d : drivers())
        if (d.id == id) return &d;
    return nullptr;
}

const Driver *findDriverByPath(const char *path) {
    for (const Driver &d : drivers())
        if (d.path == path) return &d;
    return nullptr;
}

unsigned hex(CK_RV rv) { return static_cast<unsigned>(rv); }

void releaseItem(void *item) { tutil_pkcs11_release(static_cast<tutil_pkcs11_key *>(item)); }

void freeKey(tutil_pkcs11_key *key) {
    OPENSSL_cleanse(key->pin, sizeof key->pin);
    free(key->ckaId);
    free(key->cert);
    free(key);
}

// Resolves the 31 functions. Returns 0, or -160172 for a missing required one.
int resolveFunctions(Driver &d) {
    for (int i = 0; i < F_COUNT; ++i) {
        d.fn[i] = tcore_getProcAddress(d.module, kFuncNames[i]);
        if (!d.fn[i] && i < F_REQUIRED) {
            TCORE_LOG("get func (No.%d) addr failed ", i + 1);
            TCORE_LOG("[PKCS11] %s does not export %s", d.path.c_str(), kFuncNames[i]);
            return TUTIL_P11_ERR_FUNC_MISSING;
        }
    }
    return 0;
}

// Reads CKA_ID and CKA_VALUE of one certificate object into a new key record
// (two passes: lengths, then values). Null when the object is skipped.
tutil_pkcs11_key *readCertificate(const Driver &d, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE obj) {
    auto getAttribute = d.call<CK_C_GetAttributeValue>(F_GET_ATTRIBUTE);
    CK_ATTRIBUTE attrs[2] = {{CKA_ID, nullptr, 0}, {CKA_VALUE, nullptr, 0}};
    CK_RV rv = getAttribute(s, obj, attrs, 2);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_getAttributeValue certificate failed %8X", hex(rv));
        return nullptr;
    }
    CK_ULONG idLen = attrs[0].ulValueLen, certLen = attrs[1].ulValueLen;
    if (idLen > kMaxIdLen || certLen > kMaxCertLen || certLen == 0) {
        TCORE_LOG("[PKCS11] certificate object skipped: CKA_ID length %lu, CKA_VALUE length %lu",
                  idLen, certLen);
        return nullptr;
    }

    auto *key = static_cast<tutil_pkcs11_key *>(tcore_zalloc(sizeof(tutil_pkcs11_key)));
    key->ckaId = static_cast<unsigned char *>(tcore_zalloc(idLen + 1));
    key->cert = static_cast<unsigned char *>(tcore_zalloc(certLen + 1));
    attrs[0].pValue = key->ckaId;
    attrs[1].pValue = key->cert;
    rv = getAttribute(s, obj, attrs, 2);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_getAttributeValue certificate again failed %8X", hex(rv));
        freeKey(key);
        return nullptr;
    }
    // The second answer may not claim more than the room it was given.
    if (attrs[0].ulValueLen > idLen || attrs[1].ulValueLen > certLen || attrs[1].ulValueLen == 0) {
        TCORE_LOG("[PKCS11] certificate object skipped: CKA_ID length %lu, CKA_VALUE length %lu",
                  attrs[0].ulValueLen, attrs[1].ulValueLen);
        freeKey(key);
        return nullptr;
    }
    key->ckaIdLen = static_cast<int>(attrs[0].ulValueLen);
    key->certLen = static_cast<int>(attrs[1].ulValueLen);
    return key;
}

// A certificate is listed when its key is of the wanted kind (0: any) and it
// is meant for signatures: digitalSignature without dataEncipherment.
bool keepCertificate(const tutil_pkcs11_key *key, int wantedKid) {
    const char *der = reinterpret_cast<const char *>(key->cert);
    if (wantedKid != 0 && tasn1_cert_getPubKeyKid(der, key->certLen) != wantedKid) return false;
    return tasn1_cert_getKeyUsageKind(der, key->certLen) == 1;
}

// Walks the certificates of one open session and appends the kept ones.
// Returns the number appended.
int collectSlot(const Driver &d, CK_SESSION_HANDLE s, CK_SLOT_ID slotId, int slotIndex, int wantedKid,
                tcore_list **list) {
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_BBOOL onToken = CK_TRUE;
    CK_ATTRIBUTE tmpl[2] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_TOKEN, &onToken, sizeof onToken}};
    CK_RV rv = d.call<CK_C_FindObjectsInit>(F_FIND_INIT)(s, tmpl, 2);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_findObjectsInit certificate failed %8X", hex(rv));
        return 0;
    }
    int appended = 0;
    for (int walked = 0; walked < kMaxObjectsPerWalk; ++walked) {
        CK_OBJECT_HANDLE obj = 0;
        CK_ULONG found = 0;
        if (d.call<CK_C_FindObjects>(F_FIND)(s, &obj, 1, &found) != CKR_OK || found == 0) break;
        tutil_pkcs11_key *key = readCertificate(d, s, obj);
        if (!key) continue;
        if (!keepCertificate(key, wantedKid)) {
            freeKey(key);
            continue;
        }
        key->driverId = d.id;
        key->slotId = slotId;
        key->slotIndex = slotIndex;
        if (!*list) *list = tcore_list_new(releaseItem);
        tcore_list_append(*list, key);
        ++appended;
    }
    rv = d.call<CK_C_FindObjectsFinal>(F_FIND_FINAL)(s);
    if (rv != CKR_OK) TCORE_LOG("[PKCS11] c_findObjectsFinal failed %8X", hex(rv));
    return appended;
}

// Finds the private key with the record's CKA_ID whose CKA_SIGN is true.
// Returns 0 and the handle, -160183 or -160175.
int findSigningKey(const Driver &d, CK_SESSION_HANDLE s, const tutil_pkcs11_key *key, CK_OBJECT_HANDLE *out) {
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_BBOOL onToken = CK_TRUE;
    CK_ULONG idLen = key->ckaId && key->ckaIdLen > 0 ? static_cast<CK_ULONG>(key->ckaIdLen) : 0;
    CK_ATTRIBUTE tmpl[3] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_TOKEN, &onToken, sizeof onToken},
                            {CKA_ID, idLen ? key->ckaId : nullptr, idLen}};
    CK_RV rv = d.call<CK_C_FindObjectsInit>(F_FIND_INIT)(s, tmpl, 3);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_findObjectsInit private key failed %8X", hex(rv));
        return TUTIL_P11_ERR_FIND_KEY;
    }
    bool found = false;
    for (int walked = 0; walked < kMaxObjectsPerWalk && !found; ++walked) {
        CK_OBJECT_HANDLE obj = 0;
        CK_ULONG count = 0;
        if (d.call<CK_C_FindObjects>(F_FIND)(s, &obj, 1, &count) != CKR_OK || count == 0) break;
        // A key whose CKA_SIGN cannot be read is tried: the token itself
        // refuses C_SignInit if the key may not sign.
        CK_BBOOL canSign = 1;
        CK_ATTRIBUTE attr = {CKA_SIGN, &canSign, sizeof canSign};
        rv = d.call<CK_C_GetAttributeValue>(F_GET_ATTRIBUTE)(s, obj, &attr, 1);
        if (rv != CKR_OK) TCORE_LOG("[PKCS11] c_getAttributeValue data failed %8X", hex(rv));
        if (canSign != 0) {
            *out = obj;
            found = true;
        }
    }
    rv = d.call<CK_C_FindObjectsFinal>(F_FIND_FINAL)(s);
    if (rv != CKR_OK) TCORE_LOG("[PKCS11] c_findObjectsFinal private key failed %8X", hex(rv));
    return found ? 0 : TUTIL_P11_ERR_NO_KEY;
}

// The token hashes the data itself: the mechanism follows the digest id, so
// the DigestInfo inside the signature names the digest the caller asked for.
CK_MECHANISM_TYPE dataMechanism(int digestKid) {
    switch (digestKid) {
    case TOPL_KID_MD5: return CKM_MD5_RSA_PKCS;
    case TOPL_KID_SHA1: return CKM_SHA1_RSA_PKCS;
    case TOPL_KID_SHA256: return CKM_SHA256_RSA_PKCS;
    case TOPL_KID_SHA384: return CKM_SHA384_RSA_PKCS;
    case TOPL_KID_SHA512: return CKM_SHA512_RSA_PKCS;
    default: return CKM_SHA1_RSA_PKCS;
    }
}

// Everything of a signature that happens inside the open session.
int signInSession(const Driver &d, CK_SESSION_HANDLE s, tutil_pkcs11_key *key, const unsigned char *data,
                  int dataLen, int isDigest, int digestKid, unsigned char *sig) {
    CK_ULONG pinLen = strnlen(key->pin, sizeof key->pin);
    CK_RV rv = d.call<CK_C_Login>(F_LOGIN)(s, CKU_USER, reinterpret_cast<CK_UTF8CHAR *>(key->pin), pinLen);
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        TCORE_LOG("[PKCS11] c_login failed %8X", hex(rv));
        return TUTIL_P11_ERR_LOGIN;
    }
    CK_OBJECT_HANDLE privateKey = 0;
    int rc = findSigningKey(d, s, key, &privateKey);
    if (rc < 0) return rc;

    int kid = key->cert && key->certLen > 0
                  ? tasn1_cert_getPubKeyKid(reinterpret_cast<const char *>(key->cert), key->certLen)
                  : -1;
    if (kid == TOPL_KID_SM2) {
        TCORE_LOG("[PKCS11] sm2 cert not supported");
        return TUTIL_P11_ERR_SM2;
    }
    if (kid != TOPL_KID_RSA) return TUTIL_P11_ERR_KEY_KIND;

    CK_MECHANISM mechanism = {isDigest ? CKM_RSA_PKCS : dataMechanism(digestKid), nullptr, 0};
    rv = d.call<CK_C_SignInit>(F_SIGN_INIT)(s, &mechanism, privateKey);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_signInit failed %8X", hex(rv));
        return TUTIL_P11_ERR_SIGN_INIT;
    }
    CK_ULONG sigLen = TUTIL_P11_SIG_MAX;
    rv = d.call<CK_C_Sign>(F_SIGN)(s, const_cast<CK_BYTE *>(data), static_cast<CK_ULONG>(dataLen), sig, &sigLen);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_sign failed %8X", hex(rv));
        return TUTIL_P11_ERR_SIGN;
    }
    if (sigLen > TUTIL_P11_SIG_MAX) {
        TCORE_LOG("[PKCS11] c_sign answered %lu octets for a room of %d", sigLen, TUTIL_P11_SIG_MAX);
        return TUTIL_P11_ERR_SIGN;
    }
    return static_cast<int>(sigLen);
}

}  // namespace

int tutil_pkcs11_load(const char *path) {
    TCORE_CHECK_STR(path);
    FILE *fp = fopen(path, "r");
    if (!fp) {
        TCORE_LOG("[PKCS11] driver %s cannot be opened", path);
        return TCORE_ERR_LIB_PATH;
    }
    fclose(fp);
    if (const Driver *known = findDriverByPath(path)) return known->id;

    Driver d;
    d.path = path;
    d.module = tcore_loadLibrary(path);
    if (!d.module) {
        TCORE_LOG_SYSERR("LoadLibrary");
        TCORE_LOG("[PKCS11] %s", tcore_loadLibrary_error());
        return TUTIL_P11_ERR_LOAD;
    }
    int rc = resolveFunctions(d);
    if (rc < 0) {
        tcore_freeLibrary(d.module);
        return rc;
    }
    CK_RV rv = d.call<CK_C_Initialize>(F_INITIALIZE)(nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        TCORE_LOG("[PKCS11] c_initialize failed %8X", hex(rv));
        tcore_freeLibrary(d.module);
        return TUTIL_P11_ERR_INITIALIZE;
    }
    d.id = g_nextId++;
    drivers().push_back(std::move(d));
    return drivers().back().id;
}

int tutil_pkcs11_findAllCerts(int driverId, int wantedKid, tcore_list **list) {
    TCORE_CHECK_NULL(list);
    const Driver *d = findDriver(driverId);
    if (!d) return TUTIL_P11_ERR_NO_DRIVER;

    auto getSlotList = d->call<CK_C_GetSlotList>(F_GET_SLOT_LIST);
    CK_ULONG count = 0;
    CK_RV rv = getSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_getSlotList failed %8X", hex(rv));
        return TUTIL_P11_ERR_SLOT_LIST;
    }
    if (count > kMaxSlots) {
        TCORE_LOG("[PKCS11] c_getSlotList answered %lu slots", count);
        return TUTIL_P11_ERR_SLOT_LIST;
    }
    std::vector<CK_SLOT_ID> slots(count + 1);
    CK_ULONG room = count;
    rv = getSlotList(CK_TRUE, slots.data(), &count);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_getSlotList again failed %8X", hex(rv));
        return TUTIL_P11_ERR_SLOT_LIST;
    }
    if (count > room) count = room;

    int total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_SESSION_HANDLE s = 0;
        rv = d->call<CK_C_OpenSession>(F_OPEN_SESSION)(slots[i], kSessionFlags, nullptr, nullptr, &s);
        if (rv != CKR_OK) {
            TCORE_LOG("[PKCS11] c_openSession failed %8X", hex(rv));
            continue;
        }
        total += collectSlot(*d, s, slots[i], static_cast<int>(i), wantedKid, list);
        d->call<CK_C_CloseSession>(F_CLOSE_SESSION)(s);
    }
    return total;
}

int tutil_pkcs11_sign(tutil_pkcs11_key *key, const unsigned char *data, int dataLen, int isDigest,
                      int digestKid, unsigned char *sig) {
    TCORE_CHECK_NULL(key);
    TCORE_CHECK_NULL(data);
    TCORE_CHECK_NULL(sig);
    TCORE_CHECK_POSITIVE(dataLen);
    const Driver *d = findDriver(key->driverId);
    if (!d) return TUTIL_P11_ERR_NO_DRIVER;
    if (!d->fn[F_SIGN_INIT] || !d->fn[F_SIGN]) {
        TCORE_LOG("[PKCS11] sign functions not supported");
        return TUTIL_P11_ERR_NO_SIGN;
    }
    CK_SESSION_HANDLE s = 0;
    CK_RV rv = d->call<CK_C_OpenSession>(F_OPEN_SESSION)(key->slotId, kSessionFlags, nullptr, nullptr, &s);
    if (rv != CKR_OK) {
        TCORE_LOG("[PKCS11] c_openSession failed %8X", hex(rv));
        return TUTIL_P11_ERR_OPEN_SESSION;
    }
    int rc = signInSession(*d, s, key, data, dataLen, isDigest, digestKid, sig);
    d->call<CK_C_CloseSession>(F_CLOSE_SESSION)(s);
    return rc;
}

void tutil_pkcs11_release(tutil_pkcs11_key *key) {
    if (!key) return;
    if (key->refCount > 0) {
        --key->refCount;
        return;
    }
    freeKey(key);
}

void tutil_pkcs11_unloadAll(void) {
    for (Driver &d : drivers()) {
        d.call<CK_C_Finalize>(F_FINALIZE)(nullptr);
        tcore_freeLibrary(d.module);
    }
    drivers().clear();
    drivers().shrink_to_fit();
}
