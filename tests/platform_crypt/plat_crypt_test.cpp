// The software certificate store and providers.
#include "plat_certstore.h"
#include "plat_crypt.h"
#include "plat_lasterror.h"
#include "plat_paths.h"
#include "plat_registry.h"
#include "sealdesk_certgen.h"
#include "sealdesk_test.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sealdesk_test;
namespace cert = plat::cert;
namespace pc = plat::crypt;

namespace {

class PlatCrypt : public HomeTest {};

struct CtxRef {
    cert::Context *p = nullptr;
    explicit CtxRef(cert::Context *c) : p(c) {}
    ~CtxRef() { cert::release(p); }
    CtxRef(const CtxRef &) = delete;
    CtxRef &operator=(const CtxRef &) = delete;
};

struct ProvRef {
    pc::Provider *p = nullptr;
    ~ProvRef() { pc::releaseContext(p); }
};

std::string subjectText(const std::vector<uint8_t> &der) {
    CtxRef c(cert::create(der.data(), der.size()));
    EXPECT_NE(c.p, nullptr);
    std::vector<uint8_t> name = cert::subjectName(c.p);
    std::string s;
    EXPECT_TRUE(cert::nameToString(name.data(), name.size(), &s));
    return s;
}

// Puts `key` with `der` into container `container` of `provider`.
void putKey(const char *provider, uint32_t type, const char *container, EVP_PKEY *key,
            const std::vector<uint8_t> &der, uint32_t keySpec = pc::AT_SIGNATURE) {
    ProvRef prov;
    ASSERT_TRUE(pc::acquireContext(&prov.p, container, provider, type, pc::NEW_KEYSET))
        << std::hex << plat::lastError();
    ASSERT_TRUE(pc::storeKeyPair(prov.p, keySpec, key, der.data(), der.size()));
}

void registerProvider(const std::string &name, uint32_t type) {
    ASSERT_EQ(plat::reg::setValue(plat::reg::LocalMachine,
                                  "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\" + name,
                                  plat::reg::Value::dword("Type", type)),
              0);
}

// Hash of `data` with `alg` on `prov`, signed with the signature key.
std::vector<uint8_t> signWith(pc::Provider *prov, uint32_t alg, const std::string &data,
                              uint32_t bufSize = 1024) {
    pc::Hash *h = nullptr;
    EXPECT_TRUE(pc::createHash(prov, alg, &h)) << std::hex << plat::lastError();
    if (!h) return {};
    EXPECT_TRUE(pc::hashData(h, reinterpret_cast<const uint8_t *>(data.data()), data.size()));
    std::vector<uint8_t> sig(bufSize);
    uint32_t len = bufSize;
    bool ok = pc::signHash(h, pc::AT_SIGNATURE, sig.data(), &len);
    pc::destroyHash(h);
    if (!ok) return {};
    sig.resize(len);
    return sig;
}

}  // namespace

TEST_F(PlatCrypt, ContextsParseCountAndCompare) {
    Pkey k = rsaKey();
    CertSpec certSpec;
    certSpec.serial = {0x80, 0x01};  // DER content 00 80 01: the pad byte is kept
    std::vector<uint8_t> der = makeCert(k.get(), certSpec);

    EXPECT_EQ(cert::create(der.data(), der.size() - 1), nullptr);
    EXPECT_EQ(plat::lastError(), plat::PLAT_E_ASN1_BAD);
    std::vector<uint8_t> trailing = der;
    trailing.push_back(0);
    EXPECT_EQ(cert::create(trailing.data(), trailing.size()), nullptr);

    cert::Context *c = cert::create(der.data(), der.size());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(cert::duplicate(c), c);
    cert::release(c);  // still alive: one reference left
    EXPECT_EQ(cert::der(c), der);
    EXPECT_EQ(cert::serialLittleEndian(c), (std::vector<uint8_t>{0x01, 0x80, 0x00}));
    EXPECT_EQ(cert::publicKeyAlgorithm(c), "1.2.840.113549.1.1.1");

    uint8_t md[SHA_DIGEST_LENGTH];
    SHA1(der.data(), der.size(), md);
    char hex[41];
    for (int i = 0; i < 20; i++) snprintf(hex + 2 * i, 3, "%02X", md[i]);
    EXPECT_EQ(cert::thumbprint(c), hex);

    // Same issuer and serial but another key: equal for the comparison.
    Pkey k2 = rsaKey();
    std::vector<uint8_t> der2 = makeCert(k2.get(), certSpec);
    CtxRef c2(cert::create(der2.data(), der2.size()));
    EXPECT_TRUE(cert::sameIssuerAndSerial(c, c2.p));
    certSpec.serial = {0x02};
    std::vector<uint8_t> der3 = makeCert(k.get(), certSpec);
    CtxRef c3(cert::create(der3.data(), der3.size()));
    EXPECT_FALSE(cert::sameIssuerAndSerial(c, c3.p));
    cert::release(c);
}

