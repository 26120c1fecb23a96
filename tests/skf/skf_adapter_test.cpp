// The SKF adapter against the software SKF token, loaded through dlopen as
// any vendor driver would be. Signatures are checked with OpenSSL and the
// openssl CLI, which know nothing of either.
#include "sealdesk_certgen.h"
#include "skf_fixture.h"

#include <cstring>
#include <filesystem>
#include <set>

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

using namespace skf_test;
using sealdesk_test::readFile;
using sealdesk_test::run;
using sealdesk_test::writeFile;

namespace {

std::string bytes(const unsigned char *p, int n) {
    return std::string(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
}

const std::string kMessage = "pay 100 to the account 6222 0000 1111 2222";

const unsigned char *msg() { return reinterpret_cast<const unsigned char *>(kMessage.data()); }
int msgLen() { return static_cast<int>(kMessage.size()); }

// SM2 verification by OpenSSL over the message, SM3 with the default ID.
bool sm2Verify(const tutil_skf_key *k, const unsigned char *sig, size_t sigLen) {
    const unsigned char *p = k->cert;
    X509 *cert = d2i_X509(nullptr, &p, k->certLen);
    if (!cert) return false;
    EVP_PKEY *pub = X509_get_pubkey(cert);
    X509_free(cert);
    if (!pub) return false;
    if (!EVP_PKEY_is_a(pub, "SM2")) {  // an EC key on the SM2 curve: make it an SM2 key
        OSSL_PARAM *params = nullptr;
        EVP_PKEY *sm2 = nullptr;
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
        if (EVP_PKEY_todata(pub, EVP_PKEY_PUBLIC_KEY, &params) == 1 &&
            EVP_PKEY_fromdata_init(pc) == 1)
            EVP_PKEY_fromdata(pc, &sm2, EVP_PKEY_PUBLIC_KEY, params);
        OSSL_PARAM_free(params);
        EVP_PKEY_CTX_free(pc);
        EVP_PKEY_free(pub);
        pub = sm2;
        if (!pub) return false;
    }
    bool ok = sealdesk_test::sm2VerifiesDer(pub, msg(), kMessage.size(), sig, sigLen);
    EVP_PKEY_free(pub);
    return ok;
}

}  // namespace

// ---- loading ---------------------------------------------------------------

TEST_F(SkfTest, LoadGivesOneIdPerPathFromOneThousand) {
    std::string copy = home() + "/libsoftskf-copy.so";
    std::filesystem::copy_file(driverPath(), copy);
    EXPECT_EQ(tutil_skf_load(driverPath().c_str()), 1000);
    EXPECT_EQ(tutil_skf_load(driverPath().c_str()), 1000);
    EXPECT_EQ(tutil_skf_load(copy.c_str()), 1001);
    EXPECT_EQ(tutil_skf_load(driverPath().c_str()), 1000);
}

TEST_F(SkfTest, LoadRefusesBadPathsAndIncompleteDrivers) {
    EXPECT_EQ(tutil_skf_load(nullptr), -10002);
    EXPECT_EQ(tutil_skf_load(""), -10002);

    std::string missing = home() + "/no-such-driver.so";
    EXPECT_EQ(tutil_skf_load(missing.c_str()), TUTIL_SKF_ERR_LOAD);
    EXPECT_TRUE(logged("LoadLibrary")) << logText();
    EXPECT_TRUE(logged(missing)) << logText();

    std::string notALibrary = home() + "/not-a-library.so";
    writeFile(notALibrary, "not an ELF file");
    EXPECT_EQ(tutil_skf_load(notALibrary.c_str()), TUTIL_SKF_ERR_LOAD);

    logLines().clear();
    EXPECT_EQ(tutil_skf_load(bin("libsoftskf_norsasign.so").c_str()), TUTIL_SKF_ERR_FUNC);
    EXPECT_TRUE(logged("get func (No.13) addr failed ")) << logText();
    // A refused driver takes no id: the next good one still gets 1000.
    EXPECT_EQ(tutil_skf_load(driverPath().c_str()), 1000);
}

// ---- discovery -------------------------------------------------------------

TEST_F(SkfTest, FindsRsaAndSm2CertificatesOnAllDevices) {
    standardToken();
    int count = -1;
    auto keys = discover(&count);
    ASSERT_EQ(count, 3) << logText();
    ASSERT_EQ(keys.size(), 3u);

    struct Want {
        const char *dev, *app, *con;
        int type;
        const char *certFile;
    } want[] = {
        {"D1", "A1", "R1", TUTIL_SKF_TYPE_RSA, "rsa1.crt"},
        {"D1", "A1", "S1", TUTIL_SKF_TYPE_SM2, "sm2.crt"},
        {"D2", "A2", "R2", TUTIL_SKF_TYPE_RSA, "rsa2.crt"},
    };
    for (size_t i = 0; i < 3; i++) {
        const tutil_skf_key *k = keys[i];
        SCOPED_TRACE(want[i].con);
        EXPECT_STREQ(k->devName, want[i].dev);
        EXPECT_STREQ(k->appName, want[i].app);
        EXPECT_STREQ(k->conName, want[i].con);
        EXPECT_EQ(k->conType, want[i].type);
        EXPECT_EQ(k->driverId, driverId_);
        EXPECT_EQ(k->signFlag, 1);
        EXPECT_EQ(k->refCount, 0);
        EXPECT_EQ(k->pin[0], '\0');
        EXPECT_TRUE(k->module != nullptr);
        EXPECT_TRUE(!k->hDev && !k->hApp && !k->hCon);
        // The certificate is the one imported, byte for byte.
        std::string der;
        ASSERT_EQ(run("openssl x509 -in " + mat(want[i].certFile) + " -outform DER", &der), 0);
        EXPECT_EQ(bytes(k->cert, k->certLen), der);
    }
}

TEST_F(SkfTest, FaultyDevicesApplicationsAndContainersAreSkipped) {
    standardToken();
    tool("create-device D0");  // sorts first; its applications cannot be listed
    tool("create-app D0 A0 --pin 1111");
    tool("import D0 A0 R0 --key " + mat("rsa2.key") + " --cert " + mat("rsa2.crt"));
    tool("fault D0 enum_apps=fail");
    tool("fault D1/A1/R1 export_cert=fail");

    int count = -1;
    auto keys = discover(&count);
    EXPECT_EQ(count, 2) << logText();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_STREQ(keys[0]->conName, "S1");
    EXPECT_STREQ(keys[1]->conName, "R2");
    EXPECT_TRUE(logged("skf_enumApplication failed  a000001")) << logText();
    EXPECT_TRUE(logged("tutil_skf_findDevCerts  D0 failed -160142, continue")) << logText();
    EXPECT_TRUE(logged("skf_exportCertificate sign R1 failed  a000001, continue")) << logText();
    EXPECT_FALSE(logged("skf_disConnectDev")) << logText();

    // Absent devices are not searched; an empty result is no error.
    tool("absent D1");
    keys = discover(&count);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_STREQ(keys[0]->conName, "R2");
    tool("absent D0");
    tool("absent D2");
    keys = discover(&count);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(keys.empty());
    tool("present D1");
    keys = discover(&count);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_STREQ(keys[0]->conName, "S1");
}

TEST_F(SkfTest, ContainerListFailureSkipsTheApplication) {
    standardToken();
    tool("fault D1/A1 enum_containers=fail");
    int count = -1;
    auto keys = discover(&count);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(logged("skf_enumContainer failed  a000001")) << logText();
    EXPECT_TRUE(logged("tutil_skf_findAppCerts  A1 failed -160143, continue")) << logText();

    tool("fault - enum_dev=fail");
    tcore_list_free(list_);
    list_ = nullptr;
    EXPECT_EQ(tutil_skf_findAllCerts(load(), &list_), TUTIL_SKF_ERR_ENUM_DEV);
    EXPECT_TRUE(logged("skf_enumDev failed  a000001")) << logText();
    EXPECT_EQ(list_, nullptr);
}

// Name lists are driver answers: one without its closing empty name, or
// with a size beyond the buffer, must not lead the walk past the buffer
// (the sanitizer build turns an overrun into a failure).
TEST_F(SkfTest, MalformedNameListsStayInsideTheBuffer) {
    standardToken();
    struct Case {
        const char *where, *name, *value;
        int count;
    } cases[] = {
        {"-", "enum_dev", "oversize", 3},        // proper list, size claims more
        {"-", "enum_dev", "unterminated", 0},     // 1024 name characters, no end
        {"D1", "enum_apps", "oversize", 3},
        {"D1", "enum_apps", "unterminated", 1},   // D1 yields nothing usable
        {"D1/A1", "enum_containers", "oversize", 3},
        {"D1/A1", "enum_containers", "unterminated", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.where) + " " + c.name + "=" + c.value);
        tool(std::string("fault ") + c.where + " " + c.name + "=" + c.value);
        int count = -1;
        discover(&count);
        EXPECT_EQ(count, c.count) << logText();
        tool(std::string("fault ") + c.where + " " + c.name + "=");
    }
}

