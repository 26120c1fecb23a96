// The PKCS#11 adapter against SoftHSM2. Every test gets its own copy of the
// tokens in its temporary home (make_tokens.sh: certificates made by the
// openssl CLI, imported with pkcs11-tool, built once per test run) and checks
// every signature with the openssl CLI.
#include "sealdesk_test.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_log.h"
#include "tutil/tutil_pkcs11.h"
#include "tutil/tutil_pkcs11_ck.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

using sealdesk_test::readFile;
using sealdesk_test::run;
using sealdesk_test::writeFile;

std::vector<std::string> g_log;
void captureLog(const char *text) { g_log.emplace_back(text ? text : ""); }

bool logged(const std::string &fragment) {
    return std::any_of(g_log.begin(), g_log.end(),
                       [&](const std::string &l) { return l.find(fragment) != std::string::npos; });
}

std::string allLog() {
    std::string s;
    for (const auto &l : g_log) s += l + "\n";
    return s;
}

// The test drivers of p11_shim.cpp.
const std::string kShimNoSign = P11_SHIM_NOSIGN;
const std::string kShimNoLogin = P11_SHIM_NOLOGIN;
const std::string kShimBadInit = P11_SHIM_BADINIT;
const std::string kShimLiar = P11_SHIM_LIAR;

// Direct access to the SoftHSM2 module from the test, sharing the instance
// the adapter loads (same file, same process): used to set up states the
// adapter must cope with and to look behind its back.
class Cryptoki {
public:
    Cryptoki() : module_(dlopen(SOFTHSM2_MODULE, RTLD_NOW | RTLD_LOCAL)) {}
    ~Cryptoki() {
        if (module_) dlclose(module_);
    }
    Cryptoki(const Cryptoki &) = delete;
    Cryptoki &operator=(const Cryptoki &) = delete;

    template <typename F>
    F fn(const char *name) const {
        return reinterpret_cast<F>(dlsym(module_, name));
    }
    CK_RV initialize() const { return fn<CK_C_Initialize>("C_Initialize")(nullptr); }

    std::vector<CK_SLOT_ID> slots() const {
        CK_ULONG n = 0;
        auto getSlotList = fn<CK_C_GetSlotList>("C_GetSlotList");
        if (getSlotList(CK_TRUE, nullptr, &n) != CKR_OK) return {};
        std::vector<CK_SLOT_ID> list(n);
        if (getSlotList(CK_TRUE, list.data(), &n) != CKR_OK) return {};
        list.resize(n);
        return list;
    }
    CK_RV open(CK_SLOT_ID slot, CK_SESSION_HANDLE *s) const {
        return fn<CK_C_OpenSession>("C_OpenSession")(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                                     nullptr, s);
    }
    CK_RV login(CK_SESSION_HANDLE s, const char *pin) const {
        return fn<CK_C_Login>("C_Login")(s, CKU_USER, (CK_UTF8CHAR *)pin, strlen(pin));
    }
    void close(CK_SESSION_HANDLE s) const { fn<CK_C_CloseSession>("C_CloseSession")(s); }

    // Private keys with this CKA_ID, in the order the token finds them.
    std::vector<CK_OBJECT_HANDLE> privateKeys(CK_SESSION_HANDLE s, unsigned char id) const {
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_ID, &id, 1}};
        std::vector<CK_OBJECT_HANDLE> keys;
        if (fn<CK_C_FindObjectsInit>("C_FindObjectsInit")(s, tmpl, 2) != CKR_OK) return keys;
        CK_OBJECT_HANDLE obj;
        CK_ULONG n = 0;
        while (fn<CK_C_FindObjects>("C_FindObjects")(s, &obj, 1, &n) == CKR_OK && n == 1) keys.push_back(obj);
        fn<CK_C_FindObjectsFinal>("C_FindObjectsFinal")(s);
        return keys;
    }
    CK_RV setCanSign(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key, bool canSign) const {
        CK_BBOOL v = canSign ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE a = {CKA_SIGN, &v, sizeof v};
        return fn<CK_C_SetAttributeValue>("C_SetAttributeValue")(s, key, &a, 1);
    }
    std::string label(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE obj) const {
        char buf[64] = {};
        CK_ATTRIBUTE a = {CKA_LABEL, buf, sizeof buf - 1};
        if (fn<CK_C_GetAttributeValue>("C_GetAttributeValue")(s, obj, &a, 1) != CKR_OK) return "";
        return std::string(buf, a.ulValueLen);
    }

