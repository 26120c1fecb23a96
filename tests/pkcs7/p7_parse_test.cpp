// Parsing SignedData from other producers (the openssl CLI) and hand-built
// edge cases: content, signer certificate, other certificates, ids.
#include <openssl/x509.h>

#include <cstdlib>

#include "p7_util.h"
#include "tasn1/tasn1_p7sign.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_sm2.h"

using namespace p7test;

namespace {

const Bytes kContent = toBytes("openssl made this message\n");

class P7Parse : public P7Fixture {
protected:
    void SetUp() override { start(kContent); }

    // openssl cms -sign with signed attributes; extra certificates from -certfile.
    Bytes cmsSign(const std::string &md, bool attached, bool extraCert) {
        std::string cmd = "openssl cms -sign -binary -in " + path("content.bin") + " -signer " + fixture("rsa.pem") +
                          " -inkey " + fixture("rsa.key") + " -md " + md + " -outform DER -out " + path("m.der");
        if (attached) cmd += " -nodetach";
        if (extraCert) cmd += " -certfile " + fixture("rsa2.pem");
        int rc = -1;
        std::string log = sh(cmd, &rc);
        EXPECT_EQ(rc, 0) << cmd << "\n" << log;
        return toBytes(sealdesk_test::readFile(path("m.der")));
    }

};

int parse(const Bytes &m, topl_p7_info *info) { return topl_p7_parse(m.data(), static_cast<int>(m.size()), info); }

// A message from the library encoder around `certs` (the SignedData's
// certificate list replaced) and a SignerInfo for rsa.pem.
Bytes withCertificates(const std::vector<Bytes> &certs, const Bytes &content = kContent) {
    const Bytes signer = certDer("rsa.pem");
    const Bytes sig = sign("rsa.key", EVP_sha256(), content);
    Bytes si = seq({Bytes{0x02, 0x01, 0x01}, issuerAndSerial(signer), algNull("2.16.840.1.101.3.4.2.1"),
                    algNull("1.2.840.113549.1.1.1"), tlv(0x04, sig)});
    return signedData(algNull("2.16.840.1.101.3.4.2.1"), &content, certs, si);
}

}  // namespace

// openssl cms messages (signed attributes; SHA-256 and SHA-1; attached and
// detached; with a second certificate): content, signer certificate, the
// other certificates and the ids come out right, as DER and as base64.
TEST_F(P7Parse, OpensslCmsMessages) {
    const Bytes signer = certDer("rsa.pem"), second = certDer("rsa2.pem");
    struct Case {
        const char *md;
        int kid;
        bool attached;
    } cases[] = {{"sha256", 103, true}, {"sha1", 102, true}, {"sha256", 103, false}, {"sha1", 102, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.md) + (c.attached ? " attached" : " detached"));
        Bytes m = cmsSign(c.md, c.attached, true);
        ASSERT_FALSE(m.empty());
        auto info = std::make_unique<topl_p7_info>();
        ASSERT_EQ(parse(m, info.get()), 0);
        EXPECT_EQ(info->digestKid, c.kid);
        EXPECT_EQ(info->signKid, 201);
        EXPECT_NE(info->signedAttrs, nullptr);
        EXPECT_EQ(info->signedAttrs[0], 0xA0);
        EXPECT_EQ(info->nsign, 256);
        ASSERT_EQ(info->nsignCert, static_cast<int>(signer.size()));
        EXPECT_EQ(Bytes(info->signCert, info->signCert + info->nsignCert), signer);
        ASSERT_EQ(info->ncerts, 1);
        EXPECT_EQ(Bytes(info->certs[0], info->certs[0] + info->ncertsLen[0]), second);

        const std::string b64 = base64(m);
        for (int asText = 0; asText < 2; asText++) {
            const unsigned char *p = asText ? reinterpret_cast<const unsigned char *>(b64.data()) : m.data();
            int n = asText ? static_cast<int>(b64.size()) : static_cast<int>(m.size());
            Bytes out(kContent.size() + 8, 0xEE);
            int rc = topl_p7sign_parseData(p, n, out.data(), static_cast<int>(out.size()));
            if (c.attached) {
                ASSERT_EQ(rc, static_cast<int>(kContent.size()));
                EXPECT_EQ(Bytes(out.begin(), out.begin() + rc), kContent);
                EXPECT_EQ(out[rc], 0) << "room is zero-filled";
            } else {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(out, Bytes(out.size(), 0));
            }
            const std::string certText = base64(signer);
            int tl = topl_p7sign_parseSignCert(p, n, nullptr, 0);
            ASSERT_EQ(tl, static_cast<int>(certText.size()));
            std::string text(tl, '\0');
            EXPECT_EQ(topl_p7sign_parseSignCert(p, n, text.data(), tl), tl);
            EXPECT_EQ(text, certText);
            X509Ptr x(topl_p7sign_getSignCert(p, n));
            X509Ptr expect(loadCert("rsa.pem"));
            ASSERT_NE(x, nullptr);
            EXPECT_EQ(X509_cmp(x.get(), expect.get()), 0);
        }
    }
}

