// topl_p7sign_verify: modes, content checks, tampering, signed attributes
// (DER re-sorting, the retry over the received octets, messageDigest with
// plain SM3 or SM3 with Z) and the attribute lookups.
#include <openssl/core_names.h>
#include <openssl/x509.h>

#include <cstdlib>

#include "p7_util.h"
#include "tasn1/tasn1_p7sign.h"
#include "topl/topl_p7attr.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_sm2.h"

using namespace p7test;

namespace {

const Bytes kContent = toBytes("verify me: 42 \x01\x02\x03");
const char *kOidData = "1.2.840.113549.1.7.1";
const char *kOidContentType = "1.2.840.113549.1.9.3";
const char *kOidMessageDigest = "1.2.840.113549.1.9.4";
const char *kOidSigningTime = "1.2.840.113549.1.9.5";
const char *kOidSm3 = "1.2.156.10197.1.401";
const char *kOidSm2Sign = "1.2.156.10197.1.301.1";

class P7Verify : public P7Fixture {
protected:
    void SetUp() override { start(kContent); }
    Bytes cmsSign(const std::string &md, bool attached) {
        std::string cmd = "openssl cms -sign -binary -in " + path("content.bin") + " -signer " + fixture("rsa.pem") +
                          " -inkey " + fixture("rsa.key") + " -md " + md + " -outform DER -out " + path("m.der") +
                          (attached ? " -nodetach" : "");
        int rc = -1;
        std::string log = sh(cmd, &rc);
        EXPECT_EQ(rc, 0) << log;
        return toBytes(sealdesk_test::readFile(path("m.der")));
    }
};

int verify(const Bytes &m, const Bytes *content, int mode) {
    return topl_p7sign_verify(m.data(), static_cast<int>(m.size()), content ? content->data() : nullptr,
                              content ? static_cast<int>(content->size()) : 0, mode);
}

// Z of an SM2 public key with the default user ID, computed from OpenSSL's
// curve data: SM3(ENTL || ID || a || b || xG || yG || xA || yA).
Bytes sm2Z(const std::string &keyName) {
    EVP_PKEY *key = loadKey(keyName);
    BIGNUM *a = BN_new(), *b = BN_new(), *p = BN_new(), *x = BN_new(), *y = BN_new();
    BIGNUM *gx = BN_new(), *gy = BN_new();
    EC_GROUP *group = EC_GROUP_new_by_curve_name(NID_sm2);
    EC_GROUP_get_curve(group, p, a, b, nullptr);
    EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), gx, gy, nullptr);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y);
    Bytes in = {0x00, 0x80};
    const char *id = "1234567812345678";
    in.insert(in.end(), id, id + 16);
    for (BIGNUM *v : {a, b, gx, gy, x, y}) {
        Bytes f(32);
        BN_bn2binpad(v, f.data(), 32);
        in.insert(in.end(), f.begin(), f.end());
    }
    for (BIGNUM *v : {a, b, p, x, y, gx, gy}) BN_free(v);
    EC_GROUP_free(group);
    EVP_PKEY_free(key);
    return digest(EVP_sm3(), in);
}

struct AttrMsg {
    Bytes msg;
    Bytes sentAttrs;  // contents of [0], as sent
};

// A message with signed attributes {contentType, messageDigest = md} (and,
// with reorder, sent in the opposite of DER order while the signature still
// covers the DER SET). signReceived: the signer signs the order it sends.
AttrMsg attrMessage(const std::string &keyName, const std::string &certName, const EVP_MD *md, const Bytes &mdValue,
                    const char *digestOid, const char *sigOid, bool reorder, bool signReceived,
                    const Bytes *unsignedAttrs = nullptr, bool attached = true) {
    const Bytes cert = certDer(certName);
    Bytes ct = attribute(kOidContentType, oid(kOidData));
    Bytes mdAttr = attribute(kOidMessageDigest, tlv(0x04, mdValue));
    Bytes st = attribute(kOidSigningTime, tlv(0x17, toBytes("261211120000Z")));
    // DER order sorts the encodings: contentType (30 18 ..) < signingTime (30 1C ..) < messageDigest (30 2F ..).
    Bytes derOrder = cat({ct, st, mdAttr});
    Bytes sent = reorder ? cat({mdAttr, st, ct}) : derOrder;
    Bytes signedSet = tlv(0x31, signReceived ? sent : derOrder);
    Bytes sig = sign(keyName, md, signedSet);
    Bytes si = signerInfoWithAttrs(cert, algNull(digestOid), sent, algNull(sigOid), sig, unsignedAttrs);
    AttrMsg out;
    out.msg = signedData(algNull(digestOid), attached ? &kContent : nullptr, {cert}, si);
    out.sentAttrs = tlv(0xA0, sent);
    return out;
}

}  // namespace

