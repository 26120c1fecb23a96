#include "sm2_helpers.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_errors.h"
#include "topl/topl_sm2.h"
#include "topl/topl_sm3.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace sm2_helpers;

std::vector<std::string> g_log;
void capture(const char *text) { g_log.emplace_back(text); }
bool logged(const std::string &needle) {
    return std::any_of(g_log.begin(), g_log.end(), [&](const std::string &l) { return l.find(needle) != std::string::npos; });
}

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using CertPtr = std::unique_ptr<X509, X509Free>;

// One OpenSSL SM2 key pair and our public-key object for it.
class Sm2 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(topl_sm2_init(), 0);
        g_log.clear();
        tcore_log_sink = capture;
        key_.reset(newSm2Key());
        ASSERT_TRUE(key_);
        cert_.reset(certFor(key_.get()));
        pub_.reset(topl_key_new_fromCert(cert_.get()));
        ASSERT_TRUE(pub_);
        msg_ = bytes("message signed by OpenSSL");
        topl_sm2_rawOrder = 1;
    }
    void TearDown() override {
        tcore_log_sink = nullptr;
        ERR_clear_error();
    }
    int verify(const Bytes &sig, const Bytes &msg, const char *id = nullptr, int idlen = 0) {
        return topl_sm2_verify(pub_.get(), reinterpret_cast<const unsigned char *>(id), idlen, msg.data(),
                               static_cast<int>(msg.size()), sig.data(), static_cast<int>(sig.size()));
    }
    int verifyDigest(Bytes &sig, const Bytes &e) {
        return topl_sm2_verify_byDigest_evp(pub_.get(), e.data(), static_cast<int>(e.size()), sig.data(),
                                            static_cast<int>(sig.size()));
    }
    Bytes e(const Bytes &msg) {
        Bytes out(32);
        EXPECT_EQ(tol_sm2_sm3_preprocess2(pub_.get(), msg.data(), static_cast<int>(msg.size()), nullptr, 0, out.data()), 32);
        return out;
    }
    KeyPtr key_, pub_;
    CertPtr cert_;
    Bytes msg_;
};

TEST(Sm2Curve, BuildsTheRecommendedCurveOnce) {
    ASSERT_EQ(topl_sm2_init(), 0);
    const topl_sm2_curve *c = topl_sm2_getCurve();
    ASSERT_NE(c->bnCtx, nullptr);
    char *yG = BN_bn2hex(c->yG);
    EXPECT_STREQ(yG, "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0");
    OPENSSL_free(yG);
    // Same parameters as OpenSSL's own SM2 curve.
    EC_GROUP *ref = EC_GROUP_new_by_curve_name(NID_sm2);
    EXPECT_EQ(EC_GROUP_cmp(ref, c->group, nullptr), 0);
    EC_GROUP_free(ref);
    EXPECT_EQ(EC_GROUP_have_precompute_mult(c->group), 1);

    EC_GROUP *before = c->group;
    EXPECT_EQ(topl_sm2_init(), 0);
    EXPECT_EQ(c->group, before);  // unchanged
}

TEST(Sm2Curve, UnbuiltCurveRefusesKeysAndKeysOutliveCleanup) {
    ASSERT_EQ(topl_sm2_init(), 0);
    KeyPtr k(newSm2Key());
    CertPtr x(certFor(k.get()));
    KeyPtr pub(topl_key_new_fromCert(x.get()));
    ASSERT_TRUE(pub);
    Bytes msg = bytes("abc"), sig = opensslSign(k.get(), msg);

    g_log.clear();
    tcore_log_sink = capture;
    EXPECT_EQ(topl_sm2_cleanup(), 0);
    EXPECT_EQ(topl_sm2_cleanup(), 0);  // again: nothing to do
    EXPECT_EQ(topl_sm2_getCurve()->group, nullptr);
    EXPECT_EQ(topl_key_new_fromCert(x.get()), nullptr);
    EXPECT_TRUE(logged("EC_KEY_set_group error"));
    EXPECT_EQ(topl_key_new_fromCert(nullptr), nullptr);
    EXPECT_TRUE(logged("topl_key_new_fromCert arg is NULL"));
    BIGNUM *bx = nullptr, *by = nullptr;
    EXPECT_EQ(topl_sm2key_getXY(pub.get(), &bx, &by), TCORE_ERR_ARG);
    unsigned char der[8] = {0x30, 0x00};
    EXPECT_EQ(topl_sm2key_fromDer(der, 2), nullptr);
    tcore_log_sink = nullptr;

    ASSERT_EQ(topl_sm2_init(), 0);
    EXPECT_EQ(topl_sm2_verify(pub.get(), nullptr, 0, msg.data(), 3, sig.data(), static_cast<int>(sig.size())), 0);
}