private:
    void *module_;
};

// Names of the certificates make_tokens.sh puts on the tokens.
const char *const kCertNames[] = {"sign", "enc", "noku", "sm2", "two", "p256", "beta"};

class Pkcs11Test : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        dir_ = home() + "/p11";
        std::filesystem::create_directories(dir_);
        std::string out;
        std::string cache = (sealdesk_test::tmpRoot() / "p11-tokens").string();
        int st = run("'" P11_MAKE_TOKENS "' '" + dir_ + "' '" SOFTHSM2_MODULE "' '" + cache + "' 2>&1", &out);
        ASSERT_EQ(st, 0) << out;
        setenv("SOFTHSM2_CONF", (dir_ + "/softhsm2.conf").c_str(), 1);
        g_log.clear();
        tcore_log_sink = captureLog;
    }
    void TearDown() override {
        tcore_list_free(list_);
        tutil_pkcs11_unloadAll();
        tcore_log_sink = nullptr;
        HomeTest::TearDown();
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // All records of the driver for the wanted kind, by certificate name.
    std::vector<tutil_pkcs11_key *> find(int driver, int kid) {
        tcore_list_free(list_);
        list_ = nullptr;
        int n = tutil_pkcs11_findAllCerts(driver, kid, &list_);
        EXPECT_GE(n, 0);
        EXPECT_EQ(n, tcore_list_count(list_));
        std::vector<tutil_pkcs11_key *> keys;
        for (int i = 0; i < tcore_list_count(list_); ++i)
            keys.push_back(static_cast<tutil_pkcs11_key *>(tcore_list_get(list_, i)));
        return keys;
    }

    std::string nameOf(const tutil_pkcs11_key *key) const {
        std::string der(reinterpret_cast<const char *>(key->cert), key->certLen);
        for (const char *name : kCertNames)
            if (readFile(path(std::string(name) + ".der")) == der) return name;
        return "?";
    }

    // The record of one certificate, with the PIN set as the engine would.
    tutil_pkcs11_key *key(int driver, const std::string &name, const char *pin) {
        for (tutil_pkcs11_key *k : find(driver, 0))
            if (nameOf(k) == name) {
                snprintf(k->pin, sizeof k->pin, "%s", pin);
                return k;
            }
        ADD_FAILURE() << "no record for " << name;
        return nullptr;
    }

    int loadSoftHsm() {
        int id = tutil_pkcs11_load(SOFTHSM2_MODULE);
        EXPECT_GE(id, TUTIL_P11_FIRST_ID) << allLog();
        return id;
    }

    // Public key of a certificate as PEM file, for the openssl CLI.
    std::string publicKey(const std::string &cert) {
        std::string pub = path(cert + ".pub.pem");
        EXPECT_EQ(sealdesk_test::opensslPublicKeyOf(path(cert + ".der"), pub, true), 0);
        return pub;
    }

    // True when `sig` is a PKCS#1 v1.5 signature of `data` with the digest
    // `md` ("sha256", ...) by the key of certificate `cert`.
    bool verifiesData(const std::string &cert, const std::string &md, const std::string &data,
                      const std::string &sig) {
        writeFile(path("data.bin"), data);
        writeFile(path("sig.bin"), sig);
        return sealdesk_test::opensslVerifies(md, publicKey(cert), path("sig.bin"), path("data.bin"));
    }

    // The octets a raw RSA (PKCS#1 v1.5 type 1) signature recovers to.
    std::string recovered(const std::string &cert, const std::string &sig) {
        writeFile(path("sig.bin"), sig);
        std::string out;
        int st = run("openssl pkeyutl -verifyrecover -pubin -inkey '" + publicKey(cert) +
                         "' -pkeyopt rsa_padding_mode:pkcs1 -in '" + path("sig.bin") + "' 2>/dev/null",
                     &out);
        return st == 0 ? out : "<failed>";
    }

    std::string dir_;
    tcore_list *list_ = nullptr;
};