// Mode 1 wants the content inside, mode 2 outside; other values take both.
TEST_F(P7Verify, ModesAndCallerContent) {
    const Bytes attached = cmsSign("sha256", true), detached = cmsSign("sha1", false);
    const Bytes other = toBytes("verify me: 43 \x01\x02\x03");
    struct Case {
        const char *what;
        const Bytes *msg;
        const Bytes *content;
        int mode;
        int expected;
    } cases[] = {
        {"attached, mode 1", &attached, nullptr, 1, 0},
        {"attached, mode 1, same content given", &attached, &kContent, 1, 0},
        {"attached, mode 0", &attached, nullptr, 0, 0},
        {"attached, mode 7", &attached, nullptr, 7, 0},
        {"attached, mode 2", &attached, &kContent, 2, -151203},
        {"attached, other content", &attached, &other, 1, -151202},
        {"attached, other content, mode 0", &attached, &other, 0, -151202},
        {"detached, mode 2", &detached, &kContent, 2, 0},
        {"detached, mode 0", &detached, &kContent, 0, 0},
        {"detached, mode 1", &detached, &kContent, 1, -151203},
        {"detached, no content", &detached, nullptr, 2, -151203},
        {"detached, other content", &detached, &other, 2, -151317},
    };
    for (const Case &c : cases) EXPECT_EQ(verify(*c.msg, c.content, c.mode), c.expected) << c.what;

    // Base64 text of the message works the same.
    const std::string b64 = base64(attached);
    EXPECT_EQ(topl_p7sign_verify(reinterpret_cast<const unsigned char *>(b64.data()), static_cast<int>(b64.size()),
                                 nullptr, 0, 1),
              0);
    EXPECT_EQ(topl_p7sign_verify(nullptr, 10, nullptr, 0, 0), -10002);
    EXPECT_EQ(topl_p7sign_verify(attached.data(), 0, nullptr, 0, 0), -10002);
}

// One flipped octet of the content or of the signature fails verification,
// with and without signed attributes; the caller's octets stay unchanged.
TEST_F(P7Verify, TamperingFails) {
    const Bytes cms = cmsSign("sha256", true);
    const std::string pem = fileText(fixture("rsa.pem"));
    const Bytes sig = sign("rsa.key", EVP_sha256(), kContent);
    unsigned char *out = nullptr;
    int n = tasn1_p7sign_encode_attach(103, kContent.data(), static_cast<int>(kContent.size()), pem.data(),
                                       static_cast<int>(pem.size()), sig.data(), static_cast<int>(sig.size()), &out);
    ASSERT_GT(n, 0);
    const Bytes lib(out, out + n);
    free(out);

    for (const Bytes *good : {&cms, &lib}) {
        ASSERT_EQ(verify(*good, nullptr, 1), 0);
        auto at = std::search(good->begin(), good->end(), kContent.begin(), kContent.end());
        ASSERT_NE(at, good->end());
        Bytes badContent = *good;
        badContent[at - good->begin() + 3] ^= 0x01;
        const Bytes before = badContent;
        EXPECT_LT(verify(badContent, nullptr, 1), 0);
        EXPECT_EQ(badContent, before);
        Bytes badSig = *good;
        badSig[badSig.size() - 1] ^= 0x80;  // the signature ends the message
        EXPECT_LT(verify(badSig, nullptr, 1), 0);
    }
    // With signed attributes a changed content shows in the messageDigest.
    auto at = std::search(cms.begin(), cms.end(), kContent.begin(), kContent.end());
    Bytes bad = cms;
    bad[at - cms.begin()] ^= 0x20;
    EXPECT_EQ(verify(bad, nullptr, 1), -151317);
}