TEST_F(Sm2, OpensslSignaturesVerifyDerAndRaw) {
    Bytes der = opensslSign(key_.get(), msg_);
    EXPECT_EQ(verify(der, msg_), 0);
    EXPECT_EQ(verify(der, msg_, "1234567812345678", 16), 0);
    Bytes raw = derToRaw(der);
    ASSERT_EQ(raw.size(), 64u);
    EXPECT_EQ(verify(raw, msg_), 0);
    Bytes longer = raw;
    longer.resize(80, 0xEE);  // bytes after the 64th are ignored
    EXPECT_EQ(verify(longer, msg_), 0);
    EXPECT_EQ(topl_sm2_rawOrder, 1);

    // The same signature over the digest e.
    Bytes digest = e(msg_);
    EXPECT_TRUE(opensslVerifyDigest(key_.get(), digest, der));
    EXPECT_EQ(verifyDigest(der, digest), 0);
    EXPECT_EQ(verifyDigest(raw, digest), 0);
    EXPECT_EQ(topl_sm2_verify_opl_byDigest_evp(pub_.get(), digest.data(), 32, der.data(), static_cast<int>(der.size())), 0);

    // A user ID of OpenSSL's choosing.
    Bytes other = opensslSign(key_.get(), msg_, "ALICE123@YAHOO.COM");
    EXPECT_EQ(verify(other, msg_, "ALICE123@YAHOO.COM", 18), 0);
    EXPECT_EQ(verify(other, msg_), TOPL_ERR_SM2_VERIFY);
}

TEST_F(Sm2, ReversedRawHalvesVerifyOnSecondAttemptAndFlipTheOrder) {
    Bytes der = opensslSign(key_.get(), msg_);
    Bytes raw = derToRaw(der), reversed = swapHalves(raw);

    EXPECT_EQ(verify(reversed, msg_), 0);
    EXPECT_EQ(topl_sm2_rawOrder, 2);
    EXPECT_EQ(verify(reversed, msg_), 0);  // first attempt now
    EXPECT_EQ(topl_sm2_rawOrder, 2);
    EXPECT_EQ(verify(raw, msg_), 0);       // stored order again: flips back
    EXPECT_EQ(topl_sm2_rawOrder, 1);

    // The digest form reorders the caller's buffer to the order that was tried last.
    Bytes digest = e(msg_);
    Bytes buf = reversed;
    EXPECT_EQ(verifyDigest(buf, digest), 0);
    EXPECT_EQ(topl_sm2_rawOrder, 2);
    EXPECT_EQ(buf, raw);
    buf = reversed;
    EXPECT_EQ(topl_sm2_verify_raw_byDigest_evp(pub_.get(), digest.data(), 32, buf.data(), 64), 0);
    EXPECT_EQ(buf, raw);  // order 2 swapped it on the first attempt
    EXPECT_EQ(topl_sm2_rawOrder, 2);
    // The message form works on a copy.
    Bytes copy = reversed;
    EXPECT_EQ(verify(copy, msg_), 0);
    EXPECT_EQ(copy, reversed);
    topl_sm2_rawOrder = 1;
}

