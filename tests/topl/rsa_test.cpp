#include "cert_fixture.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_errors.h"
#include "topl/topl_rsa.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using cert_fixture::Keys;
using cert_fixture::sh;
using sealdesk_test::readFile;
using sealdesk_test::writeFile;

std::vector<std::string> g_log;
void capture(const char *text) { g_log.emplace_back(text); }

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }
int len(const std::string &s) { return static_cast<int>(s.size()); }

class Rsa : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        keys_ = new Keys();
        writeFile(keys_->path("data"), "data signed with openssl dgst");
        key_ = sealdesk_test::readPrivateKey(keys_->path("rsa.pem")).release();
    }
    static void TearDownTestSuite() {
        EVP_PKEY_free(key_);
        delete keys_;
    }
    void SetUp() override {
        g_log.clear();
        tcore_log_sink = capture;
    }
    void TearDown() override {
        tcore_log_sink = nullptr;
        ERR_clear_error();
    }
    // openssl dgst -<digest> -sign: a PKCS#1 v1.5 signature with DigestInfo.
    static std::string dgstSign(const std::string &digest) {
        sh("cd " + keys_->dir() + " && openssl dgst -" + digest + " -sign rsa.pem -out sig data");
        return readFile(keys_->path("sig"));
    }
    // openssl pkeyutl over raw input with the given padding.
    static std::string pkeyutlSign(const std::string &in, const std::string &padding) {
        writeFile(keys_->path("in"), in);
        sh("cd " + keys_->dir() + " && openssl pkeyutl -sign -inkey rsa.pem -pkeyopt rsa_padding_mode:" + padding +
           " -in in -out sig");
        return readFile(keys_->path("sig"));
    }
    static std::string data() { return readFile(keys_->path("data")); }
    static Keys *keys_;
    static EVP_PKEY *key_;
};
Keys *Rsa::keys_ = nullptr;
EVP_PKEY *Rsa::key_ = nullptr;

TEST_F(Rsa, DgstSignaturesForEveryDigestVerifyAndReportTheirKid) {
    struct Case {
        const char *digest;
        int kid;
        int (*oneShot)(const unsigned char *, int, unsigned char *, int);
        int mdlen;
    } cases[] = {{"md5", 101, topl_md5, 16},
                 {"sha1", 102, topl_sha1, 20},
                 {"sha256", 103, topl_sha256, 32},
                 {"sha512", 104, topl_sha512, 64},
                 {"sha384", 105, topl_sha384, 48}};
    const std::string msg = data();
    for (const auto &c : cases) {
        const std::string sig = dgstSign(c.digest);
        ASSERT_EQ(sig.size(), 256u) << c.digest;
        EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(sig), len(sig)), 0) << c.digest;
        int kid = 0;
        EXPECT_EQ(topl_rsa_verify(key_, &kid, u(msg), len(msg), u(sig), len(sig)), 0) << c.digest;
        EXPECT_EQ(kid, c.kid) << c.digest;
        kid = c.kid;
        EXPECT_EQ(topl_rsa_verify(key_, &kid, u(msg), len(msg), u(sig), len(sig)), 0) << c.digest;
        // The expected digest differs from the one in the signature.
        kid = c.kid == 102 ? 103 : 102;
        EXPECT_EQ(topl_rsa_verify(key_, &kid, u(msg), len(msg), u(sig), len(sig)), TOPL_ERR_DIGEST_MISMATCH)
            << c.digest;

        unsigned char md[64];
        ASSERT_EQ(c.oneShot(u(msg), len(msg), md, sizeof md), c.mdlen);
        kid = 0;
        EXPECT_EQ(topl_rsa_verify_byDigest(key_, &kid, md, c.mdlen, u(sig), len(sig)), 0) << c.digest;
        EXPECT_EQ(kid, c.kid);
        md[0] ^= 1;
        EXPECT_EQ(topl_rsa_verify_byDigest(key_, nullptr, md, c.mdlen, u(sig), len(sig)), TOPL_ERR_RSA_BAD_SIG);
        std::string other = msg + "!";
        EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(other), len(other), u(sig), len(sig)), TOPL_ERR_RSA_BAD_SIG);
    }
}

TEST_F(Rsa, LengthAndKeyChecks) {
    const std::string msg = data(), sig = dgstSign("sha256");
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(sig), len(sig) - 1), TOPL_ERR_RSA_SIG_LEN);
    std::string longer = sig + "x";
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(longer), len(longer)), TOPL_ERR_RSA_SIG_LEN);
    unsigned char sha1[20];
    topl_sha1(u(msg), len(msg), sha1, 20);
    int kid = 103;
    EXPECT_EQ(topl_rsa_verify_byDigest(key_, &kid, sha1, 20, u(sig), len(sig)), TOPL_ERR_DIGEST_MISMATCH);

    EVP_PKEY *sm2 = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    EXPECT_EQ(topl_rsa_verify(sm2, nullptr, u(msg), len(msg), u(sig), len(sig)), TOPL_ERR_KEY_TYPE);
    EVP_PKEY_free(sm2);
    EXPECT_EQ(topl_rsa_verify(nullptr, nullptr, u(msg), len(msg), u(sig), len(sig)), TCORE_ERR_ARG);
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), 0, u(sig), len(sig)), TCORE_ERR_ARG);
    EXPECT_EQ(topl_rsa_verify_byDigest(key_, nullptr, sha1, 20, nullptr, 256), TCORE_ERR_ARG);
    // Garbage of the right size that is not below the modulus / not PKCS#1.
    std::string junk(256, '\xFF');
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(junk), len(junk)), TOPL_ERR_RSA_DECRYPT);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