TEST_F(PlatCrypt, NamesInX500Form) {
    Pkey k = rsaKey();
    struct Case {
        std::vector<CertSpec::Entry> subject;
        const char *text;
    } cases[] = {
        {{{"C", "CN"}, {"O", "Org"}, {"CN", "Alice"}}, "C=CN, O=Org, CN=Alice"},
        {{{"CN", "a,b"}}, "CN=\"a,b\""},
        {{{"CN", "say \"hi\""}}, "CN=\"say \"\"hi\"\"\""},
        {{{"CN", " pad"}}, "CN=\" pad\""},
        {{{"CN", "x=y;z"}}, "CN=\"x=y;z\""},
        {{{"OU", "one"}, {"CN", "two", true}}, "CN=two + OU=one"},
        {{{"emailAddress", "a@b.c"}, {"ST", "Zhejiang"}, {"street", "Road 1"}},
         "E=a@b.c, S=Zhejiang, STREET=Road 1"},
        {{{"title", "Dr"}, {"GN", "Li"}, {"SN", "Wang"}, {"initials", "LW"}},
         "T=Dr, G=Li, SN=Wang, I=LW"},
        {{{"DC", "com"}, {"serialNumber", "42"}, {"L", "Hangzhou"}},
         "DC=com, SERIALNUMBER=42, L=Hangzhou"},
        {{{"1.2.3.4", "custom"}}, "OID.1.2.3.4=custom"},
        {{{"CN", "\xe5\xbc\xa0\xe4\xb8\x89"}}, "CN=\xe5\xbc\xa0\xe4\xb8\x89"},
    };
    for (const auto &c : cases) {
        CertSpec certSpec;
        certSpec.subject = c.subject;
        EXPECT_EQ(subjectText(makeCert(k.get(), certSpec)), c.text);
    }
    CertSpec empty;
    empty.subject = {};
    EXPECT_EQ(subjectText(makeCert(k.get(), empty)), "");
    const uint8_t junk[] = {0x30, 0x05, 0x31};
    std::string s;
    EXPECT_FALSE(cert::nameToString(junk, sizeof junk, &s));
    // Values that are not strings: "#" and the hex of their encoding.
    const uint8_t bits[] = {0x30, 0x0D, 0x31, 0x0B, 0x30, 0x09, 0x06, 0x03,
                            0x55, 0x04, 0x03, 0x03, 0x02, 0x00, 0x05};
    ASSERT_TRUE(cert::nameToString(bits, sizeof bits, &s));
    EXPECT_EQ(s, "CN=#03020005");
    const uint8_t seq[] = {0x30, 0x0E, 0x31, 0x0C, 0x30, 0x0A, 0x06, 0x03,
                           0x55, 0x04, 0x03, 0x30, 0x03, 0x02, 0x01, 0x05};
    ASSERT_TRUE(cert::nameToString(seq, sizeof seq, &s));
    EXPECT_EQ(s, "CN=#3003020105");
}