TEST_F(Sm2, BadSignaturesGiveTheirCodes) {
    Bytes der = opensslSign(key_.get(), msg_);
    Bytes raw = derToRaw(der);
    Bytes tampered = msg_;
    tampered[0] ^= 1;
    EXPECT_EQ(verify(der, tampered), TOPL_ERR_SM2_VERIFY);
    EXPECT_EQ(verify(raw, tampered), TOPL_ERR_SM2_VERIFY);
    EXPECT_EQ(topl_sm2_rawOrder, 1);  // a failure does not flip the order

    const BIGNUM *n = topl_sm2_getCurve()->n;
    BIGNUM *zero = BN_new(), *one = BN_new();
    BN_zero(zero);
    BN_one(one);
    // Raw signatures are tried in both byte orders and the second attempt's
    // code is returned: a reversed n is in range, so those end as -150412.
    struct Case {
        const char *what;
        const BIGNUM *r, *s;
        int rawCode;
    } cases[] = {{"r = 0", zero, one, TOPL_ERR_SM2_SIG_RANGE},
                 {"r = n", n, one, TOPL_ERR_SM2_VERIFY},
                 {"s = n", one, n, TOPL_ERR_SM2_VERIFY},
                 {"s = 0", one, zero, TOPL_ERR_SM2_SIG_RANGE}};
    Bytes digest = e(msg_);
    for (const auto &c : cases) {
        Bytes sig = rawToDer(c.r, c.s);
        EXPECT_EQ(verify(sig, msg_), TOPL_ERR_SM2_SIG_RANGE) << c.what;
        EXPECT_EQ(verifyDigest(sig, digest), TOPL_ERR_SM2_SIG_RANGE) << c.what;
        Bytes r64(64);
        BN_bn2binpad(c.r, r64.data(), 32);
        BN_bn2binpad(c.s, r64.data() + 32, 32);
        EXPECT_EQ(verify(r64, msg_), c.rawCode) << c.what << " raw";
    }
    // r + s = n
    BIGNUM *nm1 = BN_dup(n);
    BN_sub_word(nm1, 1);
    Bytes sumN = rawToDer(one, nm1);
    EXPECT_EQ(verify(sumN, msg_), TOPL_ERR_SM2_SIG_RANGE);
    BN_free(zero);
    BN_free(one);
    BN_free(nm1);

    Bytes short63(raw.begin(), raw.begin() + 63);
    EXPECT_EQ(verify(short63, msg_), TOPL_ERR_SM2_SIG_SHORT);
    EXPECT_EQ(verifyDigest(short63, digest), TOPL_ERR_SM2_SIG_SHORT);
    EXPECT_EQ(topl_sm2_verify_opl(pub_.get(), nullptr, 0, msg_.data(), 5, raw.data(), 64), TOPL_ERR_SM2_SIG_DER);
    EXPECT_EQ(topl_sm2_verify_opl_byDigest_evp(pub_.get(), digest.data(), 32, raw.data(), 64), TOPL_ERR_SM2_SIG_DER);
    // A DER signature cut short is not DER-looking any more: read as raw, it fails.
    Bytes cut(der.begin(), der.end() - 1);
    EXPECT_EQ(verify(cut, msg_), TOPL_ERR_SM2_VERIFY);

    // A signature made with another key.
    KeyPtr other(newSm2Key());
    EXPECT_EQ(verify(opensslSign(other.get(), msg_), msg_), TOPL_ERR_SM2_VERIFY);
    EXPECT_TRUE(ERR_peek_error() == 0);  // expected failures leave no stale OpenSSL errors
}

