// The engine's key-less operations against OpenSSL as the independent
// peer: digests, raw and PKCS#7 verification with the signer certificate's
// validity and key usage, certificate attributes and PKCS#7 extraction.
#include "sealdesk_certgen.h"
#include "sealdesk_test.h"

#include "tcore/tcore_base64.h"
#include "tasn1/tasn1_p7sign.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_sm2.h"
#include "zeb_acx_hash.h"
#include "zeb_acx_verify.h"

#include <openssl/cms.h>
#include <openssl/err.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The SM2 curve is built once per process, as the server does at start-up.
class Sm2Curve : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(topl_sm2_init(), 0); }
};
const auto *const kSm2Curve = ::testing::AddGlobalTestEnvironment(new Sm2Curve);

using Bytes = std::vector<unsigned char>;
using sealdesk_test::CertSpec;

Bytes bytesOf(const std::string &s) { return Bytes(s.begin(), s.end()); }

std::string b64(const Bytes &b) {
    std::string out((b.size() + 2) / 3 * 4 + 1, '\0');
    int n = tcore_base64_encode(out.data(), reinterpret_cast<const char *>(b.data()), static_cast<int>(b.size()),
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

Bytes opensslDigest(const EVP_MD *md, const Bytes &data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

// Signature over data: RSA PKCS#1 v1.5 with md, or SM2 with SM3 and the
// default user ID (md ignored), as DER.
Bytes sign(EVP_PKEY *key, const EVP_MD *md, const Bytes &data) {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = nullptr;
    if (EVP_PKEY_is_a(key, "SM2")) {
        pctx = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16);
        EVP_MD_CTX_set_pkey_ctx(ctx, pctx);
        md = EVP_sm3();
    }
    Bytes sig;
    size_t n = 0;
    if (EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
        EVP_DigestSign(ctx, nullptr, &n, data.data(), data.size()) == 1) {
        sig.resize(n);
        if (EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size()) == 1) sig.resize(n);
        else sig.clear();
    }
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_CTX_free(pctx);
    return sig;
}

// A signer: key and self-signed certificate (base64 text of the DER).
struct Signer {
    explicit Signer(bool sm2 = false, CertSpec certSpec = CertSpec())
        : key(sm2 ? sealdesk_test::ecKey("SM2") : sealdesk_test::rsaKey(2048)),
          der(sealdesk_test::makeCert(key.get(), certSpec)),
          text(b64(Bytes(der.begin(), der.end()))) {}
    sealdesk_test::Pkey key;
    std::vector<uint8_t> der;
    std::string text;
};

int verify(const Signer &s, const Bytes &data, const Bytes &sig) {
    return zeb_acx_verify(s.text.c_str(), static_cast<int>(s.text.size()), data.data(), static_cast<int>(data.size()),
                          sig.data(), static_cast<int>(sig.size()));
}

// PKCS#7 made by OpenSSL's CMS code (signed attributes included), as base64.
std::string cmsSign(const Signer &s, const Bytes &content, bool detached, bool withCert = true) {
    const unsigned char *p = s.der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(s.der.size()));
    BIO *in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    unsigned flags = CMS_BINARY | (detached ? CMS_DETACHED : 0u) | (withCert ? 0u : CMS_NOCERTS);
    CMS_ContentInfo *cms = CMS_sign(x, s.key.get(), nullptr, in, flags);
    std::string out;
    if (cms) {
        unsigned char *der = nullptr;
        int n = i2d_CMS_ContentInfo(cms, &der);
        if (n > 0) out = b64(Bytes(der, der + n));
        OPENSSL_free(der);
    }
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    X509_free(x);
    return out;
}

int p7verify(const std::string &p7, const Bytes &content, bool detached) {
    auto f = detached ? zeb_acx_p7verifyDetached : zeb_acx_p7verify;
    return f(p7.c_str(), static_cast<int>(p7.size()), content.empty() ? nullptr : content.data(),
             static_cast<int>(content.size()));
}

// ---- digests -------------------------------------------------------------