TEST_F(PlatCrypt, KeyUsageAndTimeValidity) {
    Pkey k = rsaKey();
    CertSpec certSpec;
    certSpec.keyUsage = "nonRepudiation,dataEncipherment";
    std::vector<uint8_t> der = makeCert(k.get(), certSpec);
    CtxRef c(cert::create(der.data(), der.size()));
    uint8_t ku[2] = {0xFF, 0xFF};
    EXPECT_TRUE(cert::intendedKeyUsage(c.p, ku, sizeof ku));
    EXPECT_EQ(ku[0], 0x50);

    certSpec.keyUsage = nullptr;
    der = makeCert(k.get(), certSpec);
    CtxRef none(cert::create(der.data(), der.size()));
    plat::setLastError(99);
    EXPECT_FALSE(cert::intendedKeyUsage(none.p, ku, sizeof ku));
    EXPECT_EQ(plat::lastError(), 0u);

    time_t now = time(nullptr);
    EXPECT_EQ(cert::checkTime(c.p, now), 0);
    EXPECT_EQ(cert::checkTime(c.p, now - 7200), -1);
    EXPECT_EQ(cert::checkTime(c.p, now + 400L * 24 * 3600), 1);
    struct tm nb {}, na {};
    EXPECT_TRUE(cert::validity(c.p, &nb, &na));
    EXPECT_LT(timegm(&nb), now);
    EXPECT_GT(timegm(&na), now);

    // Both ends of the period are inside it, to the second.
    certSpec.notBefore = "20240507130409Z";
    certSpec.notAfter = "20340101000000Z";
    der = makeCert(k.get(), certSpec);
    CtxRef fixed(cert::create(der.data(), der.size()));
    ASSERT_TRUE(cert::validity(fixed.p, &nb, &na));
    const time_t from = timegm(&nb), to = timegm(&na);
    const struct {
        time_t at;
        int expected;
    } edges[] = {{from - 1, -1}, {from, 0}, {to, 0}, {to + 1, 1}};
    for (const auto &e : edges) EXPECT_EQ(cert::checkTime(fixed.p, e.at), e.expected) << e.at - from;
}

TEST_F(PlatCrypt, StoresLiveInTheRegistry) {
    EXPECT_EQ(cert::openSystemStore(cert::CurrentUser, "CORVINA", cert::OPEN_EXISTING), nullptr);
    EXPECT_EQ(plat::lastError(), plat::PLAT_E_NOT_FOUND);
    EXPECT_EQ(cert::openSystemStore(cert::CurrentUser, "a\\b", 0), nullptr);

    Pkey k = rsaKey();
    CertSpec certSpec;
    std::vector<std::vector<uint8_t>> ders;
    for (uint8_t sn : {1, 2, 3}) {
        certSpec.serial = {sn};
        ders.push_back(makeCert(k.get(), certSpec));
    }
    cert::Store *store = cert::openSystemStore(cert::CurrentUser, "MY", 0);
    ASSERT_NE(store, nullptr);
    cert::Context *added = nullptr;
    for (const auto &d : ders) {
        cert::release(added);
        ASSERT_TRUE(cert::addEncoded(store, d.data(), d.size(), cert::ADD_USE_EXISTING, &added));
    }
    // Already present: use-existing succeeds, add-new refuses.
    EXPECT_TRUE(cert::addEncoded(store, ders[0].data(), ders[0].size(), cert::ADD_USE_EXISTING, nullptr));
    EXPECT_FALSE(cert::addEncoded(store, ders[0].data(), ders[0].size(), cert::ADD_NEW, nullptr));
    EXPECT_EQ(plat::lastError(), plat::PLAT_E_EXISTS);

    // A property set on a store context reaches the store.
    const uint8_t name[] = "friendly";
    ASSERT_TRUE(cert::setProperty(added, cert::PROP_FRIENDLY_NAME, name, sizeof name));
    std::string thumb = cert::thumbprint(added);
    cert::release(added);
    cert::closeStore(store);

    std::string key = "SOFTWARE\\Microsoft\\SystemCertificates\\MY\\Certificates\\" + thumb;
    plat::reg::Value blob;
    ASSERT_EQ(plat::reg::getValue(plat::reg::CurrentUser, key, "Blob", &blob), 0);
    EXPECT_EQ(blob.data, ders[2]);

    store = cert::openSystemStore(cert::CurrentUser, "my", cert::OPEN_EXISTING | cert::OPEN_READONLY);
    ASSERT_NE(store, nullptr);
    std::vector<cert::Context *> all = cert::certificates(store);
    ASSERT_EQ(all.size(), 3u);
    std::vector<std::string> thumbs;
    for (auto *c : all) thumbs.push_back(cert::thumbprint(c));
    EXPECT_TRUE(std::is_sorted(thumbs.begin(), thumbs.end()));
    for (auto *c : all) {
        std::vector<uint8_t> v;
        EXPECT_EQ(cert::getProperty(c, cert::PROP_FRIENDLY_NAME, &v), cert::thumbprint(c) == thumb);
        cert::release(c);
    }
    EXPECT_FALSE(cert::removeByThumbprint(store, thumb));
    EXPECT_EQ(plat::lastError(), plat::PLAT_ERROR_ACCESS_DENIED);
    cert::closeStore(store);

    store = cert::openSystemStore(cert::CurrentUser, "MY", 0);
    EXPECT_TRUE(cert::removeByThumbprint(store, thumb));
    EXPECT_FALSE(cert::removeByThumbprint(store, thumb));
    EXPECT_EQ(plat::lastError(), plat::PLAT_E_NOT_FOUND);
    all = cert::certificates(store);
    EXPECT_EQ(all.size(), 2u);
    for (auto *c : all) cert::release(c);
    cert::closeStore(store);
}