TEST_F(Sm2, ArgumentChecksAreLogged) {
    Bytes digest(32, 1), sig(64, 2);
    EXPECT_EQ(topl_sm2_verify_byDigest_evp(nullptr, digest.data(), 32, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_sm2_verify_byDigest_evp arg pubkey is NULL"));
    EXPECT_EQ(topl_sm2_verify_opl_byDigest_evp(pub_.get(), nullptr, 32, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_sm2_verify_opl_byDigest_evp arg pDigestData is NULL"));
    EXPECT_EQ(topl_sm2_verify_raw_byDigest_evp(pub_.get(), digest.data(), 0, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_sm2_verify_raw_byDigest_evp arg nDigestData is <= 0"));
    EXPECT_EQ(topl_sm2_verify_byDigest_evp(pub_.get(), digest.data(), 32, nullptr, 64), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_sm2_verify_byDigest_evp arg pSignData is NULL"));
    EXPECT_EQ(topl_sm2_verify_byDigest_evp(pub_.get(), digest.data(), 32, sig.data(), -1), TCORE_ERR_ARG);
    EXPECT_TRUE(logged("topl_sm2_verify_byDigest_evp arg nSignData is <= 0"));

    EXPECT_EQ(topl_sm2_verify(nullptr, nullptr, 0, msg_.data(), 5, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm2_verify(pub_.get(), nullptr, 0, msg_.data(), 0, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm2_verify_raw(pub_.get(), nullptr, 0, nullptr, 5, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm2_verify_opl(pub_.get(), nullptr, 0, msg_.data(), 5, nullptr, 64), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm2_verify_core(nullptr, digest.data(), 32, nullptr), TCORE_ERR_ARG);
    // A key object without an EC key (RSA).
    KeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
    EXPECT_EQ(topl_sm2_verify(rsa.get(), nullptr, 0, msg_.data(), 5, sig.data(), 64), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm2_verify_byDigest_evp(rsa.get(), digest.data(), 32, sig.data(), 64), TCORE_ERR_ARG);
    unsigned char z[32];
    EXPECT_EQ(tol_sm2_sm3_preprocess1(rsa.get(), nullptr, 0, z), TOPL_ERR_SM2_POINT);
    EXPECT_EQ(topl_sm2_swapHalves(nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sm2_sigIsDer(nullptr, 70), 0);
}

TEST_F(Sm2, IdentityHashZ) {
    unsigned char zNone[32], zZero[32], zDefault[32];
    const unsigned char *id = reinterpret_cast<const unsigned char *>("1234567812345678");
    EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), nullptr, 0, zNone), 32);
    EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), id, 0, zZero), 32);
    EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), id, 16, zDefault), 32);
    EXPECT_EQ(memcmp(zNone, zDefault, 32), 0);
    EXPECT_EQ(memcmp(zZero, zDefault, 32), 0);

    Bytes longId(63, 'I');
    unsigned char z[32];
    EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), longId.data(), 62, z), 32);
    EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), longId.data(), 63, z), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(tol_sm2_sm3_preprocess1(nullptr, nullptr, 0, z), TCORE_ERR_ARG);
    EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), nullptr, 0, nullptr), TCORE_ERR_ARG);
    // A 62-byte ID signed by OpenSSL verifies: Z is laid out as OpenSSL does.
    std::string id62(62, 'I');
    Bytes sig = opensslSign(key_.get(), msg_, id62);
    EXPECT_EQ(verify(sig, msg_, id62.c_str(), 62), 0);

    // Z written out by hand from the layout, over OpenSSL's big numbers.
    const topl_sm2_curve *c = topl_sm2_getCurve();
    BIGNUM *x = nullptr, *y = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x), 1);
    ASSERT_EQ(EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y), 1);
    Bytes in(2 + 16 + 6 * 32);
    in[0] = 0x00;
    in[1] = 0x80;
    memcpy(in.data() + 2, id, 16);
    size_t pos = 18;
    const BIGNUM *fields[] = {c->a, c->b, c->xG, c->yG, x, y};
    for (const BIGNUM *v : fields) {
        BN_bn2binpad(v, in.data() + pos, 32);
        pos += 32;
    }
    unsigned char expect[32];
    unsigned int n;
    EVP_Digest(in.data(), in.size(), expect, &n, EVP_sm3(), nullptr);
    EXPECT_EQ(memcmp(expect, zDefault, 32), 0);
    BN_free(x);
    BN_free(y);
}

