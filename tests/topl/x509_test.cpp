#include "cert_fixture.h"
#include "sm2_helpers.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_time.h"
#include "topl/topl_errors.h"
#include "topl/topl_sm2.h"
#include "topl/topl_x509.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using cert_fixture::Keys;
using cert_fixture::pemBody;
using cert_fixture::pemToDer;
using cert_fixture::sh;
using sealdesk_test::readFile;
using sealdesk_test::writeFile;

std::vector<std::string> g_log;
void capture(const char *text) { g_log.emplace_back(text); }

X509 *load(const std::string &s) { return topl_x509cert_load(s.data(), static_cast<int>(s.size())); }

class X509Helpers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        keys_ = new Keys();
        ASSERT_EQ(topl_sm2_init(), 0);
    }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }
    void SetUp() override {
        g_log.clear();
        tcore_log_sink = capture;
    }
    void TearDown() override {
        tcore_log_sink = nullptr;
        ERR_clear_error();
    }
    static EVP_PKEY *privateKey(const std::string &name) {
        return sealdesk_test::readPrivateKey(keys_->path(name)).release();
    }
    static Keys *keys_;
};
Keys *X509Helpers::keys_ = nullptr;

TEST_F(X509Helpers, LoadsDerBase64AndPemAlike) {
    std::string pem = keys_->cert("rsa.pem", "-addext keyUsage=digitalSignature");
    std::string der = pemToDer(pem);
    X509 *a = load(der), *b = load(pemBody(pem)), *c = load(pem);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(X509_cmp(a, b), 0);
    EXPECT_EQ(X509_cmp(a, c), 0);
    // Prepared: the application data holds the thumbprint hash.
    unsigned char sha1[20];
    unsigned int n;
    X509_digest(a, EVP_sha1(), sha1, &n);
    uint32_t h = 0;
    for (unsigned char o : sha1) h = h * 31 + o;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(X509_get_ex_data(a, 0)), h);
    X509_free(a);
    X509_free(b);
    X509_free(c);

    std::string body = pemBody(pem);
    struct Case {
        const char *what;
        std::string text;
    } bad[] = {{"empty", ""},
               {"one character", "M"},
               {"base64 with junk", body.substr(0, 40) + "*&^%" + body.substr(44)},
               {"truncated DER", der.substr(0, der.size() / 2)},
               {"PEM without end marker", pem.substr(0, pem.find("-----END"))},
               {"text", "hello, world"}};
    for (const auto &c : bad) EXPECT_EQ(load(c.text), nullptr) << c.what;
    bool logged = false;
    for (const auto &l : g_log)
        if (l.find("tcore_base64_decode failed -110004") != std::string::npos) logged = true;
    EXPECT_TRUE(logged);
    EXPECT_EQ(topl_x509cert_load(nullptr, 10), nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
    EXPECT_EQ(topl_x509cert_init(nullptr), TCORE_ERR_ARG);
}

TEST_F(X509Helpers, ClassifiesKeys) {
    const std::string ext = "-addext basicConstraints=CA:FALSE";
    X509 *rsa = load(keys_->cert("rsa.pem", ext));
    X509 *sm2 = load(keys_->cert("sm2.pem", ext));
    X509 *p256 = load(keys_->cert("p256.pem", ext));
    ASSERT_TRUE(rsa && sm2 && p256);
    EXPECT_EQ(topl_x509cert_isRsa(rsa), 1);
    EXPECT_EQ(topl_x509cert_isSm2(rsa), 0);
    EXPECT_EQ(topl_x509cert_isRsa(sm2), 0);
    EXPECT_EQ(topl_x509cert_isSm2(sm2), 1);
    EXPECT_EQ(topl_x509cert_isSm2(p256), 1);  // any EC certificate counts as SM2 ...
    EVP_PKEY *k = topl_key_new_fromCert(p256);
    EXPECT_EQ(k, nullptr);                    // ... but its key is not on the SM2 curve
    EXPECT_EQ(topl_x509cert_isRsa(nullptr), 0);
    X509_free(rsa);
    X509_free(sm2);
    X509_free(p256);
}

