// The two SignedData encoders: layout, interoperability with the openssl
// CLI, and their differences.
#include <openssl/x509.h>

#include <cstdlib>

#include "p7_util.h"
#include "tasn1/tasn1.h"
#include "tasn1/tasn1_p7sign.h"
#include "tasn1/tasn1_pkcs7.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_sm2.h"

using namespace p7test;

namespace {

struct Msg {
    int rc = 0;
    Bytes der;
};

Msg libAttach(int kid, const Bytes &content, const std::string &cert, const Bytes &sig) {
    unsigned char *out = nullptr;
    Msg m;
    m.rc = tasn1_p7sign_encode_attach(kid, content.data(), static_cast<int>(content.size()), cert.data(),
                                      static_cast<int>(cert.size()), sig.data(), static_cast<int>(sig.size()), &out);
    if (m.rc > 0) m.der.assign(out, out + m.rc);
    free(out);
    return m;
}

Msg libDetach(int kid, const std::string &cert, const Bytes &sig) {
    unsigned char *out = nullptr;
    Msg m;
    m.rc = tasn1_p7sign_encode_detach(kid, cert.data(), static_cast<int>(cert.size()), sig.data(),
                                      static_cast<int>(sig.size()), &out);
    if (m.rc > 0) m.der.assign(out, out + m.rc);
    free(out);
    return m;
}

Msg oplEncode(int kid, const Bytes *content, X509 *cert, const Bytes &sig) {
    unsigned char *out = nullptr;
    Msg m;
    m.rc = topl_p7sign_encode(sig.data(), static_cast<int>(sig.size()), cert, content ? content->data() : nullptr,
                              content ? static_cast<int>(content->size()) : 0, kid, &out);
    if (m.rc > 0) m.der.assign(out, out + m.rc);
    free(out);
    return m;
}

std::string derText(const Bytes &der) { return std::string(der.begin(), der.end()); }

class P7Encode : public P7Fixture {
protected:
    void SetUp() override { start(); }
    void save(const std::string &name, const Bytes &b) { sealdesk_test::writeFile(path(name), derText(b)); }

    // openssl cms -verify of a message; returns the exit status and the
    // verified content in *out.
    int cmsVerify(const Bytes &msg, const Bytes *detachedContent, Bytes *out) {
        save("m.der", msg);
        std::string cmd = "openssl cms -verify -binary -inform DER -noverify -in " + path("m.der") + " -out " +
                          path("out.bin");
        if (detachedContent) {
            save("content.bin", *detachedContent);
            cmd += " -content " + path("content.bin");
        }
        int rc = -1;
        std::string log = sh(cmd, &rc);
        if (rc != 0) ADD_FAILURE() << cmd << "\n" << log;
        *out = toBytes(sealdesk_test::readFile(path("out.bin")));
        return rc;
    }

};

const Bytes kContent = toBytes(std::string("Contract 2026-117: pay 1 000 EUR to sealdesk.\n\x00\x01\xFF binary tail", 61));

// The content types, digest and signature algorithm as DER octets.
const Bytes kOidSignedData = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kOidSm2SignedData = {0x06, 0x0A, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x06, 0x01, 0x04, 0x02, 0x02};
const Bytes kOidSm2Data = {0x06, 0x0A, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x06, 0x01, 0x04, 0x02, 0x01};
const Bytes kAlgSm3 = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x11, 0x05, 0x00};
const Bytes kAlgSha1 = {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00};
const Bytes kAlgRsa = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
const Bytes kAlgSm2Sign = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D, 0x01, 0x05, 0x00};
const Bytes kLibDetachedCi = {0x30, 0x0F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                              0x01, 0x07, 0x01, 0xA0, 0x02, 0x04, 0x00};
const Bytes kOplDetachedCi = {0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};

Bytes prefix(const Bytes &oidDer, const Bytes &msg) {
    // 30 L(2..4 octets) then the OID: skip the outer tag and length.
    size_t skip = (msg[1] & 0x80) ? 2 + (msg[1] & 0x7F) : 2;
    return Bytes(msg.begin() + skip, msg.begin() + skip + oidDer.size());
}

}  // namespace

