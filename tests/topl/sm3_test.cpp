#include "topl/topl_sm3.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string hex(const unsigned char *p, size_t n) {
    static const char k[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += k[p[i] >> 4];
        s += k[p[i] & 15];
    }
    return s;
}

std::string ours(const std::vector<unsigned char> &m) {
    unsigned char d[32];
    topl_sm3_digest(m.data(), static_cast<int>(m.size()), d);
    return hex(d, 32);
}

// OpenSSL's own SM3, the independent reference.
std::string openssl(const std::vector<unsigned char> &m) {
    unsigned char d[32];
    unsigned int n = 0;
    EXPECT_EQ(EVP_Digest(m.data(), m.size(), d, &n, EVP_sm3(), nullptr), 1);
    return hex(d, n);
}

std::vector<unsigned char> bytes(const std::string &s) { return {s.begin(), s.end()}; }

TEST(Sm3, StandardExamples) {
    EXPECT_EQ(ours(bytes("abc")), "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    std::string abcd;
    for (int i = 0; i < 16; ++i) abcd += "abcd";
    EXPECT_EQ(ours(bytes(abcd)), "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732");
    unsigned char d[32];
    topl_sm3_digest(nullptr, 0, d);  // empty message
    EXPECT_EQ(hex(d, 32), openssl({}));
    topl_sm3_digest(reinterpret_cast<const unsigned char *>("abc"), -5, d);
    EXPECT_EQ(hex(d, 32), openssl({}));
}

TEST(Sm3, EqualsOpensslForEveryLengthUpTo1000AndLargeInputs) {
    std::mt19937 rng(20240611);
    std::vector<unsigned char> m;
    for (size_t len = 0; len <= 1000; ++len) {
        m.resize(len);
        for (auto &b : m) b = static_cast<unsigned char>(rng());
        ASSERT_EQ(ours(m), openssl(m)) << "length " << len;
    }
    for (size_t len : {size_t(1) << 20, (size_t(3) << 20) + 17}) {
        m.resize(len);
        for (auto &b : m) b = static_cast<unsigned char>(rng());
        EXPECT_EQ(ours(m), openssl(m)) << "length " << len;
    }
}

TEST(Sm3, PiecewiseUpdatesEqualOneShot) {
    std::mt19937 rng(7);
    std::vector<unsigned char> m(5000);
    for (auto &b : m) b = static_cast<unsigned char>(rng());
    const std::string expect = ours(m);
    for (int piece : {1, 63, 64, 65, 1000}) {
        topl_sm3_ctx ctx;
        topl_sm3_init(&ctx);
        for (size_t off = 0; off < m.size(); off += piece) {
            int n = static_cast<int>(std::min<size_t>(piece, m.size() - off));
            topl_sm3_update(&ctx, m.data() + off, n);
            topl_sm3_update(&ctx, m.data(), 0);  // empty updates change nothing
        }
        unsigned char d[32];
        topl_sm3_final(&ctx, d);
        EXPECT_EQ(hex(d, 32), expect) << "pieces of " << piece;
    }
}

// The byte count carries into its high word.
TEST(Sm3, CountCarriesIntoHighWord) {
    topl_sm3_ctx ctx;
    topl_sm3_init(&ctx);
    ctx.count[0] = 0xFFFFFFC0u;  // pretend 4 GiB - 64 bytes were hashed (block aligned)
    std::vector<unsigned char> block(128, 0x61);
    topl_sm3_update(&ctx, block.data(), 128);
    EXPECT_EQ(ctx.count[1], 1u);
    EXPECT_EQ(ctx.count[0], 64u);
}

}  // namespace