// SM2 signed attributes: messageDigest holding plain SM3 or SM3 with Z both
// verify for digest id 110 (and for 610, SM2 with SM3); attributes sent out of
// DER order verify when the signer signed them as sent, and when it signed
// the DER order; unsigned attributes do not disturb.
TEST_F(P7Verify, Sm2SignedAttributes) {
    const Bytes plain = digest(EVP_sm3(), kContent);
    Bytes zIn = sm2Z("sm2.key");
    zIn.insert(zIn.end(), kContent.begin(), kContent.end());
    const Bytes withZ = digest(EVP_sm3(), zIn);
    ASSERT_NE(plain, withZ);
    const Bytes unsignedAttrs = attribute("1.2.840.113549.1.9.6", seq({Bytes{2, 1, 5}}));
    struct Case {
        const char *what;
        const Bytes *md;
        const char *digestOid;
        bool reorder, signReceived;
        const Bytes *unsignedAttrs;
    } cases[] = {
        {"plain SM3", &plain, kOidSm3, false, false, nullptr},
        {"SM3 with Z", &withZ, kOidSm3, false, false, nullptr},
        {"SM3 with Z, digest OID of SM2 with SM3", &withZ, "1.2.156.10197.1.501", false, false, nullptr},
        {"sent out of order, DER order signed", &plain, kOidSm3, true, false, nullptr},
        {"sent out of order and signed so", &withZ, kOidSm3, true, true, nullptr},
        {"unsigned attributes", &plain, kOidSm3, false, false, &unsignedAttrs},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        AttrMsg m = attrMessage("sm2.key", "sm2.pem", nullptr, *c.md, c.digestOid, kOidSm2Sign, c.reorder,
                                c.signReceived, c.unsignedAttrs);
        auto info = std::make_unique<topl_p7_info>();
        ASSERT_EQ(topl_p7_parse(m.msg.data(), static_cast<int>(m.msg.size()), info.get()), 0);
        EXPECT_EQ(Bytes(info->signedAttrs, info->signedAttrs + info->nsignedAttrs), m.sentAttrs);
        EXPECT_EQ(verify(m.msg, nullptr, 1), 0);
    }
    // A messageDigest of neither form fails; so does the detached message
    // checked against other content.
    Bytes wrong = plain;
    wrong[0] ^= 1;
    AttrMsg m = attrMessage("sm2.key", "sm2.pem", nullptr, wrong, kOidSm3, kOidSm2Sign, false, false);
    EXPECT_EQ(verify(m.msg, nullptr, 1), -151317);
    m = attrMessage("sm2.key", "sm2.pem", nullptr, withZ, kOidSm3, kOidSm2Sign, false, false, nullptr, false);
    EXPECT_EQ(verify(m.msg, &kContent, 2), 0);
    const Bytes other = toBytes("something else");
    EXPECT_EQ(verify(m.msg, &other, 2), -151317);
}