// Every digest id, attached and detached, from both encoders: openssl cms
// accepts the signature and gives back the content; our verifier agrees;
// the two attached forms are the same octets for a DER certificate.
TEST_F(P7Encode, RsaMessagesVerifyWithOpensslCms) {
    const std::string pem = fileText(fixture("rsa.pem"));
    const Bytes der = certDer("rsa.pem");
    X509Ptr certOwner(loadCert("rsa.pem"));
    X509 *cert = certOwner.get();
    ASSERT_NE(cert, nullptr);
    for (int kid : {101, 102, 103, 104, 105}) {
        SCOPED_TRACE("digest id " + std::to_string(kid));
        Bytes sig = sign("rsa.key", mdOfKid(kid), kContent);
        ASSERT_EQ(sig.size(), 256u);

        Msg attached = libAttach(kid, kContent, pem, sig);
        ASSERT_GT(attached.rc, 0);
        Msg attachedFromDer = libAttach(kid, kContent, derText(der), sig);
        Msg opl = oplEncode(kid, &kContent, cert, sig);
        ASSERT_GT(opl.rc, 0);
        EXPECT_EQ(attachedFromDer.der, attached.der);
        EXPECT_EQ(opl.der, attached.der) << "attached forms of the two encoders differ";

        Msg detached = libDetach(kid, pem, sig);
        ASSERT_GT(detached.rc, 0);
        Msg oplDetached = oplEncode(kid, nullptr, cert, sig);
        ASSERT_GT(oplDetached.rc, 0);
        EXPECT_TRUE(contains(detached.der, kLibDetachedCi));
        EXPECT_TRUE(contains(oplDetached.der, kOplDetachedCi));
        EXPECT_FALSE(contains(oplDetached.der, kLibDetachedCi));

        Bytes out;
        EXPECT_EQ(cmsVerify(attached.der, nullptr, &out), 0);
        EXPECT_EQ(out, kContent);
        EXPECT_EQ(cmsVerify(detached.der, &kContent, &out), 0);
        EXPECT_EQ(out, kContent);
        EXPECT_EQ(cmsVerify(oplDetached.der, &kContent, &out), 0);
        EXPECT_EQ(out, kContent);

        EXPECT_EQ(topl_p7sign_verify(attached.der.data(), attached.rc, nullptr, 0, 1), 0);
        EXPECT_EQ(topl_p7sign_verify(detached.der.data(), detached.rc, kContent.data(),
                                     static_cast<int>(kContent.size()), 2), 0);
        EXPECT_EQ(topl_p7sign_verify(oplDetached.der.data(), oplDetached.rc, kContent.data(),
                                     static_cast<int>(kContent.size()), 2), 0);
    }
}

// openssl asn1parse shows the layout: signedData, version 1, one digest
// algorithm with NULL, data with the content, the certificate, and a
// SignerInfo with rsaEncryption and the signature.
TEST_F(P7Encode, Asn1parseShowsTheLayout) {
    const Bytes sig = sign("rsa.key", EVP_sha256(), kContent);
    Msg m = libAttach(103, kContent, fileText(fixture("rsa.pem")), sig);
    ASSERT_GT(m.rc, 0);
    save("m.der", m.der);
    int rc = -1;
    std::string text = sh("openssl asn1parse -inform DER -in " + path("m.der"), &rc);
    ASSERT_EQ(rc, 0) << text;
    const char *expected[] = {
        "d=0", "SEQUENCE",     "d=1", "OBJECT            :pkcs7-signedData", "d=1", "cont [ 0 ]",
        "d=2", "SEQUENCE",     "d=3", "INTEGER           :01",             "d=3", "SET",
        "d=4", "SEQUENCE",     "d=5", "OBJECT            :sha256",          "d=5", "NULL",
        "d=3", "SEQUENCE",     "d=4", "OBJECT            :pkcs7-data",       "d=4", "cont [ 0 ]",
        "d=5", "OCTET STRING", "d=3", "cont [ 0 ]",                          "d=4", "SEQUENCE",
    };
    size_t pos = 0;
    for (const char *e : expected) {
        size_t at = text.find(e, pos);
        ASSERT_NE(at, std::string::npos) << "missing in order: " << e << "\n" << text;
        pos = at + strlen(e);
    }
    // The SignerInfo sits at the end: version, issuer/serial, digest, rsaEncryption, signature.
    size_t si = text.rfind("d=3", std::string::npos);
    std::string tail = text.substr(si);
    for (const char *e : {"SET", "INTEGER           :01", "INTEGER           :1001", "sha256", "rsaEncryption",
                          "OCTET STRING"}) {
        size_t at = tail.find(e);
        ASSERT_NE(at, std::string::npos) << e << "\n" << tail;
        tail = tail.substr(at);
    }
    // The SignerInfo carries the certificate's issuer and serial octets unchanged.
    Bytes ias = issuerAndSerial(certDer("rsa.pem"));
    EXPECT_TRUE(contains(m.der, ias));
    // And the last element is the signature itself.
    EXPECT_TRUE(std::equal(sig.begin(), sig.end(), m.der.end() - sig.size()));
}