TEST(KeylessEngine, DigestNames) {
    struct Case {
        const char *name;
        int id;
    } cases[] = {
        {"MD5", 101},    {"sha1", 102},   {"Sha256", 103},    {"SHA512", 104}, {"sha384", 105},
        {"sm3", 110},    {"SHA-256", -2035}, {"SHA2", -2035}, {"SM3 ", -2035}, {"", -1001},
        {nullptr, -1001},
    };
    for (const Case &c : cases) EXPECT_EQ(zeb_acx_setSignHashAlg(c.name), c.id) << (c.name ? c.name : "(null)");
}

class KeylessHash : public sealdesk_test::HomeTest {};

TEST_F(KeylessHash, DataDigestsEqualOpenSSL) {
    struct Case {
        int kid;
        const EVP_MD *md;
    } cases[] = {{101, EVP_md5()}, {102, EVP_sha1()}, {103, EVP_sha256()},
                 {104, EVP_sha512()}, {105, EVP_sha384()}, {110, EVP_sm3()}};
    Bytes data = bytesOf(std::string("binary\0data ", 12) + std::string(3000, 'x'));
    for (const Case &c : cases) {
        char out[ZEB_ACX_HASH_OUT_SIZE];
        std::string want = b64(opensslDigest(c.md, data));
        EXPECT_EQ(zeb_acx_hash(data.data(), static_cast<int>(data.size()), c.kid, out), static_cast<int>(want.size()))
            << c.kid;
        EXPECT_EQ(std::string(out), want) << c.kid;
    }
}

TEST_F(KeylessHash, Sm3ExampleAndEmptyMessage) {
    char out[ZEB_ACX_HASH_OUT_SIZE];
    // The standard's example: SM3("abc") = 66c7f0f4 62eeedd9 ...
    EXPECT_EQ(zeb_acx_hash(reinterpret_cast<const unsigned char *>("abc"), 3, 110, out), 44);
    EXPECT_STREQ(out, "Zsfw9GLu7dnR8tRr3BDk4kFnxIdc8veiKX2gK49LqOA=");
    EXPECT_EQ(zeb_acx_hash(reinterpret_cast<const unsigned char *>(""), 0, 110, out), 44);
    EXPECT_EQ(std::string(out), b64(opensslDigest(EVP_sm3(), {})));
    // Other ids read a length of 0 as "up to the NUL".
    EXPECT_EQ(zeb_acx_hash(reinterpret_cast<const unsigned char *>("abc\0def"), 0, 102, out), 28);
    EXPECT_EQ(std::string(out), b64(opensslDigest(EVP_sha1(), bytesOf("abc"))));
    EXPECT_EQ(zeb_acx_hash(nullptr, 3, 102, out), ZEB_ACX_ERR_ARG);
}

TEST_F(KeylessHash, FileDigestRawAndBase64) {
    std::string path = home() + "/data.bin";
    std::string content(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < content.size(); i++) content[i] = static_cast<char>(i * 131 + 7);
    sealdesk_test::writeFile(path, content);
    Bytes want = opensslDigest(EVP_sha256(), bytesOf(content));

    unsigned char out[ZEB_ACX_HASH_OUT_SIZE];
    memset(out, 0xAA, sizeof out);
    ASSERT_EQ(zeb_acx_hash_file(path.c_str(), out, 103, 0), 32);
    EXPECT_EQ(Bytes(out, out + 32), want);
    EXPECT_EQ(out[32], 0);  // zeroed behind the digest
    EXPECT_EQ(out[sizeof out - 1], 0);

    ASSERT_EQ(zeb_acx_hash_file(path.c_str(), out, 103, 1), 44);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out)), b64(want));
    ASSERT_EQ(zeb_acx_hash_file(path.c_str(), out, 110, 1), 44);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out)), b64(opensslDigest(EVP_sm3(), bytesOf(content))));
}

TEST_F(KeylessHash, UnreadableFilesGive1013) {
    std::string empty = home() + "/empty", locked = home() + "/locked";
    sealdesk_test::writeFile(empty, "");
    sealdesk_test::writeFile(locked, "secret");
    chmod(locked.c_str(), 0);
    std::vector<std::string> paths = {empty, home() + "/missing", home(), ""};
    if (geteuid() != 0) paths.push_back(locked);  // root reads it anyway
    unsigned char out[ZEB_ACX_HASH_OUT_SIZE];
    for (const std::string &p : paths) {
        EXPECT_EQ(zeb_acx_hash_file(p.c_str(), out, 102, 1), ZEB_ACX_ERR_FILE_READ) << p;
        EXPECT_EQ(zeb_acx_hash_file(p.c_str(), out, 110, 0), ZEB_ACX_ERR_FILE_READ) << p;
    }
    EXPECT_EQ(zeb_acx_hash_file(nullptr, out, 102, 1), ZEB_ACX_ERR_ARG);
}