TEST(Asn1Time, UtcAndGeneralizedTimes) {
    struct Case {
        int type;
        const char *text;
        int rc;
        int year, mon, mday, hour, min, sec;  // year as 4 digits, mon 1-12
    } cases[] = {
        {V_ASN1_UTCTIME, "491231235959Z", 0, 2049, 12, 31, 23, 59, 59},
        {V_ASN1_UTCTIME, "500101000000Z", 0, 1950, 1, 1, 0, 0, 0},
        {V_ASN1_UTCTIME, "0001011200Z", 0, 2000, 1, 1, 12, 0, 0},
        {V_ASN1_UTCTIME, "0001011200", -1, 0, 0, 0, 0, 0, 0},           // no end
        {V_ASN1_UTCTIME, "000101120000", -1, 0, 0, 0, 0, 0, 0},         // seconds, no end
        {V_ASN1_GENERALIZEDTIME, "20491231235959Z", 0, 2049, 12, 31, 23, 59, 59},
        {V_ASN1_GENERALIZEDTIME, "204912312359Z", 0, 2049, 12, 31, 23, 59, 0},
        {V_ASN1_GENERALIZEDTIME, "2049123123Z", -1, 0, 0, 0, 0, 0, 0},  // too short
        {V_ASN1_UTCTIME, "200101000000+0000", 0, 2020, 1, 1, 0, 0, 0},
        {V_ASN1_UTCTIME, "200101000000+0130", 0, 2019, 12, 31, 22, 30, 0},  // offsets move to UTC
        {V_ASN1_UTCTIME, "200101000000-0800", 0, 2020, 1, 1, 8, 0, 0},
        {V_ASN1_UTCTIME, "200101000000+01", -1, 0, 0, 0, 0, 0, 0},     // short offset
        {V_ASN1_UTCTIME, "200101000000X", -1, 0, 0, 0, 0, 0, 0},
        {V_ASN1_UTCTIME, "2001010000", -1, 0, 0, 0, 0, 0, 0},          // 10 characters
        {V_ASN1_OCTET_STRING, "200101000000Z", -1, 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        ASN1_STRING *t = ASN1_STRING_type_new(c.type);
        ASN1_STRING_set(t, c.text, static_cast<int>(strlen(c.text)));
        struct tm tm;
        memset(&tm, 0x55, sizeof tm);
        EXPECT_EQ(topl_asn1time_toTm(t, &tm), c.rc) << c.text;
        if (c.rc == 0) {
            EXPECT_EQ(tm.tm_year + 1900, c.year) << c.text;
            EXPECT_EQ(tm.tm_mon + 1, c.mon) << c.text;
            EXPECT_EQ(tm.tm_mday, c.mday) << c.text;
            EXPECT_EQ(tm.tm_hour, c.hour) << c.text;
            EXPECT_EQ(tm.tm_min, c.min) << c.text;
            EXPECT_EQ(tm.tm_sec, c.sec) << c.text;
            EXPECT_EQ(tm.tm_yday, 0);
            EXPECT_EQ(tm.tm_isdst, 0);
        }
        ASN1_STRING_free(t);
    }
    struct tm tm;
    EXPECT_EQ(topl_asn1time_toTm(nullptr, &tm), -1);
}

// A certificate made through OpenSSL with validity relative to now.
X509 *certValid(EVP_PKEY *key, long notBeforeOffset, long notAfterOffset) {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    X509_set_pubkey(x, key);
    X509_gmtime_adj(X509_getm_notBefore(x), notBeforeOffset);
    X509_gmtime_adj(X509_getm_notAfter(x), notAfterOffset);
    return x;
}

TEST_F(X509Helpers, ValidityWithTolerance) {
    EVP_PKEY *key = privateKey("rsa.pem");
    struct Case {
        long nb, na;
        int64_t tolerance;
        int valid;
    } cases[] = {
        {-3600, 3600, 0, 1},
        {-3600, -290, 300, 1},   // expired 290 s ago: still inside the tolerance
        {-3600, -310, 300, 0},   // expired 310 s ago
        {-3600, -10, 0, 0},
        {290, 3600, 300, 1},     // starts in 290 s
        {310, 3600, 300, 0},
        {310, 3600, 0, 0},
    };
    for (const auto &c : cases) {
        X509 *x = certValid(key, c.nb, c.na);
        EXPECT_EQ(topl_x509cert_checkValidity(x, c.tolerance), c.valid) << c.nb << " " << c.na << " " << c.tolerance;
        X509_free(x);
    }
    EXPECT_EQ(topl_x509cert_checkValidity(nullptr, 300), 0);
    EVP_PKEY_free(key);
}

TEST_F(X509Helpers, ValidityAsLocalTime) {
    EVP_PKEY *key = privateKey("rsa.pem");
    X509 *x = certValid(key, 0, 0);
    ASN1_TIME_set_string(X509_getm_notBefore(x), "160503000000Z");
    ASN1_TIME_set_string(X509_getm_notAfter(x), "20491231235959Z");
    const char *oldTz = getenv("TZ");
    std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "CST-8", 1);  // eight hours east of UTC, no daylight saving
    tzset();
    struct tm nb, na;
    EXPECT_EQ(topl_x509cert_getValidity(x, &nb, &na), 0);
    EXPECT_EQ(nb.tm_year + 1900, 2016);
    EXPECT_EQ(nb.tm_mon + 1, 5);
    EXPECT_EQ(nb.tm_mday, 3);
    EXPECT_EQ(nb.tm_hour, 8);
    EXPECT_EQ(na.tm_year + 1900, 2050);
    EXPECT_EQ(na.tm_mon, 0);
    EXPECT_EQ(na.tm_mday, 1);
    EXPECT_EQ(na.tm_hour, 7);
    EXPECT_EQ(na.tm_min, 59);
    // The check does not depend on the zone.
    EXPECT_EQ(topl_x509cert_checkValidity(x, 0), 1);
    if (oldTz) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();

    EXPECT_EQ(topl_x509cert_getValidity(nullptr, &nb, &na), TCORE_ERR_ARG);
    EXPECT_EQ(topl_x509cert_getValidity(x, nullptr, &na), TOPL_ERR_VALIDITY_TIME);
    X509_free(x);
    EVP_PKEY_free(key);

    tcore_systemtime st;
    struct tm in = {}, back;
    in.tm_year = 116;
    in.tm_mon = 4;
    in.tm_mday = 3;
    in.tm_hour = 8;
    in.tm_wday = 2;
    tcore_time_tmToSystemTime(&in, &st);
    EXPECT_EQ(st.year, 2016);
    EXPECT_EQ(st.month, 5);
    EXPECT_EQ(st.dayOfWeek, 2);
    tcore_time_systemTimeToTm(&st, &back);
    EXPECT_EQ(back.tm_year, 116);
    EXPECT_EQ(back.tm_mon, 4);
    EXPECT_EQ(tcore_time_utcToLocal(nullptr, &back), -1);
}

