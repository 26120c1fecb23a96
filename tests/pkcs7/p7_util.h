// Helpers of the PKCS#7 tests: fixtures, OpenSSL signing as an independent
// peer, a tiny DER writer for hand-built messages, and the openssl CLI.
#pragma once
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sealdesk_test.h"
#include "topl/topl_sm2.h"

namespace p7test {

using Bytes = std::vector<unsigned char>;

inline std::string fixture(const std::string &name) { return std::string(P7_FIXTURES) + "/" + name; }

inline std::string fileText(const std::string &path) { return sealdesk_test::readFile(path); }

inline Bytes toBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

inline X509 *loadCert(const std::string &name) {
    FILE *f = fopen(fixture(name).c_str(), "r");
    if (!f) return nullptr;
    X509 *x = PEM_read_X509(f, nullptr, nullptr, nullptr);
    fclose(f);
    return x;
}

inline EVP_PKEY *loadKey(const std::string &name) {
    FILE *f = fopen(fixture(name).c_str(), "r");
    if (!f) return nullptr;
    EVP_PKEY *k = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    fclose(f);
    return k;
}

inline Bytes certDer(const std::string &name) {
    X509 *x = loadCert(name);
    Bytes out;
    if (!x) return out;
    int n = i2d_X509(x, nullptr);
    out.resize(n);
    unsigned char *p = out.data();
    i2d_X509(x, &p);
    X509_free(x);
    return out;
}

inline const EVP_MD *mdOfKid(int kid) {
    switch (kid) {
    case 101: return EVP_md5();
    case 102: return EVP_sha1();
    case 103: return EVP_sha256();
    case 104: return EVP_sha512();
    case 105: return EVP_sha384();
    default: return nullptr;
    }
}

// PKCS#1 v1.5 RSA signature (or SM2 with SM3 and the default user ID) over data.
inline Bytes sign(const std::string &keyName, const EVP_MD *md, const Bytes &data) {
    EVP_PKEY *key = loadKey(keyName);
    Bytes sig;
    if (!key) return sig;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = nullptr;
    bool sm2 = EVP_PKEY_is_a(key, "SM2");
    if (sm2) {
        pctx = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16);
        EVP_MD_CTX_set_pkey_ctx(ctx, pctx);
        md = EVP_sm3();
    }
    size_t n = 0;
    if (EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
        EVP_DigestSign(ctx, nullptr, &n, data.data(), data.size()) == 1) {
        sig.resize(n);
        if (EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size()) == 1)
            sig.resize(n);
        else
            sig.clear();
    }
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_CTX_free(pctx);
    EVP_PKEY_free(key);
    return sig;
}

// DER ECDSA_SIG -> 64 octets r || s.
inline Bytes derToRaw(const Bytes &der) {
    const unsigned char *p = der.data();
    ECDSA_SIG *s = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    Bytes raw(64, 0);
    if (!s) return Bytes();
    BN_bn2binpad(ECDSA_SIG_get0_r(s), raw.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(s), raw.data() + 32, 32);
    ECDSA_SIG_free(s);
    return raw;
}

