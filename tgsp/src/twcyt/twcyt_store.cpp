// Finding signing certificates in system stores and key containers.
#include "plat_crypt.h"
#include "plat_lasterror.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "twcyt/twcyt_cert.h"
#include "twcyt/twcyt_sign.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace cert = plat::cert;
namespace pc = plat::crypt;

enum { STORE_NAMES_MAX = 255, CONTAINER_NAME_BUF = 2048, KEY_CERT_BUF = 8192 };

// The store list: ":"-separated names, "MY" until the first reset.
static char gStoreNames[STORE_NAMES_MAX + 1] = "MY";

static const uint32_t kNoMoreItemsHresult = 0x80070103;  // ERROR_NO_MORE_ITEMS as HRESULT

int twcyt_certstore_resetNames(void) {
    snprintf(gStoreNames, sizeof gStoreNames, "%s", "MY:CORVINA");
    return 0;
}

const char *twcyt_certstore_names(void) { return gStoreNames; }

static void appendCert(tcore_list **list, twcyt_certctx *c) {
    if (!*list) *list = tcore_list_new(twcyt_cert_freeItem);
    tcore_list_append(*list, c);
}

int twcyt_certstore_findBySysStore(const char *strStoreName, int keyAlg, tcore_list **retCerts) {
    TCORE_CHECK_NULL(retCerts);
    TCORE_CHECK_STR(strStoreName);
    // Searching never creates a store: a missing one cannot be opened.
    cert::Store *store = cert::openSystemStore(cert::CurrentUser, strStoreName, cert::OPEN_EXISTING);
    if (!store) {
        TCORE_LOG_SYSERR("CertOpenSystemStore");
        TCORE_LOG("CertOpenSystemStore %s failed", strStoreName);
        return 0;
    }
    int found = 0;
    for (twcyt_certctx *c : cert::certificates(store)) {
        if ((keyAlg <= 0 || keyAlg == twcyt_cert_keyAlg(c)) && twcyt_cert_canSign(c) == 1) {
            appendCert(retCerts, c);
            found++;
        } else {
            cert::release(c);
        }
    }
    cert::closeStore(store);
    return found;
}

int twcyt_certstore_findAll(int keyAlg, tcore_list **retCerts) {
    TCORE_CHECK_NULL(retCerts);
    std::string names = gStoreNames;
    if (names.empty()) return twcyt_certstore_findBySysStore("MY", keyAlg, retCerts);
    int total = 0;
    size_t start = 0;
    while (true) {
        size_t colon = names.find(':', start);
        std::string name = names.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        int n = twcyt_certstore_findBySysStore(name.c_str(), keyAlg, retCerts);
        if (n > 0) total += n;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return total;
}

int twcyt_keycontainer_fuzzyFind(const char *patterns, int keyAlg, tcore_list **retCerts) {
    TCORE_CHECK_STR(patterns);
    TCORE_CHECK_NULL(retCerts);
    tcore_strlist *pats = nullptr, *csps = nullptr;
    int total = 0;
    if (tcore_strlist_split(patterns, ":", &pats) > 0 && twcyt_csp_enumProviders(&csps) >= 0) {
        for (int i = 0; i < tcore_strlist_count(csps); i++) {
            const char *csp = tcore_strlist_get(csps, i);
            if (strstr(csp, "Microsoft ")) continue;
            for (int j = 0; j < tcore_strlist_count(pats); j++) {
                if (!strstr(csp, tcore_strlist_get(pats, j))) continue;
                int n = twcyt_keycontainer_findCerts(csp, keyAlg, 1, retCerts);
                if (n > 0) total += n;
                break;  // each provider at most once
            }
        }
    }
    tcore_strlist_free(pats);
    tcore_strlist_free(csps);
    return total;
}

// The certificate of one container (signature key first), or null (logged).
static twcyt_certctx *containerCert(const char *cspName, const std::string &container) {
    pc::Provider *prov = nullptr;
    if (!pc::acquireContext(&prov, container.c_str(), cspName, pc::PROV_RSA_FULL, 0)) {
        TCORE_LOG_SYSERR("CryptAcquireContext");
        return nullptr;
    }
    pc::Key *key = nullptr;
    if (!pc::getUserKey(prov, pc::AT_SIGNATURE, &key) && !pc::getUserKey(prov, pc::AT_KEYEXCHANGE, &key)) {
        TCORE_LOG_SYSERR("CryptGetUserKey");
        pc::releaseContext(prov);
        return nullptr;
    }
    std::vector<uint8_t> der;
    bool ok = pc::keyCertificate(key, &der);
    if (ok && der.size() > KEY_CERT_BUF) {
        plat::setLastError(plat::PLAT_ERROR_MORE_DATA);
        ok = false;
    }
    pc::destroyKey(key);
    pc::releaseContext(prov);
    if (!ok) {
        TCORE_LOG_SYSERR("CryptGetKeyParam");
        return nullptr;
    }
    twcyt_certctx *c = cert::create(der.data(), der.size());
    if (!c) TCORE_LOG("CertCreateCertificateContext failed");
    return c;
}

static bool usageFits(twcyt_certctx *c, int usage) {
    if (usage == 0) return true;
    if (usage == 1) return twcyt_cert_canSign(c) == 1;
    if (usage == 2) return twcyt_cert_canEncrypt(c) == 1;
    return false;
}

int twcyt_keycontainer_findCerts(const char *cspName, int keyAlg, int usage, tcore_list **retCerts) {
    TCORE_CHECK_STR(cspName);
    TCORE_CHECK_NULL(retCerts);
    pc::Provider *csp = nullptr;
    if (!pc::acquireContext(&csp, nullptr, cspName, pc::PROV_RSA_FULL, pc::VERIFY_CONTEXT)) {
        TCORE_LOG_SYSERR("CryptAcquireContext");
        return TWCYT_ERR_CSP_OPEN;
    }
    int found = 0;
    std::string container;
    for (bool first = true;; first = false) {
        if (!pc::enumContainers(csp, first, &container)) break;
        if (container.size() >= CONTAINER_NAME_BUF) {
            plat::setLastError(plat::PLAT_ERROR_MORE_DATA);
            break;
        }
        twcyt_certctx *c = containerCert(cspName, container);
        if (!c) continue;
        if (twcyt_certlist_find(*retCerts, c) || (keyAlg > 0 && keyAlg != twcyt_cert_keyAlg(c)) ||
            !usageFits(c, usage)) {
            cert::release(c);
            continue;
        }
        int rc = twcyt_cert_addUserProp(c, reinterpret_cast<const unsigned char *>(cspName),
                                        static_cast<int>(strlen(cspName)) + 1);
        if (rc >= 0)
            rc = twcyt_cert_addUserProp(c, reinterpret_cast<const unsigned char *>(container.c_str()),
                                        static_cast<int>(container.size()) + 1);
        if (rc < 0) {
            cert::release(c);
            continue;
        }
        appendCert(retCerts, c);
        found++;
    }
    uint32_t err = plat::lastError();
    pc::releaseContext(csp);
    if (err != plat::PLAT_ERROR_NO_MORE_ITEMS && err != kNoMoreItemsHresult) {
        plat::setLastError(err);
        TCORE_LOG_SYSERR("CryptGetProvParam");
        return TWCYT_ERR_CONTAINER_ENUM;
    }
    return found;
}