// Output rooms: too small gives -10003; no buffer gives the length.
TEST_F(P7Parse, OutputRooms) {
    Bytes m = cmsSign("sha256", true, false);
    const int n = static_cast<int>(m.size());
    const int clen = static_cast<int>(kContent.size());
    EXPECT_EQ(topl_p7sign_parseData(m.data(), n, nullptr, 0), clen);
    Bytes small(clen - 1);
    EXPECT_EQ(topl_p7sign_parseData(m.data(), n, small.data(), clen - 1), -10003);
    Bytes exact(clen);
    EXPECT_EQ(topl_p7sign_parseData(m.data(), n, exact.data(), clen), clen);
    EXPECT_EQ(exact, kContent);

    int tl = topl_p7sign_parseSignCert(m.data(), n, nullptr, 0);
    ASSERT_GT(tl, 0);
    EXPECT_EQ(tl % 4, 0);
    std::string text(tl - 1, '\0');
    EXPECT_EQ(topl_p7sign_parseSignCert(m.data(), n, text.data(), tl - 1), -10003);
}

// The library's detached form parses as a message without content.
TEST_F(P7Parse, LibraryDetachedFormHasNoContent) {
    const std::string pem = fileText(fixture("rsa.pem"));
    const Bytes sig = sign("rsa.key", EVP_sha1(), kContent);
    unsigned char *out = nullptr;
    int n = tasn1_p7sign_encode_detach(102, pem.data(), static_cast<int>(pem.size()), sig.data(),
                                       static_cast<int>(sig.size()), &out);
    ASSERT_GT(n, 0);
    auto info = std::make_unique<topl_p7_info>();
    EXPECT_EQ(topl_p7_parse(out, n, info.get()), 0);
    EXPECT_EQ(info->content, nullptr);
    EXPECT_EQ(info->ncontent, 0);
    EXPECT_EQ(info->signedAttrs, nullptr);
    EXPECT_EQ(info->digestKid, 102);
    EXPECT_EQ(topl_p7sign_parseData(out, n, nullptr, 0), 0);
    free(out);
}

// Certificates: only the first 256 are examined; the signer is found by its
// serial number alone, and a later match replaces an earlier one.
TEST_F(P7Parse, CertificateSelection) {
    const Bytes signer = certDer("rsa.pem"), other = certDer("rsa2.pem"), twin = certDer("twin.pem");
    auto info = std::make_unique<topl_p7_info>();

    std::vector<Bytes> many(300, other);
    many[10] = signer;
    Bytes m = withCertificates(many);
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(info->nsignCert, static_cast<int>(signer.size()));
    EXPECT_EQ(info->ncerts, 255);
    EXPECT_EQ(topl_p7sign_verify(m.data(), static_cast<int>(m.size()), nullptr, 0, 1), 0);

    many[10] = other;
    many[280] = signer;  // beyond the examined 256
    m = withCertificates(many);
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(info->signCert, nullptr);
    EXPECT_EQ(info->ncerts, 256);
    EXPECT_EQ(topl_p7sign_verify(m.data(), static_cast<int>(m.size()), nullptr, 0, 1), -151303);

    // Serials that differ from the signer's: no signer certificate.
    m = withCertificates({other});
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(info->signCert, nullptr);
    EXPECT_EQ(topl_p7sign_verify(m.data(), static_cast<int>(m.size()), nullptr, 0, 0), -151303);
    EXPECT_EQ(topl_p7sign_getSignCert(m.data(), static_cast<int>(m.size())), nullptr);

    // No certificates at all.
    m = withCertificates({});
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(info->signCert, nullptr);
    EXPECT_EQ(info->ncerts, 0);

    // Same serial, other issuer: the serial alone decides, the later one wins.
    m = withCertificates({signer, twin});
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(Bytes(info->signCert, info->signCert + info->nsignCert), twin);
    EXPECT_EQ(info->ncerts, 0);
    EXPECT_LT(topl_p7sign_verify(m.data(), static_cast<int>(m.size()), nullptr, 0, 1), 0);
    m = withCertificates({twin, signer});
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(Bytes(info->signCert, info->signCert + info->nsignCert), signer);
    EXPECT_EQ(topl_p7sign_verify(m.data(), static_cast<int>(m.size()), nullptr, 0, 1), 0);
}