// ---- raw verification ------------------------------------------------------

TEST(KeylessVerify, RsaAndSm2SignaturesMadeByOpenSSL) {
    Bytes data = bytesOf("the data that was signed");
    Signer rsa, sm2(true);
    EXPECT_EQ(verify(rsa, data, sign(rsa.key.get(), EVP_sha1(), data)), 0);
    EXPECT_EQ(verify(rsa, data, sign(rsa.key.get(), EVP_sha256(), data)), 0);
    EXPECT_EQ(verify(rsa, data, sign(rsa.key.get(), EVP_sha512(), data)), 0);
    EXPECT_EQ(verify(sm2, data, sign(sm2.key.get(), nullptr, data)), 0);

    Bytes changed = data;
    changed[3] ^= 1;
    EXPECT_LT(verify(rsa, changed, sign(rsa.key.get(), EVP_sha256(), data)), 0);
    EXPECT_LT(verify(sm2, changed, sign(sm2.key.get(), nullptr, data)), 0);
    // Another signer's certificate
    Signer other;
    EXPECT_LT(verify(other, data, sign(rsa.key.get(), EVP_sha256(), data)), 0);
}

TEST(KeylessVerify, SignerCertificateValidityAndKeyUsage) {
    Bytes data = bytesOf("validity");
    struct Case {
        const char *what;
        long notBefore, notAfter;
        const char *keyUsage;
        int want;
    } cases[] = {
        {"valid", -3600, 3600, "digitalSignature", 0},
        {"expired 200 s ago", -7200, -200, "digitalSignature", 0},
        {"expired 400 s ago", -7200, -400, "digitalSignature", ZEB_ACX_ERR_CERT_VALIDITY},
        {"valid in 200 s", 200, 7200, "digitalSignature", 0},
        {"valid in 400 s", 400, 7200, "digitalSignature", ZEB_ACX_ERR_CERT_VALIDITY},
        {"no keyUsage", -3600, 3600, nullptr, ZEB_ACX_ERR_CERT_USAGE},
        {"encryption only", -3600, 3600, "keyEncipherment,dataEncipherment", ZEB_ACX_ERR_CERT_USAGE},
        {"nonRepudiation", -3600, 3600, "nonRepudiation", 0},
        {"expired and no keyUsage", -7200, -400, nullptr, ZEB_ACX_ERR_CERT_VALIDITY},
    };
    for (const Case &c : cases) {
        CertSpec certSpec;
        certSpec.notBeforeOffset = c.notBefore;
        certSpec.notAfterOffset = c.notAfter;
        certSpec.keyUsage = c.keyUsage;
        Signer s(true, certSpec);  // SM2 keys: quick to make
        EXPECT_EQ(verify(s, data, sign(s.key.get(), nullptr, data)), c.want) << c.what;
    }
    // The signature is checked first: a bad one on an expired certificate
    // reports the signature's code.
    CertSpec expired;
    expired.notAfterOffset = -3600;
    expired.notBeforeOffset = -7200;
    Signer s(false, expired);
    Bytes sig = sign(s.key.get(), EVP_sha256(), data);
    sig[10] ^= 1;
    int rc = verify(s, data, sig);
    EXPECT_LT(rc, 0);
    EXPECT_NE(rc, ZEB_ACX_ERR_CERT_VALIDITY);
}

TEST(KeylessVerify, CertificatesThatDoNotLoad) {
    Signer s;
    Bytes data = bytesOf("x");
    Bytes sig = sign(s.key.get(), EVP_sha256(), data);
    std::string cut = s.text.substr(0, s.text.size() / 2);
    for (const std::string &cert : {std::string("MIIBnotbase64!!"), cut, std::string("random text"), std::string("")}) {
        EXPECT_EQ(zeb_acx_verify(cert.c_str(), static_cast<int>(cert.size()), data.data(), 1, sig.data(),
                                 static_cast<int>(sig.size())),
                  ZEB_ACX_ERR_NO_CERT)
            << cert;
    }
    EXPECT_EQ(zeb_acx_verify(nullptr, 0, data.data(), 1, sig.data(), static_cast<int>(sig.size())),
              ZEB_ACX_ERR_NO_CERT);
}