// Run by a user who may read but not write the machine folder: a new store
// cannot be made and nothing can be added to an existing one. "" when all
// of that holds, else what did not.
static std::string accessDeniedChecks() {
    std::string fails;
    cert::Store *created = cert::openSystemStore(cert::LocalMachine, "newstore", 0);
    if (created || plat::lastError() != plat::PLAT_ERROR_ACCESS_DENIED) fails += "create;";
    cert::closeStore(created);
    cert::Store *store = cert::openSystemStore(cert::LocalMachine, "root", 0);
    if (!store) return fails + "open;";
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get());
    if (cert::addEncoded(store, der.data(), der.size(), cert::ADD_USE_EXISTING, nullptr) ||
        plat::lastError() != plat::PLAT_ERROR_ACCESS_DENIED)
        fails += "add;";
    cert::closeStore(store);
    return fails;
}

TEST_F(PlatCrypt, MachineStoresWithoutRightsAreAccessDenied) {
    cert::Store *root = cert::openSystemStore(cert::LocalMachine, "root", 0);
    ASSERT_NE(root, nullptr);
    cert::closeStore(root);
    // Everyone may read and enter, nobody but the owner may write.
    std::string lockDown = "chmod -R u=rwX,go=rX '" + home() + "'";
    if (geteuid() != 0) lockDown += " && chmod -R a-w '" + plat::machineDir() + "'";
    ASSERT_EQ(system(lockDown.c_str()), 0);

    if (geteuid() != 0) {
        EXPECT_EQ(accessDeniedChecks(), "");
        ASSERT_EQ(system(("chmod -R u+w '" + plat::machineDir() + "'").c_str()), 0);
        return;
    }
    // As root, run the checks as the unprivileged user "nobody".
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        if (access(plat::machineDir().c_str(), R_OK | X_OK) != 0) _exit(4);  // home out of reach
        std::string fails = accessDeniedChecks();
        if (!fails.empty()) fprintf(stderr, "access checks failed: %s\n", fails.c_str());
        _exit(fails.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3 || WEXITSTATUS(status) == 4)
        GTEST_SKIP() << "cannot act as user nobody on the test folder";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PlatCrypt, ProvidersEnumerateInNameOrder) {
    registerProvider("Zeta SM2 CSP", 1);
    registerProvider("HS", 0);  // overwritten below by a key without "Type"
    ASSERT_EQ(plat::reg::deleteValue(plat::reg::LocalMachine,
                                     "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\HS", "Type"),
              0);
    ASSERT_EQ(plat::reg::setValue(plat::reg::LocalMachine,
                                  "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\HS",
                                  plat::reg::Value::text("SKFImagePath", "/x/libskf.so")),
              0);
    std::vector<std::string> names;
    std::vector<uint32_t> types;
    std::vector<uint32_t> errors;
    for (uint32_t i = 0;; i++) {
        std::string n;
        uint32_t t = 0;
        if (pc::enumProviders(i, &n, &t)) {
            names.push_back(n);
            types.push_back(t);
        } else if (plat::lastError() == plat::PLAT_ERROR_NO_MORE_ITEMS) {
            break;
        } else {
            errors.push_back(plat::lastError());
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{pc::BASE_PROVIDER, pc::ENHANCED_PROVIDER,
                                               pc::AES_PROVIDER, "Zeta SM2 CSP"}));
    EXPECT_EQ(types, (std::vector<uint32_t>{1, 1, 24, 1}));
    EXPECT_EQ(errors, (std::vector<uint32_t>{plat::PLAT_NTE_PROV_TYPE_ENTRY_BAD}));
}