// Malformed and unsupported messages are refused with their codes; every
// truncation of a good message is refused or parsed without reading past it.
TEST_F(P7Parse, Refusals) {
    auto info = std::make_unique<topl_p7_info>();
    const Bytes good = withCertificates({certDer("rsa.pem")});
    const Bytes signer = certDer("rsa.pem");
    const Bytes sig(256, 0x11);
    auto siWith = [&](const Bytes &digestAlg, const Bytes &middle) {
        return seq({Bytes{0x02, 0x01, 0x01}, issuerAndSerial(signer), digestAlg, middle,
                    algNull("1.2.840.113549.1.1.1"), tlv(0x04, sig)});
    };
    const Bytes sha1 = algNull("1.3.14.3.2.26");
    struct Case {
        const char *what;
        Bytes msg;
        int expected;
    } cases[] = {
        {"base64 text", toBytes("MIIB"), -10004},
        {"three children", seq({oid("1.2.840.113549.1.7.2"), tlv(0xA0, seq({})), Bytes{0x05, 0x00}}), -151101},
        {"one child", seq({oid("1.2.840.113549.1.7.2")}), -151101},
        {"SignedData of 3 children",
         seq({oid("1.2.840.113549.1.7.2"), tlv(0xA0, seq({Bytes{2, 1, 1}, set({sha1}), seq({})}))}), -151101},
        {"not DER", Bytes{0x04, 0x03, 0x61, 0x62, 0x63}, -151101},
        {"unknown digest OID",
         signedData(sha1, &kContent, {}, seq({Bytes{2, 1, 1}, issuerAndSerial(signer), algNull("1.2.3.4"),
                                               algNull("1.2.840.113549.1.1.1"), tlv(0x04, sig)})),
         -150050},
        {"unknown signature OID",
         signedData(sha1, &kContent, {}, seq({Bytes{2, 1, 1}, issuerAndSerial(signer), sha1, algNull("1.2.3.4"),
                                               tlv(0x04, sig)})),
         -150050},
        {"empty signed attributes", signedData(sha1, &kContent, {}, siWith(sha1, Bytes{0xA0, 0x00})), -151314},
        {"serial not an INTEGER",
         signedData(sha1, &kContent, {}, seq({Bytes{2, 1, 1}, seq({seq({}), Bytes{0x04, 0x01, 0x01}}), sha1,
                                               algNull("1.2.840.113549.1.1.1"), tlv(0x04, sig)})),
         -151101},
        {"certificate not readable", signedData(sha1, &kContent, {seq({Bytes{2, 1, 1}})}, siWith(sha1, sha1)),
         -151101},
    };
    for (const Case &c : cases) EXPECT_EQ(parse(c.msg, info.get()), c.expected) << c.what;
    EXPECT_EQ(topl_p7_parse(nullptr, 10, info.get()), -10002);
    EXPECT_EQ(topl_p7_parse(good.data(), 0, info.get()), -10002);
    EXPECT_EQ(topl_p7sign_parseData(nullptr, 10, nullptr, 0), -10002);

    // Truncations, each in a buffer of exactly that length (the sanitizer
    // build catches any read past it).
    for (size_t len = 1; len < good.size(); len += (len < 64 ? 1 : 37)) {
        Bytes cut(good.begin(), good.begin() + len);
        int rc = parse(cut, info.get());
        EXPECT_LT(rc, 0) << "length " << len;
        EXPECT_LT(topl_p7sign_verify(cut.data(), static_cast<int>(len), nullptr, 0, 0), 0);
    }
}

// A SignerInfo with unsigned attributes [1] still yields its signature.
TEST_F(P7Parse, UnsignedAttributesAreSkipped) {
    const Bytes signer = certDer("rsa.pem");
    const Bytes sig = sign("rsa.key", EVP_sha256(), kContent);
    const Bytes unsignedAttrs = attribute("1.2.840.113549.1.9.6", seq({Bytes{2, 1, 5}}));
    Bytes si = seq({Bytes{0x02, 0x01, 0x01}, issuerAndSerial(signer), algNull("2.16.840.1.101.3.4.2.1"),
                    algNull("1.2.840.113549.1.1.1"), tlv(0x04, sig), tlv(0xA1, unsignedAttrs)});
    Bytes m = signedData(algNull("2.16.840.1.101.3.4.2.1"), &kContent, {signer}, si);
    auto info = std::make_unique<topl_p7_info>();
    ASSERT_EQ(parse(m, info.get()), 0);
    EXPECT_EQ(Bytes(info->sign, info->sign + info->nsign), sig);
    EXPECT_EQ(topl_p7sign_verify(m.data(), static_cast<int>(m.size()), nullptr, 0, 1), 0);
}
