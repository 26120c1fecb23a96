// The DER form of an SKF ECC signature blob, checked against OpenSSL's own
// encoder for the same r and s.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include "tutil/tutil_skf.h"

namespace {

// A 128-octet blob whose low 32 octets of r and s are filled from the hex
// texts (right-aligned); the high 32 octets of each field hold junk the
// encoder must ignore.
void makeBlob(const char *rHex, const char *sHex, unsigned char blob[128]) {
    memset(blob, 0xEE, 128);
    for (int half = 0; half < 2; half++) {
        const char *hex = half ? sHex : rHex;
        unsigned char *v = blob + half * 64 + 32;
        memset(v, 0, 32);
        size_t n = strlen(hex) / 2;
        for (size_t i = 0; i < n; i++) {
            unsigned int b = 0;
            sscanf(hex + 2 * i, "%2x", &b);
            v[32 - n + i] = static_cast<unsigned char>(b);
        }
    }
}

std::string opensslDer(const unsigned char blob[128]) {
    ECDSA_SIG *sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(blob + 32, 32, nullptr), BN_bin2bn(blob + 96, 32, nullptr));
    unsigned char *der = nullptr;
    int n = i2d_ECDSA_SIG(sig, &der);
    std::string s(reinterpret_cast<char *>(der), static_cast<size_t>(n));
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return s;
}

}  // namespace

TEST(SkfDer, EccBlobToDerMatchesOpenSsl) {
    const std::string low(64, '1'), high(64, 'c');
    struct Case {
        std::string r, s;
        int len;
    } cases[] = {
        {low, low, 70},                            // 30 44 02 20 .. 02 20 ..
        {high, low, 71},                           // r gets its 00
        {low, high, 71},
        {high, high, 72},                          // 30 46 02 21 00 .. 02 21 00 ..
        {"00" + high.substr(2), low, 70},          // r < 2^248 with high bit in the next octet
        {"0011" + low.substr(4), high, 70},        // leading zero octets dropped
        {std::string(64, '0'), "01", 8},           // r = 0 stays one octet
        {"ff" + low.substr(2), std::string(62, '0') + "80", 41},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.r + " / " + c.s);
        unsigned char blob[128], out[72];
        makeBlob(c.r.c_str(), c.s.c_str(), blob);
        int n = tutil_skf_eccSigToDer(blob, out);
        EXPECT_EQ(n, c.len);
        ASSERT_GT(n, 0);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), static_cast<size_t>(n)),
                  opensslDer(blob));
    }
}

TEST(SkfDer, Arguments) {
    unsigned char blob[128] = {0}, out[72];
    EXPECT_EQ(tutil_skf_eccSigToDer(nullptr, out), -10002);
    EXPECT_EQ(tutil_skf_eccSigToDer(blob, nullptr), -10002);
}