// Certificate text as DER, base64 and PEM gives the same message.
TEST_F(P7Encode, CertificateTextFormsGiveTheSameMessage) {
    const Bytes der = certDer("rsa.pem");
    const std::string b64 = base64(der);
    const Bytes sig = sign("rsa.key", EVP_sha1(), kContent);
    Msg fromDer = libAttach(102, kContent, derText(der), sig);
    Msg fromB64 = libAttach(102, kContent, b64, sig);
    Msg fromPem = libAttach(102, kContent, fileText(fixture("rsa.pem")), sig);
    ASSERT_GT(fromDer.rc, 0);
    EXPECT_EQ(fromB64.der, fromDer.der);
    EXPECT_EQ(fromPem.der, fromDer.der);
    Msg d1 = libDetach(102, derText(der), sig), d2 = libDetach(102, b64, sig);
    ASSERT_GT(d1.rc, 0);
    EXPECT_EQ(d1.der, d2.der);
}

// SM2: the library encoder keeps the PKCS#7 content types and writes SM3
// whatever digest id it is given; the OpenSSL-based encoder writes the SM2
// content types. Both verify, with the signature as DER and as raw r || s.
TEST_F(P7Encode, Sm2MessagesOfBothEncoders) {
    const std::string pem = fileText(fixture("sm2.pem"));
    X509Ptr certOwner(loadCert("sm2.pem"));
    X509 *cert = certOwner.get();
    ASSERT_NE(cert, nullptr);
    const Bytes derSig = sign("sm2.key", nullptr, kContent);
    ASSERT_FALSE(derSig.empty());
    const Bytes rawSig = derToRaw(derSig);
    ASSERT_EQ(rawSig.size(), 64u);

    for (const Bytes &sig : {derSig, rawSig}) {
        SCOPED_TRACE(sig.size() == 64 ? "raw signature" : "DER signature");
        Msg lib = libAttach(103, kContent, pem, sig);
        ASSERT_GT(lib.rc, 0);
        EXPECT_EQ(prefix(kOidSignedData, lib.der), kOidSignedData);
        EXPECT_TRUE(contains(lib.der, set({kAlgSm3})));  // digestAlgorithms
        EXPECT_TRUE(contains(lib.der, cat({kAlgSm3, kAlgSm2Sign, tlv(0x04, sig)})));
        EXPECT_EQ(topl_p7sign_verify(lib.der.data(), lib.rc, nullptr, 0, 1), 0);

        Msg opl = oplEncode(103, &kContent, cert, sig);
        ASSERT_GT(opl.rc, 0);
        EXPECT_EQ(prefix(kOidSm2SignedData, opl.der), kOidSm2SignedData);
        EXPECT_TRUE(contains(opl.der, kOidSm2Data));
        EXPECT_TRUE(contains(opl.der, cat({kAlgSm3, kAlgSm2Sign, tlv(0x04, sig)})));
        EXPECT_EQ(topl_p7sign_verify(opl.der.data(), opl.rc, nullptr, 0, 1), 0);

        Msg libDet = libDetach(110, pem, sig);
        ASSERT_GT(libDet.rc, 0);
        EXPECT_EQ(topl_p7sign_verify(libDet.der.data(), libDet.rc, kContent.data(),
                                     static_cast<int>(kContent.size()), 2), 0);
        Msg oplDet = oplEncode(110, nullptr, cert, sig);
        ASSERT_GT(oplDet.rc, 0);
        EXPECT_EQ(topl_p7sign_verify(oplDet.der.data(), oplDet.rc, kContent.data(),
                                     static_cast<int>(kContent.size()), 2), 0);
    }
    // Another content does not verify.
    Msg lib = libAttach(110, toBytes("other content"), pem, derSig);
    ASSERT_GT(lib.rc, 0);
    EXPECT_LT(topl_p7sign_verify(lib.der.data(), lib.rc, nullptr, 0, 1), 0);
}

