#include "sm2_helpers.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_errors.h"
#include "topl/topl_evp_digest.h"
#include "topl/topl_sm2.h"

#include <openssl/err.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sm2_helpers;

std::vector<std::string> g_log;
void capture(const char *text) { g_log.emplace_back(text); }
bool logged(const std::string &needle) {
    for (const auto &l : g_log)
        if (l.find(needle) != std::string::npos) return true;
    return false;
}

class EvpDigest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(topl_sm2_init(), 0);
        g_log.clear();
        tcore_log_sink = capture;
    }
    void TearDown() override {
        tcore_log_sink = nullptr;
        ERR_clear_error();
    }
};

Bytes reference(const EVP_MD *md, const Bytes &m) {
    Bytes d(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(m.data(), m.size(), d.data(), &n, md, nullptr);
    d.resize(n);
    return d;
}

TEST_F(EvpDigest, EveryKidEqualsOpenssl) {
    struct Case {
        int kid;
        const EVP_MD *md;
        int nid;
    } cases[] = {{101, EVP_md5(), 4},      {102, EVP_sha1(), 64},   {103, EVP_sha256(), 672},
                 {104, EVP_sha512(), 674}, {105, EVP_sha384(), 673}, {110, EVP_sm3(), 2000}};
    std::mt19937 rng(3);
    for (const auto &c : cases) {
        EXPECT_EQ(topl_evp_digest_alg_kid2nid(c.kid), c.nid);
        EXPECT_EQ(topl_evp_digest_alg_kid2mdlen(c.kid), EVP_MD_get_size(c.md));
        for (size_t len : {1, 3, 64, 1000, 70000}) {
            Bytes m(len);
            for (auto &b : m) b = static_cast<unsigned char>(rng());
            Bytes expect = reference(c.md, m);
            Bytes out(64);
            EXPECT_EQ(topl_evp_digest_once(c.kid, m.data(), static_cast<int>(len), out.data(), 64),
                      static_cast<int>(expect.size()))
                << c.kid;
            out.resize(expect.size());
            EXPECT_EQ(out, expect) << c.kid << " length " << len;
        }
    }
    Bytes abc = bytes("abc"), out(32);
    ASSERT_EQ(topl_evp_digest_once(110, abc.data(), 3, out.data(), 32), 32);
    const unsigned char sm3abc[] = {0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9, 0xd1, 0xf2, 0xd4,
                                    0x6b, 0xdc, 0x10, 0xe4, 0xe2, 0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2,
                                    0xf7, 0xa2, 0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b, 0xa8, 0xe0};
    EXPECT_EQ(memcmp(out.data(), sm3abc, 32), 0);
    const EVP_MD *sm3 = topl_sm3_md();
    EXPECT_EQ(EVP_MD_get_type(sm3), 2000);
    EXPECT_EQ(EVP_MD_get_size(sm3), 32);
    EXPECT_EQ(EVP_MD_get_block_size(sm3), 64);
    EXPECT_EQ(topl_evp_digest_alg_kid2EvpMd(110), sm3);
}

TEST_F(EvpDigest, ContextsUpdateInPiecesAndStartOver) {
    Bytes m(5000);
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<unsigned char>(i * 7);
    for (int kid : {103, 110}) {
        topl_evp_digest_ctx *ctx = topl_evp_digest_new(kid);
        ASSERT_NE(ctx, nullptr);
        EXPECT_EQ(ctx->kid, kid);
        Bytes first(32), second(32);
        for (Bytes *out : {&first, &second}) {
            ASSERT_EQ(topl_evp_digest_init(ctx), 0);
            for (size_t off = 0; off < m.size(); off += 63)
                ASSERT_EQ(topl_evp_digest_update(ctx, m.data() + off, static_cast<int>(std::min<size_t>(63, m.size() - off))), 0);
            // nmaxout is not compared with the digest size.
            EXPECT_EQ(topl_evp_digest_final(ctx, out->data(), 1), 32);
        }
        EXPECT_EQ(first, second);
        EXPECT_EQ(first, reference(kid == 110 ? EVP_sm3() : EVP_sha256(), m));
        topl_evp_digest_free(ctx);
    }
    topl_evp_digest_free(nullptr);
}

TEST_F(EvpDigest, RefusalsAndCodes) {
    Bytes in = bytes("abc"), out(64, 0xEE);
    for (int kid : {0, 201, 108, 111, 210}) {
        g_log.clear();
        EXPECT_EQ(topl_evp_digest_once(kid, in.data(), 3, out.data(), 64), TOPL_ERR_EVP_KID) << kid;
        EXPECT_TRUE(logged("topl_evp_digest_alg_kid2md unkown kid " + std::to_string(kid) + " error -152401"));
        EXPECT_EQ(topl_evp_digest_new(kid), nullptr);
        EXPECT_EQ(topl_evp_digest_alg_kid2EvpMd(kid), nullptr);
    }
    EXPECT_EQ(topl_evp_digest_once(103, in.data(), 3, out.data(), 31), TOPL_ERR_EVP_OUT_SMALL);
    EXPECT_EQ(out[0], 0xEE);  // nothing written
    EXPECT_EQ(topl_evp_digest_once(103, in.data(), 3, out.data(), 32), 32);
    EXPECT_EQ(topl_evp_digest_once(103, in.data(), 0, out.data(), 32), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(topl_evp_digest_once(103, in.data(), 3, out.data(), 0), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(topl_evp_digest_once(103, nullptr, 3, out.data(), 32), TCORE_ERR_ARG);
    EXPECT_EQ(topl_evp_digest_once(103, in.data(), 3, nullptr, 32), TCORE_ERR_ARG);

    topl_evp_digest_ctx *ctx = topl_evp_digest_new(103);
    ASSERT_EQ(topl_evp_digest_init(ctx), 0);
    EXPECT_EQ(topl_evp_digest_update(ctx, in.data(), 0), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_evp_digest_update arg nin is <= 0"));
    EXPECT_EQ(topl_evp_digest_update(ctx, nullptr, 3), TCORE_ERR_ARG);
    EXPECT_EQ(topl_evp_digest_update(nullptr, in.data(), 3), TCORE_ERR_ARG);
    EXPECT_EQ(topl_evp_digest_final(ctx, out.data(), 0), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_evp_digest_final arg nmaxout is <= 0"));
    EXPECT_EQ(topl_evp_digest_final(ctx, nullptr, 32), TCORE_ERR_ARG);
    EXPECT_EQ(topl_evp_digest_init(nullptr), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_evp_digest_init arg ctx is NULL"));
    topl_evp_digest_free(ctx);
}

// SM3(Z || message) checked by OpenSSL: its SM2 signature over the message
// verifies as a signature over our digest.
TEST_F(EvpDigest, Sm3WithSm2DigestIsWhatSm2Signs) {
    EVP_PKEY *key = newSm2Key();
    topl_keystore *ks = topl_keystore_new();
    ks->pCert = certFor(key);
    Bytes msg = bytes("SM3 with SM2 digest"), e(32), e2(32, 0), e3(32);
    ASSERT_EQ(topl_sm3WithSm2_digest_once(ks, msg.data(), static_cast<int>(msg.size()), nullptr, 0, e.data(), 32), 32);
    ASSERT_NE(ks->pKey, nullptr);  // created on demand and cached
    EXPECT_TRUE(opensslVerifyDigest(key, e, opensslSign(key, msg)));

    EVP_PKEY *cached = ks->pKey;
    const auto *id = reinterpret_cast<const unsigned char *>("1234567812345678");
    ASSERT_EQ(topl_sm3WithSm2_digest_once(ks, msg.data(), static_cast<int>(msg.size()), id, 16, e2.data(), 32), 32);
    EXPECT_EQ(e2, e);
    ASSERT_EQ(topl_sm3WithSm2_digest_once(ks, msg.data(), static_cast<int>(msg.size()), id, 0, e3.data(), 32), 32);
    EXPECT_EQ(e3, e);
    EXPECT_EQ(ks->pKey, cached);  // used without change

    // Through a context, in pieces, with another ID.
    const auto *alice = reinterpret_cast<const unsigned char *>("ALICE123@YAHOO.COM");
    topl_evp_digest_ctx *ctx = topl_evp_digest_new(110);
    ASSERT_EQ(topl_sm3WithSm2_digest_init(ctx, ks, alice, 18), 0);
    ASSERT_EQ(topl_evp_digest_update(ctx, msg.data(), 5), 0);
    ASSERT_EQ(topl_evp_digest_update(ctx, msg.data() + 5, static_cast<int>(msg.size()) - 5), 0);
    Bytes e4(32);
    ASSERT_EQ(topl_evp_digest_final(ctx, e4.data(), 32), 32);
    EXPECT_TRUE(opensslVerifyDigest(key, e4, opensslSign(key, msg, "ALICE123@YAHOO.COM")));

    Bytes longId(63, 'x');
    EXPECT_EQ(topl_sm3WithSm2_digest_init(ctx, ks, longId.data(), 63), TCORE_ERR_BUFFER_SMALL);
    EXPECT_TRUE(logged("tol_sm2_sm3_preprocess1 fail -10003"));
    topl_evp_digest_free(ctx);

    EXPECT_EQ(topl_sm3WithSm2_digest_once(ks, msg.data(), 3, nullptr, 0, e.data(), 31), TOPL_ERR_EVP_OUT_SMALL);
    EXPECT_EQ(topl_sm3WithSm2_digest_once(ks, msg.data(), 0, nullptr, 0, e.data(), 32), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(topl_sm3WithSm2_digest_once(nullptr, msg.data(), 3, nullptr, 0, e.data(), 32), TCORE_ERR_ARG);
    topl_keystore_free(ks);
    EVP_PKEY_free(key);
}

TEST_F(EvpDigest, Sm3WithSm2RefusesOtherKeys) {
    EVP_PKEY *rsa = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    topl_keystore *ks = topl_keystore_new();
    ks->pCert = certFor(rsa);
    topl_evp_digest_ctx *ctx = topl_evp_digest_new(110);
    EXPECT_EQ(topl_sm3WithSm2_digest_init(ctx, ks, nullptr, 0), TOPL_ERR_KEY_TYPE);
    EXPECT_TRUE(logged("topl_x509cert_isSm2 fail -150007"));
    EXPECT_EQ(ks->pKey, nullptr);  // untouched

    // A P-256 certificate passes the EC test, but no SM2 key can be made.
    EVP_PKEY *p256 = newP256Key();
    topl_keystore *pk = topl_keystore_new();
    pk->pCert = certFor(p256);
    EXPECT_EQ(topl_sm3WithSm2_digest_init(ctx, pk, nullptr, 0), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("tol_sm2_sm3_preprocess1 fail -10002"));

    ks->pKey = nullptr;
    X509 *cert = ks->pCert;
    ks->pCert = nullptr;
    EXPECT_EQ(topl_sm3WithSm2_digest_init(ctx, ks, nullptr, 0), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_sm3WithSm2_digest_init arg pStore->pCert is NULL"));
    ks->pCert = cert;
    EXPECT_EQ(topl_sm3WithSm2_digest_init(ctx, nullptr, nullptr, 0), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm3WithSm2_digest_init(nullptr, ks, nullptr, 0), TCORE_ERR_ARG);
    topl_evp_digest_free(ctx);
    topl_keystore_free(ks);
    topl_keystore_free(pk);
    EVP_PKEY_free(rsa);
    EVP_PKEY_free(p256);
}

}  // namespace