int signWith(tutil_pkcs11_key *key, const std::string &data, int isDigest, int digestKid, std::string *sig) {
    unsigned char out[TUTIL_P11_SIG_MAX];
    int n = tutil_pkcs11_sign(key, reinterpret_cast<const unsigned char *>(data.data()),
                              static_cast<int>(data.size()), isDigest, digestKid, out);
    if (n > 0) sig->assign(reinterpret_cast<char *>(out), n);
    return n;
}

// ---- loading ----

TEST_F(Pkcs11Test, LoadGivesOneIdPerModule) {
    int id = loadSoftHsm();
    EXPECT_EQ(tutil_pkcs11_load(SOFTHSM2_MODULE), id);  // same path: same id
    int other = tutil_pkcs11_load(kShimNoSign.c_str());
    EXPECT_GT(other, id);
    EXPECT_EQ(tutil_pkcs11_load(kShimNoSign.c_str()), other);
}

struct LoadFailure {
    const char *what;
    std::string path;
    int code;
    const char *log;  // a fragment of the expected log, or ""
};

TEST_F(Pkcs11Test, LoadFailuresHaveTheirCodes) {
    writeFile(path("not-a-module.so"), "plain text, not a shared object\n");
    int before = tutil_pkcs11_load(kShimNoSign.c_str());
    ASSERT_GE(before, TUTIL_P11_FIRST_ID);
    const LoadFailure cases[] = {
        {"missing file", path("absent/libnothing.so"), TCORE_ERR_LIB_PATH, "absent/libnothing.so"},
        {"empty path", "", TCORE_ERR_ARG, "is NULL or length 0"},
        {"not a shared object", path("not-a-module.so"), TUTIL_P11_ERR_LOAD, "LoadLibrary"},
        {"lacks C_Login", kShimNoLogin, TUTIL_P11_ERR_FUNC_MISSING, "get func (No.8) addr failed "},
        {"C_Initialize fails", kShimBadInit, TUTIL_P11_ERR_INITIALIZE, "[PKCS11] c_initialize failed        6"},
    };
    for (const auto &c : cases) {
        g_log.clear();
        EXPECT_EQ(tutil_pkcs11_load(c.path.c_str()), c.code) << c.what;
        EXPECT_TRUE(logged(c.log)) << c.what << "\n" << allLog();
    }
    // A missing file is refused before any load is tried.
    g_log.clear();
    EXPECT_EQ(tutil_pkcs11_load(path("absent/libnothing.so").c_str()), TCORE_ERR_LIB_PATH);
    EXPECT_FALSE(logged("LoadLibrary"));
    EXPECT_EQ(tutil_pkcs11_load(nullptr), TCORE_ERR_ARG);
    // Failed loads use up no id and leave no driver behind.
    EXPECT_EQ(loadSoftHsm(), before + 1);
}

TEST_F(Pkcs11Test, LoadAcceptsAnAlreadyInitialisedModule) {
    Cryptoki direct;
    ASSERT_EQ(direct.initialize(), CKR_OK);  // someone in the process got there first
    int id = loadSoftHsm();
    EXPECT_EQ(find(id, 201).size(), 3u);
}

// ---- discovery ----

struct FindCase {
    int kid;
    std::vector<std::string> names;  // sorted
};

TEST_F(Pkcs11Test, FindsSigningCertificatesOfTheWantedKind) {
    int id = loadSoftHsm();
    const FindCase cases[] = {
        {0, {"beta", "p256", "sign", "sm2", "two"}},  // any key; never enc (dataEncipherment) nor noku
        {201, {"beta", "sign", "two"}},
        {210, {"sm2"}},
        {999, {}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> names;
        for (tutil_pkcs11_key *k : find(id, c.kid)) names.push_back(nameOf(k));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names) << "kind " << c.kid;
    }
    EXPECT_TRUE(find(id, 999).empty());
    EXPECT_EQ(list_, nullptr);  // no record, no list
}