// The OpenSSL-based encoder gives SHA-1 for an RSA certificate and a digest
// id it has no OID for (SM3 here).
TEST_F(P7Encode, OpensslEncoderFallsBackToSha1ForRsa) {
    X509Ptr certOwner(loadCert("rsa.pem"));
    X509 *cert = certOwner.get();
    const Bytes sig = sign("rsa.key", EVP_sha1(), kContent);
    Msg m = oplEncode(110, &kContent, cert, sig);
    ASSERT_GT(m.rc, 0);
    EXPECT_TRUE(contains(m.der, set({kAlgSha1})));
    EXPECT_TRUE(contains(m.der, cat({kAlgSha1, kAlgRsa, tlv(0x04, sig)})));
    Bytes out;
    EXPECT_EQ(cmsVerify(m.der, nullptr, &out), 0);
}

// IssuerAndSerialNumber and SignerInfo, the building blocks.
TEST_F(P7Encode, SignerInfoBuildingBlocks) {
    const Bytes der = certDer("rsa.pem");
    tasn1_item *ias = tasn1_pkcs7_issuerAndSn_new(der.data(), static_cast<int>(der.size()));
    ASSERT_NE(ias, nullptr);
    EXPECT_EQ(ias->complete, 1);
    EXPECT_EQ(Bytes(ias->bytes, ias->bytes + ias->length), issuerAndSerial(der));
    tasn1_item_free(ias);

    const Bytes sig = {1, 2, 3};
    tasn1_item *si = tasn1_pkcs7_signerInfo_new(der.data(), static_cast<int>(der.size()), sig.data(), 3, 102, 201);
    ASSERT_NE(si, nullptr);
    EXPECT_EQ(Bytes(si->bytes, si->bytes + si->length),
              seq({Bytes{0x02, 0x01, 0x01}, issuerAndSerial(der), kAlgSha1, kAlgRsa, tlv(0x04, sig)}));
    tasn1_item_free(si);

    EXPECT_EQ(tasn1_pkcs7_signerInfo_new(der.data(), static_cast<int>(der.size()), sig.data(), 3, 108, 201), nullptr);
    EXPECT_EQ(tasn1_pkcs7_signerInfo_new(der.data(), static_cast<int>(der.size()), sig.data(), 3, 102, 999), nullptr);
    const Bytes junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(tasn1_pkcs7_issuerAndSn_new(junk.data(), static_cast<int>(junk.size())), nullptr);
}