TEST_F(SkfTest, FindAllCertsArguments) {
    EXPECT_EQ(tutil_skf_findAllCerts(1000, nullptr), -10002);
    tcore_list *list = nullptr;
    EXPECT_EQ(tutil_skf_findAllCerts(1000, &list), TUTIL_SKF_ERR_NO_DRIVER);
    EXPECT_EQ(list, nullptr);
}

// ---- PIN -------------------------------------------------------------------

TEST_F(SkfTest, WrongPinCountsDownAndLocks) {
    standardToken();
    tutil_skf_key *k = key("R1");
    ASSERT_TRUE(k);
    snprintf(k->pin, sizeof k->pin, "%s", "0000");
    int retry = -1;
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), TUTIL_SKF_ERR_PIN);
    EXPECT_EQ(retry, 2);
    EXPECT_TRUE(logged("skf_verifyPin R1 failed  a000024, left retry 2")) << logText();
    EXPECT_TRUE(!k->hDev && !k->hApp && !k->hCon);  // closed after a failure
    EXPECT_EQ(tutil_skf_verifyPin(k, nullptr), TUTIL_SKF_ERR_PIN);
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), TUTIL_SKF_ERR_PIN_LOCKED);
    EXPECT_EQ(retry, 0);

    // Locked: the right PIN no longer helps, signing is refused the same way.
    snprintf(k->pin, sizeof k->pin, "%s", "1234");
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), TUTIL_SKF_ERR_PIN_LOCKED);
    unsigned char sig[1024];
    EXPECT_EQ(tutil_skf_sign(k, msg(), msgLen(), 102, sig), TUTIL_SKF_ERR_PIN_LOCKED);
    EXPECT_TRUE(logged("skf_verifyPin R1 failed  a000025, left retry 0")) << logText();

    // The other device is untouched; set-pin unlocks.
    tool("set-pin D1 A1 --pin 4321");
    snprintf(k->pin, sizeof k->pin, "%s", "4321");
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), 0);
    EXPECT_TRUE(k->hDev && k->hApp && k->hCon);  // stays open after success
}

