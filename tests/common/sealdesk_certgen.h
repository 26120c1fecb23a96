// Test keys and certificates made with OpenSSL: RSA, SM2 and P-256 keys,
// self-signed certificates with chosen subject, serial and key usage.
#pragma once
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sealdesk_test {

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

inline Pkey rsaKey(int bits = 2048) {
    return Pkey(EVP_RSA_gen(static_cast<unsigned>(bits)));
}

// Private key from a PEM file; null when it cannot be read.
inline Pkey readPrivateKey(const std::string &pemPath) {
    BIO *b = BIO_new_file(pemPath.c_str(), "r");
    EVP_PKEY *k = b ? PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(b);
    return Pkey(k);
}

// SM2 key (curve SM2) or an EC key on another named curve ("P-256").
inline Pkey ecKey(const char *curve) {
    EVP_PKEY *k = nullptr;
    bool sm2 = std::string(curve) == "SM2";
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_name(nullptr, sm2 ? "SM2" : "EC", nullptr);
    if (c && EVP_PKEY_keygen_init(c) == 1 && EVP_PKEY_CTX_set_group_name(c, curve) == 1)
        EVP_PKEY_keygen(c, &k);
    EVP_PKEY_CTX_free(c);
    return Pkey(k);
}

struct CertSpec {
    // Subject entries in encoded order: {key, value, same-RDN-as-previous}.
    struct Entry {
        std::string key;
        std::string value;
        bool sameRdn = false;
    };
    std::vector<Entry> subject = {{"CN", "Test", false}};
    std::vector<uint8_t> serial = {0x01, 0x23, 0x45};  // big-endian content
    const char *keyUsage = "digitalSignature";            // null: no extension
    long notBeforeOffset = -3600;                          // seconds from now
    long notAfterOffset = 365L * 24 * 3600;
    const char *notBefore = nullptr;  // fixed times "YYYYMMDDhhmmssZ" instead of offsets
    const char *notAfter = nullptr;
};

// Self-signed certificate (signed with SHA-256; SM2 keys with SM3) as DER.
inline std::vector<uint8_t> makeCert(EVP_PKEY *key, const CertSpec &certSpec = CertSpec()) {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    BIGNUM *bn = BN_bin2bn(certSpec.serial.data(), static_cast<int>(certSpec.serial.size()), nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(x), certSpec.notBeforeOffset);
    X509_gmtime_adj(X509_getm_notAfter(x), certSpec.notAfterOffset);
    if (certSpec.notBefore) ASN1_TIME_set_string_X509(X509_getm_notBefore(x), certSpec.notBefore);
    if (certSpec.notAfter) ASN1_TIME_set_string_X509(X509_getm_notAfter(x), certSpec.notAfter);
    X509_NAME *name = X509_NAME_new();
    for (const auto &e : certSpec.subject) {
        // loc -1 appends; set -1 joins the previous RDN, 0 starts a new one.
        if (X509_NAME_add_entry_by_txt(name, e.key.c_str(), MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char *>(e.value.c_str()),
                                       -1, -1, e.sameRdn ? -1 : 0) != 1)
            throw std::runtime_error("bad name entry " + e.key);
    }
    X509_set_subject_name(x, name);
    X509_set_issuer_name(x, name);
    X509_NAME_free(name);
    X509_set_pubkey(x, key);
    if (certSpec.keyUsage) {
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
        X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_key_usage, certSpec.keyUsage);
        if (!ext) throw std::runtime_error("bad key usage");
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }
    const EVP_MD *md = EVP_PKEY_is_a(key, "SM2")       ? EVP_sm3()
                       : EVP_PKEY_is_a(key, "ED25519") ? nullptr
                                                       : EVP_sha256();
    if (X509_sign(x, key, md) <= 0) {
        X509_free(x);
        throw std::runtime_error("X509_sign failed");
    }
    unsigned char *der = nullptr;
    int n = i2d_X509(x, &der);
    std::vector<uint8_t> out(der, der + n);
    OPENSSL_free(der);
    X509_free(x);
    return out;
}

// The text written to a memory BIO, which it frees.
inline std::string takeBioText(BIO *b) {
    char *data = nullptr;
    long n = BIO_get_mem_data(b, &data);
    std::string s(data, n > 0 ? static_cast<size_t>(n) : 0);
    BIO_free(b);
    return s;
}

inline std::string toPem(const std::vector<uint8_t> &der) {
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    BIO *b = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(b, x);
    std::string s = takeBioText(b);
    X509_free(x);
    return s;
}

inline std::string keyToPem(EVP_PKEY *k) {
    BIO *b = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr);
    return takeBioText(b);
}

inline std::string publicKeyToPem(EVP_PKEY *k) {
    BIO *b = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(b, k);
    return takeBioText(b);
}

// SM2 verification (SM3, default user ID) of a DER signature over `data`.
inline bool sm2VerifiesDer(EVP_PKEY *key, const unsigned char *data, size_t dataLen,
                           const unsigned char *der, size_t derLen) {
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool ok = md && pctx && EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16) == 1;
    if (ok) EVP_MD_CTX_set_pkey_ctx(md, pctx);
    ok = ok && EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
         EVP_DigestVerify(md, der, derLen, data, dataLen) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

// The same for a big-endian r || s (64 octets) over `data`.
inline bool sm2Verifies(EVP_PKEY *key, const std::string &data, const std::vector<uint8_t> &rs) {
    if (rs.size() != 64) return false;
    ECDSA_SIG *es = ECDSA_SIG_new();
    ECDSA_SIG_set0(es, BN_bin2bn(rs.data(), 32, nullptr), BN_bin2bn(rs.data() + 32, 32, nullptr));
    unsigned char *der = nullptr;
    int len = i2d_ECDSA_SIG(es, &der);
    ECDSA_SIG_free(es);
    bool ok = len > 0 && sm2VerifiesDer(key, reinterpret_cast<const unsigned char *>(data.data()),
                                        data.size(), der, static_cast<size_t>(len));
    OPENSSL_free(der);
    return ok;
}

}  // namespace sealdesk_test