// Refusals of both encoders.
TEST_F(P7Encode, Refusals) {
    const std::string pem = fileText(fixture("rsa.pem"));
    const Bytes sig = sign("rsa.key", EVP_sha1(), kContent);
    unsigned char *out = nullptr;
    const int nc = static_cast<int>(kContent.size()), np = static_cast<int>(pem.size());
    const int ns = static_cast<int>(sig.size());
    struct Case {
        const char *what;
        int rc;
        int expected;
    } cases[] = {
        {"no content", tasn1_p7sign_encode_attach(102, nullptr, nc, pem.data(), np, sig.data(), ns, &out), -10002},
        {"empty content", tasn1_p7sign_encode_attach(102, kContent.data(), 0, pem.data(), np, sig.data(), ns, &out),
         -10002},
        {"no cert", tasn1_p7sign_encode_attach(102, kContent.data(), nc, nullptr, np, sig.data(), ns, &out), -10002},
        {"no signature", tasn1_p7sign_encode_detach(102, pem.data(), np, nullptr, ns, &out), -10002},
        {"signature length 0", tasn1_p7sign_encode_detach(102, pem.data(), np, sig.data(), 0, &out), -10002},
        {"cert length 0", tasn1_p7sign_encode_detach(102, pem.data(), 0, sig.data(), ns, &out), -10002},
        {"digest id 108", tasn1_p7sign_encode_attach(108, kContent.data(), nc, pem.data(), np, sig.data(), ns, &out),
         -210021},
        {"digest id 999", tasn1_p7sign_encode_detach(999, pem.data(), np, sig.data(), ns, &out), -210021},
        {"not a certificate", tasn1_p7sign_encode_detach(102, "hello", 5, sig.data(), ns, &out), -210011},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, c.expected) << c.what;
    EXPECT_EQ(out, nullptr);

    // An RSA certificate whose AlgorithmIdentifier has no NULL parameter:
    // drop the 05 00 and shorten the three enclosing lengths.
    Bytes der = certDer("rsa.pem");
    auto at = std::search(der.begin(), der.end(), kAlgRsa.begin(), kAlgRsa.end());
    ASSERT_NE(at, der.end());
    size_t pos = at - der.begin();
    der.erase(der.begin() + pos + 13, der.begin() + pos + 15);
    der[pos + 1] -= 2;            // AlgorithmIdentifier
    ASSERT_EQ(der[pos - 4], 0x30);  // subjectPublicKeyInfo 30 82 hh ll
    ASSERT_EQ(der[pos - 3], 0x82);
    auto dec16 = [&](size_t i) {
        int v = (der[i] << 8 | der[i + 1]) - 2;
        der[i] = static_cast<unsigned char>(v >> 8);
        der[i + 1] = static_cast<unsigned char>(v);
    };
    dec16(pos - 2);
    dec16(2);  // certificate 30 82 hh ll
    dec16(6);  // tbsCertificate 30 82 hh ll
    EXPECT_EQ(tasn1_p7sign_encode_detach(102, reinterpret_cast<const char *>(der.data()),
                                         static_cast<int>(der.size()), sig.data(), ns, &out),
              -210011);

    X509Ptr certOwner(loadCert("rsa.pem"));
    X509 *cert = certOwner.get();
    EXPECT_EQ(topl_p7sign_encode(sig.data(), ns, nullptr, nullptr, 0, 102, &out), -10002);
    EXPECT_EQ(topl_p7sign_encode(nullptr, ns, cert, nullptr, 0, 102, &out), -10002);
    EXPECT_EQ(topl_p7sign_encode(sig.data(), 0, cert, nullptr, 0, 102, &out), -10002);

    // An Ed25519 certificate is neither RSA nor EC.
    std::string cmd = "openssl req -x509 -newkey ed25519 -nodes -keyout " + path("ed.key") +
                      " -subj /CN=ed -days 1 -outform PEM -out " + path("ed.pem");
    int rc = -1;
    std::string log = sh(cmd, &rc);
    ASSERT_EQ(rc, 0) << log;
    FILE *f = fopen(path("ed.pem").c_str(), "r");
    X509Ptr ed(PEM_read_X509(f, nullptr, nullptr, nullptr));
    fclose(f);
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(topl_p7sign_encode(sig.data(), ns, ed.get(), kContent.data(), nc, 102, &out), -150052);
    EXPECT_EQ(out, nullptr);
}

// Content beyond 64 KiB needs three length octets in every enclosing TLV.
TEST_F(P7Encode, LargeContent) {
    Bytes big(200000);
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<unsigned char>(i * 7 + (i >> 9));
    const Bytes sig = sign("rsa.key", EVP_sha256(), big);
    Msg lib = libAttach(103, big, fileText(fixture("rsa.pem")), sig);
    ASSERT_GT(lib.rc, 200000);
    EXPECT_EQ(lib.der[1], 0x83);
    X509Ptr cert(loadCert("rsa.pem"));
    Msg opl = oplEncode(103, &big, cert.get(), sig);
    EXPECT_EQ(opl.der, lib.der);
    Bytes out;
    EXPECT_EQ(cmsVerify(lib.der, nullptr, &out), 0);
    EXPECT_EQ(out, big);
    EXPECT_EQ(topl_p7sign_verify(lib.der.data(), lib.rc, big.data(), static_cast<int>(big.size()), 1), 0);
    Bytes content(big.size());
    EXPECT_EQ(topl_p7sign_parseData(lib.der.data(), lib.rc, content.data(), static_cast<int>(content.size())),
              static_cast<int>(big.size()));
    EXPECT_EQ(content, big);
}