TEST_F(X509Helpers, KeyUsageOctets) {
    struct Case {
        const char *addext;
        int rc;
        unsigned char first, second;
    } cases[] = {
        {"-addext keyUsage=digitalSignature,nonRepudiation", 1, 0xC0, 0},
        {"-addext keyUsage=digitalSignature,decipherOnly,keyAgreement", 2, 0x88, 0x80},
        {"-addext keyUsage=keyCertSign", 1, 0x04, 0},
        {"-addext basicConstraints=CA:FALSE", TOPL_ERR_KEYUSAGE, 0, 0},
    };
    for (const auto &c : cases) {
        X509 *x = load(keys_->cert("rsa.pem", c.addext));
        ASSERT_NE(x, nullptr);
        unsigned char out[2] = {0xEE, 0xEE};
        EXPECT_EQ(topl_x509cert_getKeyUsage(x, out), c.rc) << c.addext;
        if (c.rc > 0) {
            EXPECT_EQ(out[0], c.first) << c.addext;
        }
        if (c.rc > 1) {
            EXPECT_EQ(out[1], c.second) << c.addext;
        }
        X509_free(x);
    }
    unsigned char out[2];
    EXPECT_EQ(topl_x509cert_getKeyUsage(nullptr, out), TCORE_ERR_ARG);
}