TEST_F(Pkcs11Test, RecordsSayWhereTheKeyLives) {
    int id = loadSoftHsm();
    Cryptoki direct;  // shares the instance the adapter initialised
    std::vector<CK_SLOT_ID> slots = direct.slots();
    ASSERT_EQ(slots.size(), 3u);  // alpha, beta and SoftHSM2's free slot

    const struct {
        const char *name;
        unsigned char id;
    } expected[] = {{"sign", 1}, {"sm2", 4}, {"two", 5}, {"p256", 6}, {"beta", 1}};
    std::vector<tutil_pkcs11_key *> keys = find(id, 0);
    ASSERT_EQ(keys.size(), 5u);
    CK_SLOT_ID alpha = 0, beta = 0;
    for (tutil_pkcs11_key *k : keys) {
        std::string name = nameOf(k);
        SCOPED_TRACE(name);
        EXPECT_EQ(k->driverId, id);
        EXPECT_EQ(k->refCount, 0);
        EXPECT_EQ(k->pin[0], '\0');
        ASSERT_GE(k->slotIndex, 0);
        ASSERT_LT(k->slotIndex, 3);
        EXPECT_EQ(k->slotId, slots[k->slotIndex]);
        for (const auto &e : expected)
            if (name == e.name) {
                ASSERT_EQ(k->ckaIdLen, 1);
                EXPECT_EQ(k->ckaId[0], e.id);
            }
        (name == "beta" ? beta : alpha) = k->slotId;
    }
    EXPECT_NE(alpha, beta);
    for (tutil_pkcs11_key *k : keys)
        if (nameOf(k) != "beta") {
            EXPECT_EQ(k->slotId, alpha);
        }
    // The free slot has a token that cannot open a session: logged, skipped.
    EXPECT_TRUE(logged("[PKCS11] c_openSession failed")) << allLog();
}

TEST_F(Pkcs11Test, FindRefusesMissingListAndUnknownDriver) {
    int id = loadSoftHsm();
    EXPECT_EQ(tutil_pkcs11_findAllCerts(id, 0, nullptr), TCORE_ERR_ARG);
    tcore_list *list = nullptr;
    EXPECT_EQ(tutil_pkcs11_findAllCerts(1999, 0, &list), TUTIL_P11_ERR_NO_DRIVER);
    EXPECT_EQ(list, nullptr);
}

TEST_F(Pkcs11Test, FindAppendsToTheCallersList) {
    int id = loadSoftHsm();
    ASSERT_EQ(tutil_pkcs11_findAllCerts(id, 201, &list_), 3);
    ASSERT_EQ(tutil_pkcs11_findAllCerts(id, 210, &list_), 1);
    EXPECT_EQ(tcore_list_count(list_), 4);
}

// ---- signing ----

struct DataCase {
    int digestKid;
    const char *md;  // what the signature must verify with
};

TEST_F(Pkcs11Test, DataSignatureUsesTheRequestedDigest) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    const std::string data = "order 4711: pay 100.00 to account 12345";
    const DataCase cases[] = {
        {101, "md5"}, {102, "sha1"}, {103, "sha256"}, {104, "sha512"}, {105, "sha384"},
        {110, "sha1"},  // no RSA mechanism hashes SM3: SHA-1 as before
    };
    for (const auto &c : cases) {
        std::string sig;
        ASSERT_EQ(signWith(k, data, 0, c.digestKid, &sig), 256) << c.digestKid << "\n" << allLog();
        EXPECT_TRUE(verifiesData("sign", c.md, data, sig)) << c.digestKid;
        if (c.digestKid == 103) {
            EXPECT_FALSE(verifiesData("sign", "sha1", data, sig));  // not a SHA-1 signature
        }
    }
}

TEST_F(Pkcs11Test, DigestSignatureSignsTheGivenOctets) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    const std::string digests[] = {
        std::string(20, '\x11'),
        std::string(32, '\xA5'),
        std::string("\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14", 15) + std::string(20, '\x42'),
    };
    for (const auto &d : digests) {
        std::string sig;
        ASSERT_EQ(signWith(k, d, 1, 103, &sig), 256) << allLog();
        EXPECT_EQ(recovered("sign", sig), d) << d.size();
    }
}

TEST_F(Pkcs11Test, SignsOnTheTokenOfTheRecord) {
    // "beta" has the same CKA_ID as "sign" but sits on the other token.
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "beta", "4321");
    ASSERT_NE(k, nullptr);
    std::string sig;
    ASSERT_EQ(signWith(k, "beta data", 0, 103, &sig), 256) << allLog();
    EXPECT_TRUE(verifiesData("beta", "sha256", "beta data", sig));
    EXPECT_FALSE(verifiesData("sign", "sha256", "beta data", sig));
}