TEST_F(SkfTest, RightPinResetsTheCounter) {
    standardToken();
    tutil_skf_key *k = key("S1");
    ASSERT_TRUE(k);
    int retry = -1;
    snprintf(k->pin, sizeof k->pin, "%s", "9999");
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), TUTIL_SKF_ERR_PIN);
    EXPECT_EQ(retry, 2);
    snprintf(k->pin, sizeof k->pin, "%s", "1234");
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), 0);
    snprintf(k->pin, sizeof k->pin, "%s", "9999");
    EXPECT_EQ(tutil_skf_verifyPin(k, &retry), TUTIL_SKF_ERR_PIN);
    EXPECT_EQ(retry, 2);
}

TEST_F(SkfTest, PinCheckArguments) {
    standardToken();
    tutil_skf_key *k = key("R1");
    ASSERT_TRUE(k);
    EXPECT_EQ(tutil_skf_verifyPin(nullptr, nullptr), -10002);
    EXPECT_EQ(tutil_skf_verifyPin(k, nullptr), -10002);  // empty PIN
}

TEST_F(SkfTest, SigningWithoutVerifiedPinIsRefused) {
    standardToken();
    for (const char *con : {"R1", "S1"}) {
        SCOPED_TRACE(con);
        tutil_skf_key *k = key(con);
        ASSERT_TRUE(k);
        unsigned char sig[1024];
        EXPECT_EQ(tutil_skf_sign(k, msg(), msgLen(), k->conType == 1 ? 103 : 110, sig),
                  TUTIL_SKF_ERR_NOT_LOGGED_IN);
        EXPECT_TRUE(!k->hDev && !k->hApp && !k->hCon);
    }
    EXPECT_TRUE(logged("skf_rsaSignData R1 failed  a00002d")) << logText();
    EXPECT_TRUE(logged("skf_eccSignData S1 failed  a00002d")) << logText();
}

// ---- signing ---------------------------------------------------------------