inline Bytes digest(const EVP_MD *md, const Bytes &data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

// ---- tiny DER writer ----
inline Bytes tlv(unsigned char tag, const Bytes &content) {
    Bytes out{tag};
    size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes len;
        for (size_t v = n; v; v >>= 8) len.insert(len.begin(), static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &b : parts) out.insert(out.end(), b.begin(), b.end());
    return out;
}
inline Bytes oid(const char *text) {
    ASN1_OBJECT *o = OBJ_txt2obj(text, 1);
    Bytes out(i2d_ASN1_OBJECT(o, nullptr));
    unsigned char *p = out.data();
    i2d_ASN1_OBJECT(o, &p);
    ASN1_OBJECT_free(o);
    return out;
}
inline Bytes seq(std::initializer_list<Bytes> parts) { return tlv(0x30, cat(parts)); }
inline Bytes set(std::initializer_list<Bytes> parts) { return tlv(0x31, cat(parts)); }
inline Bytes algNull(const char *o) { return seq({oid(o), Bytes{0x05, 0x00}}); }
inline Bytes attribute(const char *o, const Bytes &value) { return seq({oid(o), set({value})}); }

// IssuerAndSerialNumber copied from a certificate's DER.
inline Bytes issuerAndSerial(const Bytes &cert) {
    const unsigned char *p = cert.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(cert.size()));
    if (!x) return Bytes();
    Bytes name(i2d_X509_NAME(X509_get_issuer_name(x), nullptr));
    unsigned char *q = name.data();
    i2d_X509_NAME(X509_get_issuer_name(x), &q);
    Bytes serial(i2d_ASN1_INTEGER(X509_get_serialNumber(x), nullptr));
    q = serial.data();
    i2d_ASN1_INTEGER(X509_get_serialNumber(x), &q);
    X509_free(x);
    return seq({name, serial});
}

// ContentInfo { signedData, [0] SignedData } from its parts. content null:
// detached (contentInfo holds only the data OID).
inline Bytes signedData(const Bytes &digestAlg, const Bytes *content, const std::vector<Bytes> &certs,
                        const Bytes &signerInfo) {
    Bytes ci = content ? seq({oid("1.2.840.113549.1.7.1"), tlv(0xA0, tlv(0x04, *content))})
                       : seq({oid("1.2.840.113549.1.7.1")});
    Bytes certBytes;
    for (const Bytes &c : certs) certBytes.insert(certBytes.end(), c.begin(), c.end());
    Bytes body = cat({Bytes{0x02, 0x01, 0x01}, set({digestAlg}), ci});
    if (!certs.empty()) body = cat({body, tlv(0xA0, certBytes)});
    body = cat({body, set({signerInfo})});
    return seq({oid("1.2.840.113549.1.7.2"), tlv(0xA0, tlv(0x30, body))});
}

// SignerInfo with signed attributes; the signature is made over `signedSet`
// (the SET the signer signs) and the attributes are sent as `sentAttrs`
// (the contents of [0]).
inline Bytes signerInfoWithAttrs(const Bytes &cert, const Bytes &digestAlg, const Bytes &sentAttrs,
                                 const Bytes &sigAlg, const Bytes &sig, const Bytes *unsignedAttrs = nullptr) {
    Bytes body = cat({Bytes{0x02, 0x01, 0x01}, issuerAndSerial(cert), digestAlg, tlv(0xA0, sentAttrs), sigAlg,
                      tlv(0x04, sig)});
    if (unsignedAttrs) body = cat({body, tlv(0xA1, *unsignedAttrs)});
    return tlv(0x30, body);
}

inline bool contains(const Bytes &hay, const Bytes &needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

inline std::string sh(const std::string &cmd, int *rc = nullptr) {
    std::string out;
    int r = sealdesk_test::run(cmd + " 2>&1", &out);
    if (rc) *rc = r;
    return out;
}

// Standard base64 of DER bytes, no line breaks.
inline std::string base64(const Bytes &der) {
    std::string s(((der.size() + 2) / 3) * 4 + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(s.data()), der.data(), static_cast<int>(der.size()));
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

// A fresh home and work folder with the SM2 curve built; a non-empty
// `content` is written to content.bin there for the openssl CLI.
class P7Fixture : public sealdesk_test::HomeTest {
protected:
    void start(const Bytes &content = Bytes()) {
        HomeTest::SetUp();
        ASSERT_EQ(topl_sm2_init(), 0);
        dir_ = std::make_unique<sealdesk_test::TempDir>();
        if (!content.empty())
            sealdesk_test::writeFile(path("content.bin"), std::string(content.begin(), content.end()));
    }
    std::string path(const std::string &name) const { return (dir_->path() / name).string(); }

    std::unique_ptr<sealdesk_test::TempDir> dir_;
};

}  // namespace p7test