TEST_F(X509Helpers, VerifiesWithTheCertificatesKey) {
    const std::string ext = "-addext keyUsage=digitalSignature";
    writeFile(keys_->path("data"), "certificate verification data");
    const std::string data = readFile(keys_->path("data"));
    const auto *d = reinterpret_cast<const unsigned char *>(data.data());
    const int nd = static_cast<int>(data.size());

    X509 *rsa = load(keys_->cert("rsa.pem", ext));
    sh("cd " + keys_->dir() + " && openssl dgst -sha256 -sign rsa.pem -out sig data");
    std::string sig = readFile(keys_->path("sig"));
    const auto *s = reinterpret_cast<const unsigned char *>(sig.data());
    int kid = 0;
    EXPECT_EQ(topl_x509cert_verify(rsa, nullptr, &kid, d, nd, s, static_cast<int>(sig.size())), 0);
    EXPECT_EQ(kid, 103);
    kid = 102;
    EXPECT_EQ(topl_x509cert_verify(rsa, nullptr, &kid, d, nd, s, static_cast<int>(sig.size())), TOPL_ERR_DIGEST_MISMATCH);

    // SM2: signed with the openssl CLI and the default ID set explicitly.
    X509 *sm2 = load(keys_->cert("sm2.pem", ext));
    sh("cd " + keys_->dir() + " && openssl dgst -sm3 -sign sm2.pem -sigopt distid:1234567812345678 -out sig2 data");
    std::string sig2 = readFile(keys_->path("sig2"));
    const auto *s2 = reinterpret_cast<const unsigned char *>(sig2.data());
    EXPECT_EQ(topl_x509cert_verify(sm2, nullptr, nullptr, d, nd, s2, static_cast<int>(sig2.size())), 0);
    const char *defaultId = "1234567812345678";
    topl_sm2_userid id = {reinterpret_cast<const unsigned char *>(defaultId), 16};
    EXPECT_EQ(topl_x509cert_verify(sm2, &id, nullptr, d, nd, s2, static_cast<int>(sig2.size())), 0);
    topl_sm2_userid other = {reinterpret_cast<const unsigned char *>("someone else"), 12};
    EXPECT_EQ(topl_x509cert_verify(sm2, &other, nullptr, d, nd, s2, static_cast<int>(sig2.size())), TOPL_ERR_SM2_VERIFY);
    EXPECT_EQ(topl_x509cert_verify(rsa, nullptr, nullptr, d, nd, s2, static_cast<int>(sig2.size())), TOPL_ERR_RSA_SIG_LEN);

    // Keys that are neither RSA nor on the SM2 curve.
    X509 *p256 = load(keys_->cert("p256.pem", ext));
    EXPECT_EQ(topl_x509cert_verify(p256, nullptr, nullptr, d, nd, s2, static_cast<int>(sig2.size())), TOPL_ERR_NO_PUBKEY);
    sh("cd " + keys_->dir() + " && openssl genpkey -algorithm ED25519 -out ed.pem");
    X509 *ed = load(keys_->cert("ed.pem", ext));
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(topl_x509cert_verify(ed, nullptr, nullptr, d, nd, s2, static_cast<int>(sig2.size())), TOPL_ERR_NO_PUBKEY);
    EXPECT_EQ(topl_x509cert_verify(nullptr, nullptr, nullptr, d, nd, s2, 10), TOPL_ERR_NO_PUBKEY);
    for (X509 *x : {rsa, sm2, p256, ed}) X509_free(x);
}

TEST(Keystore, ClearAndFree) {
    topl_keystore *ks = topl_keystore_new();
    ks->pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    ks->pCert = X509_new();
    ks->pData = static_cast<unsigned char *>(malloc(8));
    ks->nData = 8;
    ks->pExtra = static_cast<unsigned char *>(malloc(8));
    topl_keystore_clear(ks);
    EXPECT_EQ(ks->pKey, nullptr);
    EXPECT_EQ(ks->pCert, nullptr);
    EXPECT_EQ(ks->pData, nullptr);
    EXPECT_EQ(ks->nData, 0);
    topl_keystore_clear(ks);  // twice is fine
    ks->pCert = X509_new();
    topl_keystore_free(ks);   // frees what is left (the sanitizer build checks for leaks)
    topl_keystore_free(nullptr);
    topl_keystore_clear(nullptr);
}

}  // namespace