// messageDigest checks with RSA: the wrong length (288 octets starting with
// the right SHA-256), a missing messageDigest, and a signature over other
// attributes.
TEST_F(P7Verify, MessageDigestChecks) {
    const char *sha256 = "2.16.840.1.101.3.4.2.1", *rsa = "1.2.840.113549.1.1.1";
    Bytes md = digest(EVP_sha256(), kContent);
    AttrMsg ok = attrMessage("rsa.key", "rsa.pem", EVP_sha256(), md, sha256, rsa, false, false);
    EXPECT_EQ(verify(ok.msg, nullptr, 1), 0);

    Bytes longMd = md;
    longMd.resize(288, 0x5A);
    AttrMsg tooLong = attrMessage("rsa.key", "rsa.pem", EVP_sha256(), longMd, sha256, rsa, false, false);
    EXPECT_EQ(verify(tooLong.msg, nullptr, 1), -151316);

    // Only contentType, signed properly: no messageDigest.
    const Bytes cert = certDer("rsa.pem");
    Bytes ct = attribute(kOidContentType, oid(kOidData));
    Bytes sig = sign("rsa.key", EVP_sha256(), tlv(0x31, ct));
    Bytes msg = signedData(algNull(sha256), &kContent, {cert},
                           signerInfoWithAttrs(cert, algNull(sha256), ct, algNull(rsa), sig));
    EXPECT_EQ(verify(msg, nullptr, 1), -151318);

    // Signature made over different attributes: both tries fail.
    Bytes stale = sign("rsa.key", EVP_sha256(), tlv(0x31, cat({ct, ct})));
    msg = signedData(algNull(sha256), &kContent, {cert},
                     signerInfoWithAttrs(cert, algNull(sha256), cat({ct, attribute(kOidMessageDigest, tlv(0x04, md))}),
                                         algNull(rsa), stale));
    EXPECT_LT(verify(msg, nullptr, 1), 0);

    // An attribute that is not an Attribute at all.
    msg = signedData(algNull(sha256), &kContent, {cert},
                     signerInfoWithAttrs(cert, algNull(sha256), cat({ct, seq({Bytes{2, 1, 1}})}), algNull(rsa), sig));
    EXPECT_EQ(verify(msg, nullptr, 1), -150048);
}

// Attribute lookup and the first value of an attribute.
TEST(P7Attr, FindAndFirstValue) {
    const Bytes md(32, 0xAB);
    const Bytes mdAttr = attribute(kOidMessageDigest, tlv(0x04, md));
    const Bytes ct = attribute(kOidContentType, oid(kOidData));
    const Bytes attrs = tlv(0xA0, cat({ct, mdAttr}));
    unsigned char *found = nullptr;
    int n = topl_p7attr_find(attrs.data(), static_cast<int>(attrs.size()), kOidMessageDigest, &found);
    ASSERT_EQ(n, static_cast<int>(mdAttr.size()));
    EXPECT_EQ(Bytes(found, found + n), mdAttr);
    unsigned char *value = nullptr;
    EXPECT_EQ(topl_p7attr_getMessageDigest(found, n, &value), 32);
    EXPECT_EQ(Bytes(value, value + 32), md);
    free(value);
    free(found);

    // The OID must match whole: a prefix or an extension of it is no match.
    found = nullptr;
    EXPECT_EQ(topl_p7attr_find(attrs.data(), static_cast<int>(attrs.size()), "1.2.840.113549.1.9", &found), -1);
    EXPECT_EQ(topl_p7attr_find(attrs.data(), static_cast<int>(attrs.size()), "1.2.840.113549.1.9.41", &found), -1);
    EXPECT_EQ(found, nullptr);
    // The same in a SET.
    const Bytes asSet = tlv(0x31, cat({ct, mdAttr}));
    EXPECT_EQ(topl_p7attr_find(asSet.data(), static_cast<int>(asSet.size()), kOidContentType, &found),
              static_cast<int>(ct.size()));
    free(found);

    const Bytes broken = tlv(0xA0, cat({seq({Bytes{2, 1, 1}}), mdAttr}));
    EXPECT_EQ(topl_p7attr_find(broken.data(), static_cast<int>(broken.size()), kOidMessageDigest, &found), -150126);

    const Bytes emptySet = seq({oid(kOidMessageDigest), tlv(0x31, {})});
    const Bytes nullValue = attribute(kOidMessageDigest, Bytes{0x05, 0x00});
    const Bytes emptyOctets = attribute(kOidMessageDigest, Bytes{0x04, 0x00});
    value = nullptr;
    EXPECT_EQ(topl_p7attr_getMessageDigest(emptySet.data(), static_cast<int>(emptySet.size()), &value), -150129);
    EXPECT_EQ(topl_p7attr_getMessageDigest(nullValue.data(), static_cast<int>(nullValue.size()), &value), -150126);
    EXPECT_EQ(topl_p7attr_getMessageDigest(emptyOctets.data(), static_cast<int>(emptyOctets.size()), &value), -150126);
    EXPECT_EQ(topl_p7attr_getMessageDigest(broken.data() + 2, 5, &value), -150126);
    EXPECT_EQ(value, nullptr);
}