TEST_F(PlatCrypt, ContainersOpenCreateAndEnumerate) {
    ProvRef p;
    // The default container does not exist yet; new-keyset makes it.
    EXPECT_FALSE(pc::acquireContext(&p.p, nullptr, nullptr, pc::PROV_RSA_FULL, 0));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_BAD_KEYSET);
    ASSERT_TRUE(pc::acquireContext(&p.p, nullptr, nullptr, pc::PROV_RSA_FULL, pc::NEW_KEYSET));
    EXPECT_EQ(pc::providerName(p.p), pc::BASE_PROVIDER);
    EXPECT_EQ(pc::containerName(p.p), pc::defaultContainerName());
    pc::Key *key = nullptr;
    EXPECT_FALSE(pc::getUserKey(p.p, pc::AT_SIGNATURE, &key));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_NO_KEY);

    ProvRef again;
    EXPECT_FALSE(pc::acquireContext(&again.p, nullptr, nullptr, pc::PROV_RSA_FULL, pc::NEW_KEYSET));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_EXISTS);
    EXPECT_FALSE(pc::acquireContext(&again.p, nullptr, pc::AES_PROVIDER, pc::PROV_RSA_FULL, 0));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_PROV_TYPE_NO_MATCH);
    EXPECT_FALSE(pc::acquireContext(&again.p, nullptr, "No Such CSP", 1, pc::VERIFY_CONTEXT));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_KEYSET_NOT_DEF);

    // The standard providers share their containers; other providers do not.
    registerProvider("Vendor CSP", 1);
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get());
    putKey(pc::AES_PROVIDER, 24, "b/slash", k.get(), der);
    putKey("Vendor CSP", 1, "only-vendor", k.get(), der, pc::AT_KEYEXCHANGE);

    ProvRef verify;
    ASSERT_TRUE(pc::acquireContext(&verify.p, nullptr, pc::ENHANCED_PROVIDER, 1, pc::VERIFY_CONTEXT));
    std::vector<std::string> names;
    std::string n;
    for (bool first = true; pc::enumContainers(verify.p, first, &n); first = false) names.push_back(n);
    EXPECT_EQ(plat::lastError(), plat::PLAT_ERROR_NO_MORE_ITEMS);
    std::vector<std::string> want = {"b/slash", pc::defaultContainerName()};
    std::sort(want.begin(), want.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(names, want);

    ProvRef vendor;
    ASSERT_TRUE(pc::acquireContext(&vendor.p, "only-vendor", "Vendor CSP", 1, 0));
    EXPECT_FALSE(pc::getUserKey(vendor.p, pc::AT_SIGNATURE, &key));
    ASSERT_TRUE(pc::getUserKey(vendor.p, pc::AT_KEYEXCHANGE, &key));
    std::vector<uint8_t> got;
    EXPECT_TRUE(pc::keyCertificate(key, &got));
    EXPECT_EQ(got, der);
    pc::destroyKey(key);

    // Key files are private to the user.
    struct stat st;
    std::string file = plat::userDir() + "/crypto/Vendor CSP/only-vendor/exchange.key";
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ProvRef gone;
    EXPECT_TRUE(pc::acquireContext(&gone.p, "only-vendor", "Vendor CSP", 1, pc::DELETE_KEYSET));
    EXPECT_EQ(gone.p, nullptr);
    EXPECT_FALSE(pc::acquireContext(&gone.p, "only-vendor", "Vendor CSP", 1, 0));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_BAD_KEYSET);
}

