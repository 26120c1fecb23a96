// SM2 keys, certificates and signatures made by OpenSSL 3 itself, the
// independent peer for the SM2 tests.
#pragma once
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sm2_helpers {

using Bytes = std::vector<unsigned char>;

inline Bytes bytes(const std::string &s) { return {s.begin(), s.end()}; }

inline EVP_PKEY *newSm2Key() { return EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"); }
inline EVP_PKEY *newP256Key() { return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"); }

// An unsigned certificate carrying the key's public half (enough for the
// functions that read a certificate's public key).
inline X509 *certFor(EVP_PKEY *key) {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    X509_set_pubkey(x, key);
    return x;
}

// OpenSSL's SM2 signature (DER) over message with the given ID (set
// explicitly: OpenSSL 3.0 uses an empty ID unless told).
inline Bytes opensslSign(EVP_PKEY *key, const Bytes &msg, const std::string &id = "1234567812345678") {
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new(key, nullptr);
    EXPECT_EQ(EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size()), 1);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    EXPECT_EQ(EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key), 1);
    size_t n = 0;
    EXPECT_EQ(EVP_DigestSign(md, nullptr, &n, msg.data(), msg.size()), 1);
    Bytes sig(n);
    EXPECT_EQ(EVP_DigestSign(md, sig.data(), &n, msg.data(), msg.size()), 1);
    sig.resize(n);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return sig;
}

// OpenSSL's SM2 check of a DER signature over a ready digest e.
inline bool opensslVerifyDigest(EVP_PKEY *key, const Bytes &e, const Bytes &sig) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = EVP_PKEY_verify_init(c) == 1 && EVP_PKEY_verify(c, sig.data(), sig.size(), e.data(), e.size()) == 1;
    EVP_PKEY_CTX_free(c);
    return ok;
}

// DER ECDSA_SIG -> 64 raw bytes r || s (big-endian halves).
inline Bytes derToRaw(const Bytes &der) {
    const unsigned char *p = der.data();
    ECDSA_SIG *sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    Bytes raw(64);
    if (!sig) return {};
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw.data() + 32, 32);
    ECDSA_SIG_free(sig);
    return raw;
}

// 64 raw bytes -> DER, with r and s as given (no range checks).
inline Bytes rawToDer(const BIGNUM *r, const BIGNUM *s) {
    ECDSA_SIG *sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_dup(r), BN_dup(s));
    unsigned char *der = nullptr;
    int n = i2d_ECDSA_SIG(sig, &der);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return out;
}

inline Bytes swapHalves(Bytes raw) {
    std::reverse(raw.begin(), raw.begin() + 32);
    std::reverse(raw.begin() + 32, raw.begin() + 64);
    return raw;
}

}  // namespace sm2_helpers