// ---- PKCS#7 ---------------------------------------------------------------

TEST(KeylessP7, VerifyInTheRightModeOnly) {
    Bytes content = bytesOf("content of the message");
    for (bool sm2 : {false}) {  // OpenSSL's CMS code signs no SM2; see OwnEncoder
        Signer s(sm2);
        std::string attached = cmsSign(s, content, false), detached = cmsSign(s, content, true);
        ASSERT_FALSE(attached.empty());
        EXPECT_EQ(p7verify(attached, content, false), 0) << sm2;
        EXPECT_EQ(p7verify(attached, {}, false), 0) << sm2;
        EXPECT_EQ(p7verify(detached, content, true), 0) << sm2;
        EXPECT_EQ(p7verify(attached, content, true), TOPL_ERR_P7_CONTENT_MODE) << sm2;
        EXPECT_EQ(p7verify(detached, content, false), TOPL_ERR_P7_CONTENT_MODE) << sm2;
        EXPECT_EQ(p7verify(attached, bytesOf("other"), false), TOPL_ERR_P7_CONTENT_DIFFERS) << sm2;
        EXPECT_LT(p7verify(detached, bytesOf("other content of the message"), true), 0) << sm2;
    }
}

// Messages of both of the library's encoders, RSA and SM2 signers.
TEST(KeylessP7, OwnEncoders) {
    Bytes content = bytesOf("signed by the library's encoders");
    for (bool sm2 : {false, true}) {
        Signer s(sm2);
        Bytes sig = sign(s.key.get(), EVP_sha256(), content);
        int kid = sm2 ? 110 : 103;
        const unsigned char *p = s.der.data();
        X509 *x = d2i_X509(nullptr, &p, static_cast<long>(s.der.size()));
        unsigned char *msg[4] = {};
        int n[4];
        int nsig = static_cast<int>(sig.size()), nc = static_cast<int>(content.size());
        n[0] = topl_p7sign_encode(sig.data(), nsig, x, content.data(), nc, kid, &msg[0]);
        n[1] = topl_p7sign_encode(sig.data(), nsig, x, nullptr, 0, kid, &msg[1]);
        n[2] = tasn1_p7sign_encode_attach(kid, content.data(), nc, s.text.c_str(), static_cast<int>(s.text.size()),
                                          sig.data(), nsig, &msg[2]);
        n[3] = tasn1_p7sign_encode_detach(kid, s.text.c_str(), static_cast<int>(s.text.size()), sig.data(), nsig,
                                          &msg[3]);
        X509_free(x);
        for (int i = 0; i < 4; i++) {
            ASSERT_GT(n[i], 0) << sm2 << i;
            bool detached = i % 2 == 1;
            auto text = reinterpret_cast<const char *>(msg[i]);
            // As DER and as the base64 text a page sends
            std::string b = b64(Bytes(msg[i], msg[i] + n[i]));
            auto right = detached ? zeb_acx_p7verifyDetached : zeb_acx_p7verify;
            auto wrong = detached ? zeb_acx_p7verify : zeb_acx_p7verifyDetached;
            EXPECT_EQ(right(text, n[i], content.data(), nc), 0) << sm2 << i;
            EXPECT_EQ(right(b.c_str(), static_cast<int>(b.size()), content.data(), nc), 0) << sm2 << i;
            EXPECT_EQ(wrong(text, n[i], content.data(), nc), TOPL_ERR_P7_CONTENT_MODE) << sm2 << i;
            free(msg[i]);
        }
    }
}

TEST(KeylessP7, SignerCertificateChecks) {
    Bytes content = bytesOf("checks");
    CertSpec expired;
    expired.notBeforeOffset = -7200;
    expired.notAfterOffset = -400;
    EXPECT_EQ(p7verify(cmsSign(Signer(false, expired), content, false), content, false), ZEB_ACX_ERR_CERT_VALIDITY);
    CertSpec noUsage;
    noUsage.keyUsage = nullptr;
    EXPECT_EQ(p7verify(cmsSign(Signer(false, noUsage), content, true), content, true), ZEB_ACX_ERR_CERT_USAGE);
    // No certificate in the message at all
    std::string bare = cmsSign(Signer(), content, false, false);
    ASSERT_FALSE(bare.empty());
    EXPECT_EQ(p7verify(bare, content, false), ZEB_ACX_ERR_NO_CERT);
    EXPECT_EQ(zeb_acx_p7verify(nullptr, 0, nullptr, 0), ZEB_ACX_ERR_ARG);
}