TEST_F(SkfTest, SigningTwiceOpensTheKeyOnce) {
    standardToken();
    tutil_skf_key *k = key("R1");
    ASSERT_TRUE(k);
    snprintf(k->pin, sizeof k->pin, "%s", "1234");
    unsigned char sig[1024];
    ASSERT_EQ(tutil_skf_sign(k, msg(), msgLen(), 103, sig), 256) << logText();
    void *dev = k->hDev, *app = k->hApp, *con = k->hCon;
    ASSERT_TRUE(dev && app && con);
    ASSERT_EQ(tutil_skf_sign(k, msg(), msgLen(), 103, sig), 256) << logText();
    EXPECT_EQ(k->hDev, dev);
    EXPECT_EQ(k->hApp, app);
    EXPECT_EQ(k->hCon, con);
    EXPECT_EQ(tutil_skf_close(k), 0);
    EXPECT_TRUE(!k->hDev && !k->hApp && !k->hCon);
}

// Every digest id gives a signature over that very digest: 102 and 103 are
// digested on the device, 101, 104 and 105 by the adapter. The openssl CLI
// checks each against the certificate's key.
TEST_F(SkfTest, RsaSignaturesVerifyWithTheNamedDigest) {
    standardToken();
    tutil_skf_key *k = key("R2");
    ASSERT_TRUE(k);
    snprintf(k->pin, sizeof k->pin, "%s", "5678");
    std::string dir = home();
    writeFile(dir + "/cert.der", bytes(k->cert, k->certLen));
    writeFile(dir + "/msg", kMessage);
    ASSERT_EQ(sealdesk_test::opensslPublicKeyOf(dir + "/cert.der", dir + "/pub.pem", true), 0);

    struct Case {
        int kid;
        const char *md;
    } cases[] = {{102, "sha1"}, {103, "sha256"}, {105, "sha384"}, {104, "sha512"}, {101, "md5"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.md);
        unsigned char sig[1024];
        int n = tutil_skf_sign(k, msg(), msgLen(), c.kid, sig);
        ASSERT_EQ(n, 256) << logText();
        writeFile(dir + "/sig", bytes(sig, n));
        std::string out;
        EXPECT_TRUE(sealdesk_test::opensslVerifies(c.md, dir + "/pub.pem", dir + "/sig", dir + "/msg", &out))
            << out;
    }

    // A ready digest is signed as it is.
    unsigned char digest[32];
    unsigned int dlen = 0;
    ASSERT_EQ(EVP_Digest(msg(), kMessage.size(), digest, &dlen, EVP_sha256(), nullptr), 1);
    unsigned char sig[1024];
    int n = tutil_skf_signHash(k, digest, static_cast<int>(dlen), 103, sig);
    ASSERT_EQ(n, 256) << logText();
    writeFile(dir + "/sig", bytes(sig, n));
    std::string out;
    EXPECT_TRUE(sealdesk_test::opensslVerifies("sha256", dir + "/pub.pem", dir + "/sig", dir + "/msg", &out))
        << out;
}

// SM2: the device hashes Z (public key, default ID) and the message with
// SM3 and signs; the adapter writes DER. Over enough signatures r and s
// take both high-bit states, giving 70, 71 and 72 octets.
TEST_F(SkfTest, Sm2SignaturesAreDerAndVerifyWithTheDefaultId) {
    standardToken();
    tutil_skf_key *k = key("S1");
    ASSERT_TRUE(k);
    snprintf(k->pin, sizeof k->pin, "%s", "1234");
    std::set<int> lengths;
    for (int i = 0; i < 200 && lengths.size() < 3; i++) {
        unsigned char sig[72];
        int n = tutil_skf_sign(k, msg(), msgLen(), 110, sig);
        ASSERT_GE(n, 8) << logText();
        ASSERT_LE(n, 72);
        ASSERT_EQ(sig[0], 0x30);
        ASSERT_EQ(sig[1], n - 2);
        EXPECT_TRUE(sm2Verify(k, sig, static_cast<size_t>(n))) << "signature " << i;
        // Both integers positive and minimal, as OpenSSL re-encodes them.
        const unsigned char *p = sig;
        ECDSA_SIG *es = d2i_ECDSA_SIG(nullptr, &p, n);
        ASSERT_TRUE(es);
        unsigned char *again = nullptr;
        int m = i2d_ECDSA_SIG(es, &again);
        EXPECT_EQ(bytes(again, m), bytes(sig, n));
        OPENSSL_free(again);
        ECDSA_SIG_free(es);
        // The DER length follows the high bits of r and s (values without a
        // leading zero octet, the common case, are 32 octets long).
        int rlen = sig[3], slen = sig[4 + rlen + 1];
        ASSERT_EQ(n, 6 + rlen + slen);
        if (rlen >= 32 && slen >= 32) {
            EXPECT_EQ(rlen == 33, sig[4] == 0x00 && sig[5] >= 0x80);
            EXPECT_EQ(n, 70 + (rlen == 33) + (slen == 33));
            lengths.insert(n);
        }
    }
    EXPECT_EQ(lengths, (std::set<int>{70, 71, 72}));
}