// A public key whose x coordinate has a leading zero byte: xA must be
// zero-padded to 32 bytes, or OpenSSL's signature would not verify.
TEST_F(Sm2, LeadingZeroCoordinate) {
    for (int tries = 0; tries < 5000; ++tries) {
        KeyPtr k(newSm2Key());
        BIGNUM *x = nullptr;
        ASSERT_EQ(EVP_PKEY_get_bn_param(k.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x), 1);
        int bytesX = BN_num_bytes(x);
        BN_free(x);
        if (bytesX == 32) continue;
        CertPtr xc(certFor(k.get()));
        KeyPtr pub(topl_key_new_fromCert(xc.get()));
        Bytes sig = opensslSign(k.get(), msg_);
        EXPECT_EQ(topl_sm2_verify(pub.get(), nullptr, 0, msg_.data(), static_cast<int>(msg_.size()), sig.data(),
                                  static_cast<int>(sig.size())),
                  0);
        return;
    }
    FAIL() << "no key with a short x coordinate found";
}

// A raw signature whose first bytes read 30 3E looks like DER; DER decoding
// fails and it is verified as raw. Such an r is made on purpose: the test
// signs with a chosen r (picking e to match) and OpenSSL confirms the result.
TEST_F(Sm2, RawSignatureThatLooksLikeDer) {
    EC_GROUP *group = EC_GROUP_new_by_curve_name(NID_sm2);
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *d = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d), 1);
    const BIGNUM *n = EC_GROUP_get0_order(group);
    BIGNUM *k = BN_new(), *x1 = BN_new(), *r = BN_new(), *e = BN_new(), *s = BN_new(), *t = BN_new();
    EC_POINT *kG = EC_POINT_new(group);
    unsigned char rbytes[32];
    RAND_bytes(rbytes, 32);
    rbytes[0] = 0x30;
    rbytes[1] = 0x3E;
    BN_bin2bn(rbytes, 32, r);
    do {
        BN_rand_range(k, n);
        EC_POINT_mul(group, kG, k, nullptr, nullptr, ctx);
        EC_POINT_get_affine_coordinates(group, kG, x1, nullptr, ctx);
        BN_mod_sub(e, r, x1, n, ctx);              // e = r - x1
        BN_copy(t, d);
        BN_add_word(t, 1);
        BN_mod_inverse(t, t, n, ctx);              // (1 + d)^-1
        BN_mod_mul(s, r, d, n, ctx);
        BN_mod_sub(s, k, s, n, ctx);               // k - r d
        BN_mod_mul(s, s, t, n, ctx);
    } while (BN_is_zero(s));
    Bytes digest(32), raw(64);
    BN_bn2binpad(e, digest.data(), 32);
    BN_bn2binpad(r, raw.data(), 32);
    BN_bn2binpad(s, raw.data() + 32, 32);
    ASSERT_TRUE(opensslVerifyDigest(key_.get(), digest, rawToDer(r, s)));
    ASSERT_EQ(topl_sm2_sigIsDer(raw.data(), 64), 1);
    EXPECT_EQ(verifyDigest(raw, digest), 0);
    for (BIGNUM *b : {k, x1, r, e, s, t, d}) BN_free(b);
    EC_POINT_free(kG);
    BN_CTX_free(ctx);
    EC_GROUP_free(group);
}