TEST_F(Pkcs11Test, WrongPinIsRefused) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "9999");
    ASSERT_NE(k, nullptr);
    std::string sig;
    EXPECT_EQ(signWith(k, "data", 0, 102, &sig), TUTIL_P11_ERR_LOGIN);
    EXPECT_TRUE(logged("[PKCS11] c_login failed       A0")) << allLog();
    EXPECT_FALSE(logged("9999"));  // the PIN never reaches the log
}

TEST_F(Pkcs11Test, SignsWhenTheUserIsAlreadyLoggedIn) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    // Another session of this process keeps the user logged in.
    Cryptoki direct;
    CK_SESSION_HANDLE held = 0, probe = 0;
    ASSERT_EQ(direct.open(k->slotId, &held), CKR_OK);
    ASSERT_EQ(direct.login(held, "1234"), CKR_OK);
    ASSERT_EQ(direct.open(k->slotId, &probe), CKR_OK);
    ASSERT_EQ(direct.login(probe, "1234"), CKR_USER_ALREADY_LOGGED_IN);  // what the adapter will hear
    direct.close(probe);

    std::string sig;
    EXPECT_EQ(signWith(k, "data", 0, 103, &sig), 256) << allLog();
    EXPECT_TRUE(verifiesData("sign", "sha256", "data", sig));
    direct.close(held);
}

TEST_F(Pkcs11Test, SkipsAKeyThatMayNotSign) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "two", "1234");
    ASSERT_NE(k, nullptr);
    // Two private keys carry CKA_ID 05, the certificate's ("two") and the
    // key of "enc" ("two-other"). Clear CKA_SIGN on the one the token finds
    // first, so that it is the first one the adapter meets; the signature
    // must then come from the other one.
    Cryptoki direct;
    CK_SESSION_HANDLE s = 0;
    ASSERT_EQ(direct.open(k->slotId, &s), CKR_OK);
    ASSERT_EQ(direct.login(s, "1234"), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> keys = direct.privateKeys(s, 5);
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(direct.setCanSign(s, keys[0], false), CKR_OK);
    std::string first = direct.label(s, keys[0]);
    std::string signer = direct.label(s, keys[1]) == "two" ? "two" : "enc";
    ASSERT_EQ(direct.privateKeys(s, 5), keys);  // the order holds
    direct.close(s);

    std::string sig;
    ASSERT_EQ(signWith(k, "data", 0, 103, &sig), 256) << "first key: " << first << "\n" << allLog();
    EXPECT_TRUE(verifiesData(signer, "sha256", "data", sig)) << "first key: " << first;

    // With CKA_SIGN cleared on both, no key is left. (Handles of private
    // objects die with the login, so look the keys up again.)
    ASSERT_EQ(direct.open(k->slotId, &s), CKR_OK);
    ASSERT_EQ(direct.login(s, "1234"), CKR_OK);
    for (CK_OBJECT_HANDLE h : direct.privateKeys(s, 5)) ASSERT_EQ(direct.setCanSign(s, h, false), CKR_OK);
    direct.close(s);
    EXPECT_EQ(signWith(k, "data", 0, 103, &sig), TUTIL_P11_ERR_NO_KEY);
}

TEST_F(Pkcs11Test, OnlyRsaCertificatesSign) {
    int id = loadSoftHsm();
    struct {
        const char *name;
        int code;
        const char *log;
    } cases[] = {
        {"sm2", TUTIL_P11_ERR_SM2, "[PKCS11] sm2 cert not supported"},
        {"p256", TUTIL_P11_ERR_KEY_KIND, ""},
    };
    for (const auto &c : cases) {
        tutil_pkcs11_key *k = key(id, c.name, "1234");
        ASSERT_NE(k, nullptr);
        g_log.clear();
        std::string sig;
        EXPECT_EQ(signWith(k, "data", 0, 110, &sig), c.code) << c.name;
        if (*c.log) {
            EXPECT_TRUE(logged(c.log)) << allLog();
        }
    }
}