TEST_F(PlatCrypt, HashesMatchOpenSslPerProvider) {
    registerProvider("Vendor CSP", 1);
    const std::string data = "abc";
    struct Case {
        uint32_t alg;
        const EVP_MD *md;
        bool base, aes, vendor;
    } cases[] = {
        {pc::ALG_MD5, EVP_md5(), true, true, true},
        {pc::ALG_SHA1, EVP_sha1(), true, true, true},
        {pc::ALG_SHA256, EVP_sha256(), false, true, true},
        {pc::ALG_SHA384, EVP_sha384(), false, true, true},
        {pc::ALG_SHA512, EVP_sha512(), false, true, true},
        {pc::ALG_SM3, EVP_sm3(), false, false, true},
    };
    struct P {
        const char *name;
        uint32_t type;
    } provs[] = {{pc::BASE_PROVIDER, 1}, {pc::AES_PROVIDER, 24}, {"Vendor CSP", 1}};
    for (const auto &c : cases) {
        uint8_t want[EVP_MAX_MD_SIZE];
        unsigned int wantLen = 0;
        EVP_Digest(data.data(), data.size(), want, &wantLen, c.md, nullptr);
        for (int i = 0; i < 3; i++) {
            bool offered = i == 0 ? c.base : i == 1 ? c.aes : c.vendor;
            ProvRef p;
            ASSERT_TRUE(pc::acquireContext(&p.p, nullptr, provs[i].name, provs[i].type, pc::VERIFY_CONTEXT));
            pc::Hash *h = nullptr;
            ASSERT_EQ(pc::createHash(p.p, c.alg, &h), offered) << provs[i].name << " " << c.alg;
            if (!offered) {
                EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_BAD_ALGID);
                continue;
            }
            uint8_t size[4];
            uint32_t len = 4;
            ASSERT_TRUE(pc::getHashParam(h, pc::HP_HASHSIZE, size, &len));
            EXPECT_EQ(size[0], wantLen);
            ASSERT_TRUE(pc::hashData(h, reinterpret_cast<const uint8_t *>(data.data()), data.size()));
            uint8_t got[64];
            len = 4;
            EXPECT_FALSE(pc::getHashParam(h, pc::HP_HASHVAL, got, &len));
            EXPECT_EQ(plat::lastError(), plat::PLAT_ERROR_MORE_DATA);
            EXPECT_EQ(len, wantLen);
            ASSERT_TRUE(pc::getHashParam(h, pc::HP_HASHVAL, got, &len));
            EXPECT_EQ(std::vector<uint8_t>(got, got + len), std::vector<uint8_t>(want, want + wantLen));
            EXPECT_FALSE(pc::hashData(h, got, 1));
            EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_BAD_HASH_STATE);
            pc::destroyHash(h);
        }
    }
}

TEST_F(PlatCrypt, RsaSignaturesComeOutReversed) {
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get());
    putKey(pc::AES_PROVIDER, 24, "rsa", k.get(), der);
    ProvRef p;
    ASSERT_TRUE(pc::acquireContext(&p.p, "rsa", pc::AES_PROVIDER, 24, 0));
    const std::string data = "to be signed";
    struct {
        uint32_t alg;
        const EVP_MD *md;
    } cases[] = {{pc::ALG_MD5, EVP_md5()},
                 {pc::ALG_SHA1, EVP_sha1()},
                 {pc::ALG_SHA256, EVP_sha256()},
                 {pc::ALG_SHA384, EVP_sha384()},
                 {pc::ALG_SHA512, EVP_sha512()}};
    for (const auto &c : cases) {
        std::vector<uint8_t> sig = signWith(p.p, c.alg, data);
        ASSERT_EQ(sig.size(), 256u);
        std::reverse(sig.begin(), sig.end());
        EVP_MD_CTX *v = EVP_MD_CTX_new();
        ASSERT_EQ(EVP_DigestVerifyInit(v, nullptr, c.md, nullptr, k.get()), 1);
        EXPECT_EQ(EVP_DigestVerify(v, sig.data(), sig.size(),
                                   reinterpret_cast<const uint8_t *>(data.data()), data.size()),
                  1)
            << c.alg;
        EVP_MD_CTX_free(v);
    }

    // A 4096-bit key needs 512 bytes: a 256-byte buffer is refused.
    Pkey big = rsaKey(4096);
    std::vector<uint8_t> bigDer = makeCert(big.get());
    putKey(pc::AES_PROVIDER, 24, "rsa4096", big.get(), bigDer);
    ProvRef bp;
    ASSERT_TRUE(pc::acquireContext(&bp.p, "rsa4096", pc::AES_PROVIDER, 24, 0));
    EXPECT_TRUE(signWith(bp.p, pc::ALG_SHA1, data, 256).empty());
    EXPECT_EQ(plat::lastError(), plat::PLAT_ERROR_MORE_DATA);
    EXPECT_EQ(signWith(bp.p, pc::ALG_SHA1, data, 512).size(), 512u);
}