// A block of type 02 is decrypted again without padding and compared whole.
TEST_F(Rsa, BlockTypeNot01IsRetriedWithoutPadding) {
    std::string block(256, '\xAB');
    block[0] = 0x00;
    block[1] = 0x02;
    // The raw private-key operation on a chosen block (pkeyutl -sign refuses
    // inputs of modulus size; -decrypt without padding is the same operation).
    writeFile(keys_->path("in"), block);
    sh("cd " + keys_->dir() + " && openssl pkeyutl -decrypt -inkey rsa.pem -pkeyopt rsa_padding_mode:none -in in -out sig");
    const std::string sig = readFile(keys_->path("sig"));
    EXPECT_EQ(topl_rsa_verify_byDigest(key_, nullptr, u(block), len(block), u(sig), len(sig)), 0);
    bool retried = false;
    for (const auto &l : g_log)
        if (l.find("openssl error [67567722] , try rsa decrypt with nopadding") != std::string::npos) retried = true;
    EXPECT_TRUE(retried);
    const std::string msg = data();
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(sig), len(sig)), TOPL_ERR_RSA_BAD_SIG);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

// A PKCS#1 block holding a bare digest (no DigestInfo).
TEST_F(Rsa, BareDigestBlocks) {
    const std::string msg = data();
    unsigned char sha1[20], sha256[32];
    topl_sha1(u(msg), len(msg), sha1, 20);
    topl_sha256(u(msg), len(msg), sha256, 32);
    std::string sig = pkeyutlSign(std::string(reinterpret_cast<char *>(sha1), 20), "pkcs1");
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(sig), len(sig)), 0);  // taken as SHA-1
    int kid = 0;
    EXPECT_EQ(topl_rsa_verify_byDigest(key_, &kid, sha1, 20, u(sig), len(sig)), 0);
    EXPECT_EQ(kid, 0);  // no DigestInfo: the pointer is left alone
    sig = pkeyutlSign(std::string(reinterpret_cast<char *>(sha256), 32), "pkcs1");
    EXPECT_EQ(topl_rsa_verify(key_, nullptr, u(msg), len(msg), u(sig), len(sig)), TOPL_ERR_RSA_BAD_SIG);
    kid = 103;
    EXPECT_EQ(topl_rsa_verify(key_, &kid, u(msg), len(msg), u(sig), len(sig)), 0);
    kid = 108;  // MD5+SHA-1 has no one-shot digest here
    EXPECT_EQ(topl_rsa_verify(key_, &kid, u(msg), len(msg), u(sig), len(sig)), TOPL_ERR_ALG);
}

TEST(RsaTables, IdsNidsAndLengths) {
    struct Case {
        int kid, nid, mdlen;
    } cases[] = {{101, 4, 16}, {102, 64, 20}, {103, 672, 32}, {104, 674, 64}, {105, 673, 48}};
    for (const auto &c : cases) {
        EXPECT_EQ(topl_rsa_kid2nid(c.kid), c.nid);
        EXPECT_EQ(topl_rsa_nid2kid(c.nid), c.kid);
        EXPECT_EQ(topl_rsa_kid2mdlen(c.kid), c.mdlen);
    }
    EXPECT_EQ(topl_rsa_nid2kid(114), 108);
    EXPECT_EQ(topl_rsa_kid2mdlen(108), 36);
    EXPECT_EQ(topl_rsa_kid2nid(108), TOPL_ERR_ALG);
    EXPECT_EQ(topl_rsa_kid2nid(110), TOPL_ERR_ALG);
    EXPECT_EQ(topl_rsa_nid2kid(6), TOPL_ERR_ALG);
    EXPECT_EQ(topl_rsa_kid2mdlen(100), TOPL_ERR_ALG);
}

TEST(RsaOneShot, OutputRules) {
    const unsigned char abc[] = {'a', 'b', 'c'};
    unsigned char out[40];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(topl_sha256(abc, 3, nullptr, 0), 32);
    EXPECT_EQ(topl_sha256(abc, 3, out, 31), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(out[0], 0xEE);  // nothing written
    EXPECT_EQ(topl_sha256(abc, 3, out, 40), 32);
    EXPECT_EQ(out[0], 0xBA);  // SHA-256("abc") = ba7816bf...
    EXPECT_EQ(out[39], 0);    // whole capacity cleared
    EXPECT_EQ(topl_md5(nullptr, 3, out, 40), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sha1(abc, -1, out, 40), TCORE_ERR_ARG);
    EXPECT_EQ(topl_sha512(abc, 0, nullptr, 0), 64);
    EXPECT_EQ(topl_sha384(abc, 3, nullptr, 0), 48);
}

}  // namespace