TEST_F(SkfTest, SignArgumentsAndRecordChecks) {
    standardToken();
    tutil_skf_key *k = key("R1");
    ASSERT_TRUE(k);
    unsigned char sig[1024];
    EXPECT_EQ(tutil_skf_sign(nullptr, msg(), 1, 102, sig), -10002);
    EXPECT_EQ(tutil_skf_sign(k, nullptr, 1, 102, sig), -10002);
    EXPECT_EQ(tutil_skf_sign(k, msg(), 0, 102, sig), -10002);
    EXPECT_EQ(tutil_skf_sign(k, msg(), 1, 102, nullptr), -10002);
    EXPECT_EQ(tutil_skf_signHash(k, msg(), -1, 102, sig), -10002);

    tutil_skf_key bad = *k;
    bad.conType = 3;
    EXPECT_EQ(tutil_skf_open(&bad), TUTIL_SKF_ERR_CON_TYPE);
    bad = *k;
    bad.certLen = 0;
    EXPECT_EQ(tutil_skf_open(&bad), TUTIL_SKF_ERR_KEY);
    bad = *k;
    bad.appName[0] = '\0';
    EXPECT_EQ(tutil_skf_open(&bad), TUTIL_SKF_ERR_KEY);
    bad = *k;
    bad.driverId = 4242;
    EXPECT_EQ(tutil_skf_open(&bad), TUTIL_SKF_ERR_NO_DRIVER);
    EXPECT_EQ(tutil_skf_sign(&bad, msg(), 1, 102, sig), TUTIL_SKF_ERR_NO_DRIVER);

    // Where the key lived is gone: each level fails with its own code.
    struct Case {
        const char *dev, *app, *con;
        int code;
    } cases[] = {{"D9", "A1", "R1", TUTIL_SKF_ERR_CONNECT},
                 {"D1", "A9", "R1", TUTIL_SKF_ERR_OPEN_APP},
                 {"D1", "A1", "R9", TUTIL_SKF_ERR_OPEN_CON}};
    for (const auto &c : cases) {
        bad = *k;
        snprintf(bad.devName, sizeof bad.devName, "%s", c.dev);
        snprintf(bad.appName, sizeof bad.appName, "%s", c.app);
        snprintf(bad.conName, sizeof bad.conName, "%s", c.con);
        EXPECT_EQ(tutil_skf_open(&bad), c.code) << c.dev << "/" << c.app << "/" << c.con;
        EXPECT_TRUE(!bad.hDev && !bad.hApp && !bad.hCon);
    }
    EXPECT_TRUE(logged("skf_openContainer R9 failed")) << logText();
}

TEST_F(SkfTest, PulledOutDeviceFailsTheOpenKey) {
    standardToken();
    tutil_skf_key *k = key("R2");
    ASSERT_TRUE(k);
    snprintf(k->pin, sizeof k->pin, "%s", "5678");
    unsigned char sig[1024];
    ASSERT_EQ(tutil_skf_sign(k, msg(), msgLen(), 102, sig), 256);
    tool("absent D2");
    EXPECT_EQ(tutil_skf_sign(k, msg(), msgLen(), 102, sig), TUTIL_SKF_ERR_PIN);
    EXPECT_TRUE(!k->hDev && !k->hApp && !k->hCon);
    EXPECT_EQ(tutil_skf_sign(k, msg(), msgLen(), 102, sig), TUTIL_SKF_ERR_CONNECT);
    tool("present D2");
    EXPECT_EQ(tutil_skf_sign(k, msg(), msgLen(), 102, sig), 256);
}

TEST_F(SkfTest, ReleaseDropsReferencesThenFrees) {
    standardToken();
    tutil_skf_key *k = key("S1");
    ASSERT_TRUE(k);
    snprintf(k->pin, sizeof k->pin, "%s", "1234");
    unsigned char sig[72];
    ASSERT_GT(tutil_skf_sign(k, msg(), msgLen(), 110, sig), 0);
    k->refCount = 1;        // a second holder
    tcore_list_free(list_);  // the list lets go: the record lives on
    list_ = nullptr;
    EXPECT_EQ(k->refCount, 0);
    EXPECT_TRUE(k->hCon != nullptr);
    ASSERT_GT(tutil_skf_sign(k, msg(), msgLen(), 110, sig), 0);
    tutil_skf_release(k);    // the last holder: closed and freed (the leak check sees it)
    tutil_skf_release(nullptr);
}