TEST_F(Pkcs11Test, DriverWithoutCSignLoadsButCannotSign) {
    int id = tutil_pkcs11_load(kShimNoSign.c_str());
    ASSERT_GE(id, TUTIL_P11_FIRST_ID) << allLog();
    tutil_pkcs11_key *k = key(id, "sign", "1234");  // discovery works through it
    ASSERT_NE(k, nullptr);
    std::string sig;
    EXPECT_EQ(signWith(k, "data", 0, 103, &sig), TUTIL_P11_ERR_NO_SIGN);
    EXPECT_TRUE(logged("[PKCS11] sign functions not supported"));
}

// A driver's answers are never trusted to fit: the sanitizer build turns
// any read past a buffer here into a failure.
TEST_F(Pkcs11Test, DriverAnswersAreBoundsChecked) {
    int id = tutil_pkcs11_load(kShimLiar.c_str());
    ASSERT_GE(id, TUTIL_P11_FIRST_ID) << allLog();
    const struct {
        const char *lie;
        size_t listed;
    } cases[] = {
        {"", 5},
        {"slot-count", 5},        // only the slots actually written are walked
        {"value-huge", 0},        // certificates skipped, nothing allocated
        {"value-unavailable", 0},
        {"value-grows", 0},       // a length beyond the room is not believed
    };
    for (const auto &c : cases) {
        setenv("P11_SHIM_LIE", c.lie, 1);
        g_log.clear();
        EXPECT_EQ(find(id, 0).size(), c.listed) << c.lie << "\n" << allLog();
        if (c.listed == 0) {
            EXPECT_TRUE(logged("[PKCS11] certificate object skipped")) << c.lie;
        }
    }
    setenv("P11_SHIM_LIE", "", 1);
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    setenv("P11_SHIM_LIE", "sig-long", 1);
    std::string sig;
    EXPECT_EQ(signWith(k, "data", 0, 103, &sig), TUTIL_P11_ERR_SIGN);
    unsetenv("P11_SHIM_LIE");
}

TEST_F(Pkcs11Test, SignRefusesBadArguments) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    unsigned char data[4] = {1, 2, 3, 4};
    unsigned char sig[TUTIL_P11_SIG_MAX];
    EXPECT_EQ(tutil_pkcs11_sign(nullptr, data, 4, 0, 102, sig), TCORE_ERR_ARG);
    EXPECT_EQ(tutil_pkcs11_sign(k, nullptr, 4, 0, 102, sig), TCORE_ERR_ARG);
    EXPECT_EQ(tutil_pkcs11_sign(k, data, 4, 0, 102, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tutil_pkcs11_sign(k, data, 0, 0, 102, sig), TCORE_ERR_ARG);
    EXPECT_EQ(tutil_pkcs11_sign(k, data, -1, 0, 102, sig), TCORE_ERR_ARG);
    // Too long for a raw RSA-2048 signature: the token says no.
    std::string tooLong(300, 'x');
    std::string out;
    EXPECT_EQ(signWith(k, tooLong, 1, 102, &out), TUTIL_P11_ERR_SIGN);
    EXPECT_TRUE(logged("[PKCS11] c_sign failed")) << allLog();
}

// ---- life cycle ----

TEST_F(Pkcs11Test, ReleaseHonoursTheReferenceCount) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    k->refCount = 1;         // the engine took the record
    tcore_list_free(list_);  // the list drops its reference: the record lives on
    list_ = nullptr;
    EXPECT_EQ(k->refCount, 0);
    std::string sig;
    EXPECT_EQ(signWith(k, "data", 0, 102, &sig), 256);
    tutil_pkcs11_release(k);  // the last holder frees it (the sanitizer build checks both)
    tutil_pkcs11_release(nullptr);
}

TEST_F(Pkcs11Test, UnloadedDriverCannotSign) {
    int id = loadSoftHsm();
    tutil_pkcs11_key *k = key(id, "sign", "1234");
    ASSERT_NE(k, nullptr);
    tutil_pkcs11_unloadAll();
    std::string sig;
    EXPECT_EQ(signWith(k, "data", 0, 102, &sig), TUTIL_P11_ERR_NO_DRIVER);
    int again = loadSoftHsm();  // loads afresh under a new id
    EXPECT_NE(again, id);
    EXPECT_EQ(find(again, 201).size(), 3u);
}

}  // namespace