TEST_F(Sm2, PrivateKeysFromDerAndPkcs8) {
    EC_KEY *ec = EVP_PKEY_get1_EC_KEY(key_.get());
    ASSERT_NE(ec, nullptr);
    for (bool withParams : {true, false}) {
        EC_KEY_set_enc_flags(ec, withParams ? 0 : EC_PKEY_NO_PARAMETERS);
        unsigned char *der = nullptr;
        int n = i2d_ECPrivateKey(ec, &der);
        ASSERT_GT(n, 0);
        KeyPtr priv(topl_sm2key_fromDer(der, n));
        OPENSSL_free(der);
        ASSERT_TRUE(priv) << withParams;
        EXPECT_EQ(topl_sm2key_attachCert(cert_.get(), priv.get()), 0);
        unsigned char z1[32], z2[32];
        EXPECT_EQ(tol_sm2_sm3_preprocess1(priv.get(), nullptr, 0, z1), 32);
        EXPECT_EQ(tol_sm2_sm3_preprocess1(pub_.get(), nullptr, 0, z2), 32);
        EXPECT_EQ(memcmp(z1, z2, 32), 0);
        // The certificate of another key does not match.
        KeyPtr other(newSm2Key());
        CertPtr otherCert(certFor(other.get()));
        EXPECT_EQ(topl_sm2key_attachCert(otherCert.get(), priv.get()), TOPL_ERR_SM2_KEYCHECK);
    }
    EC_KEY_free(ec);
    const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(topl_sm2key_fromDer(junk, sizeof junk), nullptr);
    EXPECT_EQ(topl_sm2key_fromDer(nullptr, 5), nullptr);
    EXPECT_EQ(topl_sm2key_fromDer(junk, -1), nullptr);
    EXPECT_EQ(topl_sm2key_attachCert(cert_.get(), nullptr), TCORE_ERR_ARG);
    ERR_clear_error();

    PKCS8_PRIV_KEY_INFO *p8 = EVP_PKEY2PKCS8(key_.get());
    ASSERT_NE(p8, nullptr);
    EVP_PKEY *fromP8 = nullptr;
    EXPECT_EQ(topl_sm2key_fromPkcs8(p8, &fromP8), 0);
    ASSERT_NE(fromP8, nullptr);
    EXPECT_EQ(topl_sm2key_attachCert(cert_.get(), fromP8), 0);
    EVP_PKEY_free(fromP8);
    PKCS8_PRIV_KEY_INFO_free(p8);
    EXPECT_EQ(topl_sm2key_fromPkcs8(nullptr, &fromP8), TCORE_ERR_ARG);

    KeyPtr p256(newP256Key());
    p8 = EVP_PKEY2PKCS8(p256.get());
    EXPECT_EQ(topl_sm2key_fromPkcs8(p8, &fromP8), TOPL_ERR_P8_NOT_SM2);
    EXPECT_EQ(fromP8, nullptr);
    PKCS8_PRIV_KEY_INFO_free(p8);
    KeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
    p8 = EVP_PKEY2PKCS8(rsa.get());
    EXPECT_EQ(topl_sm2key_fromPkcs8(p8, &fromP8), TOPL_ERR_P8_PARAM);  // NULL parameter
    PKCS8_PRIV_KEY_INFO_free(p8);
}

TEST_F(Sm2, CertificateClassesAndForeignCurves) {
    EXPECT_EQ(topl_x509cert_isSm2(cert_.get()), 1);
    KeyPtr p256(newP256Key());
    CertPtr p256cert(certFor(p256.get()));
    EXPECT_EQ(topl_x509cert_isSm2(p256cert.get()), 1);  // every EC certificate counts
    EXPECT_EQ(topl_key_new_fromCert(p256cert.get()), nullptr);  // but its point is not on the SM2 curve
    EXPECT_TRUE(logged("topl_sm2key_loadPubKey error -150403"));
    KeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024)));
    CertPtr rsaCert(certFor(rsa.get()));
    EXPECT_EQ(topl_x509cert_isSm2(rsaCert.get()), 0);
    EXPECT_EQ(topl_x509cert_isSm2(nullptr), 0);
    CertPtr empty(X509_new());
    EXPECT_EQ(topl_x509cert_isSm2(empty.get()), 0);
    EXPECT_EQ(topl_key_new_fromCert(empty.get()), nullptr);
}

}  // namespace