TEST(KeylessP7, ContentAndSignerCertificate) {
    Signer s;
    Bytes content = bytesOf(std::string("with\0nul", 8));
    std::string attached = cmsSign(s, content, false), detached = cmsSign(s, content, true);

    EXPECT_EQ(zeb_acx_p7_getOriDataLen(attached.c_str()), 8);
    unsigned char out[9];
    memset(out, 0x55, sizeof out);
    EXPECT_EQ(zeb_acx_p7_getOriData(attached.c_str(), out, 8), 8);
    EXPECT_EQ(Bytes(out, out + 8), content);
    EXPECT_EQ(out[8], 0x55);  // nothing past the size given
    EXPECT_EQ(zeb_acx_p7_getOriData(attached.c_str(), out, 4), ZEB_ACX_ERR_P7_CONTENT);  // does not fit
    EXPECT_EQ(zeb_acx_p7_getOriDataLen(detached.c_str()), 0);

    char cert[ZEB_ACX_CERTDATA_SIZE];
    EXPECT_EQ(zeb_acx_p7_getCertData(detached.c_str(), cert), static_cast<int>(s.text.size()));
    EXPECT_EQ(std::string(cert), s.text);
    EXPECT_EQ(zeb_acx_p7_getCertData(cmsSign(s, content, false, false).c_str(), cert), ZEB_ACX_ERR_P7_SIGNCERT);
    EXPECT_STREQ(cert, "");

    for (const std::string &bad : {attached.substr(0, attached.size() / 2), std::string("MIIB!!!!"),
                                   std::string("random text"), std::string("")}) {
        EXPECT_LT(zeb_acx_p7_getOriDataLen(bad.c_str()), 0) << bad;
        EXPECT_LT(zeb_acx_p7_getCertData(bad.c_str(), cert), 0) << bad;
    }
}

TEST(KeylessP7, SignerCertificateLongerThanItsBuffer) {
    // A certificate whose base64 text needs exactly 4096 characters (3072
    // DER octets) leaves no room for the terminator. Subject (and issuer)
    // entries make it long; the last entry's length moves the size in steps
    // of two octets, the serial's in steps of one.
    sealdesk_test::Pkey key = sealdesk_test::rsaKey(2048);
    auto build = [&](int entries, int lastLen, int serialLen) {
        CertSpec certSpec;
        certSpec.subject.clear();
        for (int i = 0; i < entries; i++) certSpec.subject.push_back({"OU", std::string(60, static_cast<char>('a' + i % 26))});
        certSpec.subject.push_back({"CN", std::string(static_cast<size_t>(lastLen), 'z')});
        certSpec.serial.assign(static_cast<size_t>(serialLen), 0x11);
        return sealdesk_test::makeCert(key.get(), certSpec);
    };
    std::vector<uint8_t> der;
    for (int entries = 10; entries < 40 && der.size() != 3072; entries++) {
        size_t base = build(entries, 1, 1).size();
        if (base > 3072) break;
        if (base + 2 * 63 + 1 < 3072) continue;
        int gap = static_cast<int>(3072 - base);
        der = build(entries, 1 + gap / 2, 1 + gap % 2);
    }
    if (der.size() != 3072) GTEST_SKIP() << "could not hit 3072 octets";
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    Bytes sig(256, 1);
    unsigned char *msg = nullptr;
    int n = topl_p7sign_encode(sig.data(), 256, x, reinterpret_cast<const unsigned char *>("c"), 1, 103, &msg);
    X509_free(x);
    ASSERT_GT(n, 0);
    std::string text = b64(Bytes(msg, msg + n));
    free(msg);
    char cert[ZEB_ACX_CERTDATA_SIZE + 16];
    memset(cert, 0x7F, sizeof cert);
    EXPECT_EQ(zeb_acx_p7_getCertData(text.c_str(), cert), ZEB_ACX_ERR_P7_SIGNCERT);
    EXPECT_EQ(cert[0], 0);
    EXPECT_EQ(static_cast<unsigned char>(cert[ZEB_ACX_CERTDATA_SIZE]), 0x7F);  // untouched behind the buffer
}

