#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"

#include "../topl/cert_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using cert_fixture::Keys;
using cert_fixture::pemBody;
using cert_fixture::pemToDer;

// Short-form TLV builder for hand-made structures.
std::string tlv(unsigned char tag, const std::string &content) {
    std::string s(1, static_cast<char>(tag));
    s += static_cast<char>(content.size());
    return s + content;
}
std::string bin(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

// A skeleton version-3 certificate whose subjectPublicKeyInfo carries `alg`.
std::string fakeCert(const std::string &alg) {
    std::string tbs = tlv(0xA0, bin({0x02, 0x01, 0x02})) + bin({0x02, 0x01, 0x01}) + tlv(0x30, "") +
                      tlv(0x30, "") + tlv(0x30, "") + tlv(0x30, "") + tlv(0x30, alg + bin({0x03, 0x01, 0x00}));
    return tlv(0x30, tlv(0x30, tbs));
}

class Tasn1Cert : public ::testing::Test {
protected:
    static void SetUpTestSuite() { keys_ = new Keys(); }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }
    static Keys *keys_;

    static int kind(const std::string &text) { return tasn1_cert_getKeyUsageKind(text.data(), static_cast<int>(text.size())); }
    static int pubKid(const std::string &text) { return tasn1_cert_getPubKeyKid(text.data(), static_cast<int>(text.size())); }
    static int toDer(const std::string &text, std::string *der) {
        unsigned char *out = reinterpret_cast<unsigned char *>(1);
        int n = tasn1_cert_toDer(text.data(), static_cast<int>(text.size()), &out);
        if (n > 0) der->assign(reinterpret_cast<char *>(out), n);
        else EXPECT_EQ(out, nullptr);
        free(out);
        return n;
    }
};
Keys *Tasn1Cert::keys_ = nullptr;

TEST_F(Tasn1Cert, ToDerAcceptsDerBase64AndPem) {
    std::string pem = keys_->cert("rsa.pem", "-addext keyUsage=digitalSignature");
    std::string der = pemToDer(pem);
    ASSERT_FALSE(der.empty());

    std::string out;
    EXPECT_EQ(toDer(der, &out), static_cast<int>(der.size()));
    EXPECT_EQ(out, der);
    out.clear();
    EXPECT_EQ(toDer(pemBody(pem), &out), static_cast<int>(der.size()));
    EXPECT_EQ(out, der);
    out.clear();
    EXPECT_EQ(toDer(pem, &out), static_cast<int>(der.size()));
    EXPECT_EQ(out, der);

    // Text before the marker and CR LF line ends.
    std::string crlf = "Subject: sealdesk\r\nnoise MMMM\r\n";
    for (char c : pem) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    out.clear();
    EXPECT_EQ(toDer(crlf, &out), static_cast<int>(der.size()));
    EXPECT_EQ(out, der);

    // No NUL terminator needed: the text is read only within its length.
    auto *exact = static_cast<char *>(malloc(pem.size()));
    memcpy(exact, pem.data(), pem.size());
    unsigned char *buf = nullptr;
    EXPECT_EQ(tasn1_cert_toDer(exact, static_cast<int>(pem.size()), &buf), static_cast<int>(der.size()));
    free(buf);
    free(exact);
}

