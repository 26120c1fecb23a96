// Z, e and verification bind a key object to the process-wide SM2 curve: a
// key on another curve is refused, not hashed with SM2's parameters.
#include "sm2_helpers.h"

#include "tcore/tcore_errors.h"
#include "topl/topl_errors.h"
#include "topl/topl_sm2.h"

#include <openssl/err.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace sm2_helpers;

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

TEST(Sm2CurveBinding, KeysOfAnotherCurveGiveNoZ) {
    ASSERT_EQ(topl_sm2_init(), 0);
    KeyPtr sm2(newSm2Key()), p256(newP256Key());
    ASSERT_TRUE(sm2 && p256);
    unsigned char z[32];
    // An OpenSSL key on the SM2 curve is read over the process-wide group.
    EXPECT_EQ(tol_sm2_sm3_preprocess1(sm2.get(), nullptr, 0, z), 32);

    EXPECT_EQ(tol_sm2_sm3_preprocess1(p256.get(), nullptr, 0, z), TOPL_ERR_SM2_POINT);
    Bytes msg = bytes("message");
    unsigned char e[32];
    EXPECT_EQ(tol_sm2_sm3_preprocess2(p256.get(), msg.data(), static_cast<int>(msg.size()), nullptr, 0, e),
              TOPL_ERR_SM2_POINT);
    BIGNUM *x = nullptr, *y = nullptr;
    EXPECT_LT(topl_sm2key_getXY(p256.get(), &x, &y), 0);
    EXPECT_EQ(x, nullptr);
    EXPECT_EQ(y, nullptr);

    // Its own (P-256 ECDSA) signature reaches the Z step and stops there.
    Bytes raw(64, 0x11);
    EXPECT_EQ(topl_sm2_verify(p256.get(), nullptr, 0, msg.data(), static_cast<int>(msg.size()), raw.data(), 64),
              TOPL_ERR_SM2_POINT);
    ERR_clear_error();
}

}  // namespace