// ---- certificate attributes ----------------------------------------------

TEST(KeylessCert, SerialNumberAsHex) {
    struct Case {
        std::vector<uint8_t> serial;
        const char *hex;
    } cases[] = {
        {{0x05}, "05"},
        {{0x01, 0x23, 0x45}, "012345"},
        {{0x7F, 0xEE, 0x00, 0x10}, "7FEE0010"},
        {std::vector<uint8_t>(20, 0x3C), "3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C"},
    };
    sealdesk_test::Pkey key = sealdesk_test::rsaKey(2048);
    for (const Case &c : cases) {
        CertSpec certSpec;
        certSpec.serial = c.serial;
        std::vector<uint8_t> der = sealdesk_test::makeCert(key.get(), certSpec);
        std::string text = b64(Bytes(der.begin(), der.end()));
        char out[ZEB_ACX_SN_OUT_SIZE];
        EXPECT_EQ(zeb_acx_cert_getHexSn(text.c_str(), out), static_cast<int>(strlen(c.hex))) << c.hex;
        EXPECT_STREQ(out, c.hex);
    }
}

TEST(KeylessCert, SubjectDnAndRdn) {
    CertSpec certSpec;
    certSpec.subject = {{"C", "CN"}, {"O", "测试机构"}, {"OU", "Dev"}, {"OU", "Ops"}, {"CN", "Alice Zhang"}};
    Signer s(true, certSpec);
    std::string pem = sealdesk_test::toPem(s.der);
    for (const std::string &cert : {s.text, pem}) {
        char dn[ZEB_ACX_DN_OUT_SIZE];
        const std::string want = "C=CN, O=测试机构, OU=Dev, OU=Ops, CN=Alice Zhang";
        EXPECT_EQ(zeb_acx_cert_getSubjectDn(cert.c_str(), dn), static_cast<int>(want.size()) + 1);
        EXPECT_EQ(std::string(dn), want);

        char rdn[ZEB_ACX_RDN_OUT_SIZE];
        EXPECT_EQ(zeb_acx_cert_getSubjectRdn(cert.c_str(), "CN", rdn), 11);
        EXPECT_STREQ(rdn, "Alice Zhang");
        EXPECT_EQ(zeb_acx_cert_getSubjectRdn(cert.c_str(), "OU", rdn), 3);  // the first value
        EXPECT_STREQ(rdn, "Dev");
        EXPECT_EQ(zeb_acx_cert_getSubjectRdn(cert.c_str(), "O", rdn), static_cast<int>(strlen("测试机构")));
        EXPECT_EQ(zeb_acx_cert_getSubjectRdn(cert.c_str(), "L", rdn), ZEB_ACX_ERR_RDN);
        EXPECT_STREQ(rdn, "");
    }
}

TEST(KeylessCert, TextsThatAreNoCertificate) {
    Signer s;
    char out[ZEB_ACX_DN_OUT_SIZE];
    for (const std::string &bad : {s.text.substr(0, 100), std::string("MIIB!!!!"), std::string("random text")}) {
        EXPECT_EQ(zeb_acx_cert_getHexSn(bad.c_str(), out), ZEB_ACX_ERR_CERT_LOAD) << bad;
        EXPECT_EQ(zeb_acx_cert_getSubjectDn(bad.c_str(), out), ZEB_ACX_ERR_CERT_LOAD) << bad;
        EXPECT_EQ(zeb_acx_cert_getSubjectRdn(bad.c_str(), "CN", out), ZEB_ACX_ERR_CERT_LOAD) << bad;
    }
    EXPECT_EQ(zeb_acx_cert_getHexSn("", out), ZEB_ACX_ERR_ARG);
    EXPECT_EQ(zeb_acx_cert_getSubjectDn(nullptr, out), ZEB_ACX_ERR_ARG);
    EXPECT_EQ(zeb_acx_cert_getSubjectRdn(s.text.c_str(), "", out), ZEB_ACX_ERR_ARG);
}

}  // namespace