TEST_F(Tasn1Cert, ToDerRefusesBrokenText) {
    std::string pem = keys_->cert("rsa.pem", "");
    std::string body = pemBody(pem);
    std::string endless = pem.substr(0, pem.find("-----END"));
    std::string out;
    struct Case {
        const char *what;
        std::string text;
        int code;
    } cases[] = {
        {"PEM without end marker", endless, TASN1_ERR_CERT},
        {"end marker before begin marker", "-----END CERTIFICATE-----\n" + endless, TASN1_ERR_CERT},
        {"no begin marker", "hello world", TASN1_ERR_CERT},
        {"markers without M", "-----BEGIN CERTIFICATE-----\nabc\n-----END CERTIFICATE-----\n", TASN1_ERR_CERT},
        {"base64 with junk", body.substr(0, 40) + "!@#$" + body.substr(44), -110004},
        {"base64 of bad length", body.substr(0, 41), TCORE_ERR_BUFFER_SMALL},
        {"single M", "M", TCORE_ERR_BUFFER_SMALL},
    };
    for (const auto &c : cases) EXPECT_EQ(toDer(c.text, &out), c.code) << c.what;

    unsigned char *buf = nullptr;
    EXPECT_EQ(tasn1_cert_toDer(nullptr, 5, &buf), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_cert_toDer("M", 0, &buf), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_cert_toDer("M", 1, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_cert_getKeyUsageKind(nullptr, 4), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_cert_getPubKeyKid("", 0), TCORE_ERR_ARG);
    EXPECT_EQ(kind(endless), TASN1_ERR_CERT);
    EXPECT_EQ(pubKid(endless), TASN1_ERR_CERT);
}

TEST_F(Tasn1Cert, KeyUsageKinds) {
    struct Case {
        const char *usage;  // -addext value, empty: no keyUsage extension
        int kind;
    } cases[] = {
        {"keyUsage=digitalSignature,nonRepudiation", 1},  // 0xC0
        {"keyUsage=keyEncipherment,dataEncipherment", 2},  // 0x30
        {"keyUsage=digitalSignature,dataEncipherment", 0},  // 0x90
        {"keyUsage=critical,digitalSignature", 1},
        {"keyUsage=keyCertSign", TASN1_ERR_CERT},          // 0x04
        {"keyUsage=digitalSignature,decipherOnly,keyAgreement", 1},  // two octets
        {"basicConstraints=CA:FALSE", 0},                 // other extensions only
        {"", 0},                                          // no extensions at all
    };
    for (const auto &c : cases) {
        std::string addext = *c.usage ? std::string("-addext ") + c.usage : "";
        std::string pem = keys_->cert("rsa.pem", addext);
        std::string der = pemToDer(pem);
        EXPECT_EQ(kind(pem), c.kind) << c.usage << " (PEM)";
        EXPECT_EQ(kind(der), c.kind) << c.usage << " (DER)";
        EXPECT_EQ(kind(pemBody(pem)), c.kind) << c.usage << " (base64)";
    }
    // SM2 certificates read the same way.
    EXPECT_EQ(kind(keys_->cert("sm2.pem", "-addext keyUsage=nonRepudiation,digitalSignature")), 1);
}

TEST_F(Tasn1Cert, PublicKeyKind) {
    const std::string ext = "-addext basicConstraints=CA:FALSE";  // makes a version 3 certificate
    EXPECT_EQ(pubKid(keys_->cert("rsa.pem", ext)), 201);
    EXPECT_EQ(pubKid(pemToDer(keys_->cert("rsa.pem", ext))), 201);
    EXPECT_EQ(pubKid(keys_->cert("sm2.pem", ext)), 210);
    EXPECT_EQ(pubKid(keys_->cert("p256.pem", ext)), TASN1_ERR_CERT);  // EC, but not the SM2 curve
    // A version 1 certificate (no extensions, no version field) has its key
    // at another index: it is not classified.
    EXPECT_EQ(pubKid(keys_->cert("rsa.pem", "")), TASN1_ERR_CERT);

    const std::string rsaOid = bin({0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01});
    EXPECT_EQ(pubKid(fakeCert(tlv(0x30, rsaOid + bin({0x05, 0x00})))), 201);
    EXPECT_EQ(pubKid(fakeCert(tlv(0x30, rsaOid))), TASN1_ERR_CERT);  // NULL parameter omitted
}

// Cut certificates at every length: the readers must fail cleanly and never
// read past the (exactly sized) buffer.
TEST_F(Tasn1Cert, TruncatedCertificates) {
    std::string der = pemToDer(keys_->cert("sm2.pem", "-addext keyUsage=digitalSignature"));
    ASSERT_GT(der.size(), 100u);
    for (size_t n = 1; n < der.size(); ++n) {
        auto *buf = static_cast<char *>(malloc(n));
        memcpy(buf, der.data(), n);
        int k = tasn1_cert_getKeyUsageKind(buf, static_cast<int>(n));
        int p = tasn1_cert_getPubKeyKid(buf, static_cast<int>(n));
        EXPECT_TRUE(k == TASN1_ERR_CERT || k == 1) << n;
        EXPECT_TRUE(p == TASN1_ERR_CERT || p == 210) << n;
        free(buf);
    }
}

// Walks every constructed element it can reach; every item must lie inside
// the buffer it was read from.
void walk(const unsigned char *tlv, int room, int depth, int *visited) {
    if (depth > 8 || ++*visited > 5000) return;
    int n = tasn1_sequence_decode_getSize(tlv, room);
    for (int i = 0; i < n; ++i) {
        tasn1_item child{};
        if (tasn1_sequence_decode_getTLV(tlv, room, i, &child) != 0) return;
        ASSERT_GE(child.bytes, tlv);
        ASSERT_LE(child.bytes + child.length, tlv + room);
        if (child.tag == 0x30 || child.tag == 0x31 || child.tag >= 0xA0) walk(child.bytes, child.length, depth + 1, visited);
    }
}

// Random corruption of a real certificate: no crash, no read outside the
// exactly sized copy (the sanitizer build checks), only defined results.
TEST_F(Tasn1Cert, RandomlyCorruptedCertificates) {
    const std::string der = pemToDer(keys_->cert("rsa.pem", "-addext keyUsage=digitalSignature"));
    std::mt19937 rng(42);
    for (int round = 0; round < 3000; ++round) {
        std::string m = der;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) m[rng() % m.size()] = static_cast<char>(rng());
        if (round % 3 == 0) m.resize(1 + rng() % m.size());
        auto *buf = static_cast<char *>(malloc(m.size()));
        memcpy(buf, m.data(), m.size());
        int k = tasn1_cert_getKeyUsageKind(buf, static_cast<int>(m.size()));
        int p = tasn1_cert_getPubKeyKid(buf, static_cast<int>(m.size()));
        EXPECT_LE(k, 2) << round;
        EXPECT_TRUE(p < 0 || p == 201 || p == 210) << round;
        int visited = 0;
        walk(reinterpret_cast<unsigned char *>(buf), static_cast<int>(m.size()), 0, &visited);
        unsigned char *out = nullptr;
        int n = tasn1_cert_toDer(buf, static_cast<int>(m.size()), &out);
        if (n > 0) free(out);
        free(buf);
    }
}

}  // namespace