TEST_F(PlatCrypt, Sm2SignaturesCoverZAndVerify) {
    registerProvider("Vendor SM2 CSP", 1);
    Pkey k = ecKey("SM2");
    ASSERT_TRUE(k);
    std::vector<uint8_t> der = makeCert(k.get());
    putKey("Vendor SM2 CSP", 1, "sm2", k.get(), der);
    ProvRef p;
    ASSERT_TRUE(pc::acquireContext(&p.p, "sm2", "Vendor SM2 CSP", 1, 0));
    const std::string data = "sm2 message";
    std::vector<uint8_t> sig = signWith(p.p, pc::ALG_SM3, data);
    ASSERT_EQ(sig.size(), 64u);
    std::reverse(sig.begin(), sig.begin() + 32);
    std::reverse(sig.begin() + 32, sig.end());

    // OpenSSL's SM2 verification with the default user ID.
    EXPECT_TRUE(sm2Verifies(k.get(), data, sig));
}

TEST_F(PlatCrypt, CertificatePrivateKeyFromKeyProvInfo) {
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get());
    putKey(pc::ENHANCED_PROVIDER, 1, "mine", k.get(), der);
    CtxRef c(cert::create(der.data(), der.size()));
    pc::Provider *prov = nullptr;
    uint32_t keySpec = 0;
    bool callerFree = false;
    EXPECT_FALSE(pc::acquireCertificatePrivateKey(c.p, 0, &prov, &keySpec, &callerFree));
    EXPECT_EQ(plat::lastError(), plat::PLAT_E_NO_KEY_PROPERTY);

    cert::KeyProvInfo info;
    info.container = "mine";
    info.provider = pc::ENHANCED_PROVIDER;
    info.provType = 1;
    info.keySpec = pc::AT_SIGNATURE;
    std::vector<uint8_t> raw = cert::encodeKeyProvInfo(info);
    cert::KeyProvInfo back;
    ASSERT_TRUE(cert::decodeKeyProvInfo(raw.data(), raw.size(), &back));
    EXPECT_EQ(back.provider, info.provider);
    for (size_t cut = 0; cut < raw.size(); cut++)
        EXPECT_FALSE(cert::decodeKeyProvInfo(raw.data(), cut, &back)) << cut;
    ASSERT_TRUE(cert::setProperty(c.p, cert::PROP_KEY_PROV_INFO, raw.data(), raw.size()));

    ASSERT_TRUE(pc::acquireCertificatePrivateKey(c.p, 0, &prov, &keySpec, &callerFree));
    EXPECT_TRUE(callerFree);
    EXPECT_EQ(keySpec, pc::AT_SIGNATURE);
    EXPECT_EQ(pc::providerName(prov), pc::ENHANCED_PROVIDER);
    pc::releaseContext(prov);

    pc::Provider *cached = nullptr, *again = nullptr;
    ASSERT_TRUE(pc::acquireCertificatePrivateKey(c.p, pc::ACQUIRE_CACHE, &cached, &keySpec, &callerFree));
    EXPECT_FALSE(callerFree);
    ASSERT_TRUE(pc::acquireCertificatePrivateKey(c.p, pc::ACQUIRE_CACHE, &again, &keySpec, &callerFree));
    EXPECT_EQ(cached, again);

    // New key-provider information: the next acquisition follows it, while
    // the handle handed out before stays usable until the context goes.
    info.provider = pc::AES_PROVIDER;
    info.provType = 24;
    raw = cert::encodeKeyProvInfo(info);
    ASSERT_TRUE(cert::setProperty(c.p, cert::PROP_KEY_PROV_INFO, raw.data(), raw.size()));
    ASSERT_TRUE(pc::acquireCertificatePrivateKey(c.p, pc::ACQUIRE_CACHE, &again, &keySpec, &callerFree));
    EXPECT_EQ(pc::providerName(again), pc::AES_PROVIDER);
    EXPECT_EQ(pc::providerName(cached), pc::ENHANCED_PROVIDER);

    // A key that does not belong to the certificate is refused.
    Pkey other = rsaKey();
    std::vector<uint8_t> otherDer = makeCert(other.get());
    CtxRef oc(cert::create(otherDer.data(), otherDer.size()));
    ASSERT_TRUE(cert::setProperty(oc.p, cert::PROP_KEY_PROV_INFO, raw.data(), raw.size()));
    EXPECT_FALSE(pc::acquireCertificatePrivateKey(oc.p, 0, &prov, &keySpec, &callerFree));
    EXPECT_EQ(plat::lastError(), plat::PLAT_NTE_BAD_PUBLIC_KEY);
}
