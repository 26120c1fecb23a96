// The certificate-store adapter: certificates, DNs, searches, signing.
#include "plat_certstore.h"
#include "plat_crypt.h"
#include "plat_registry.h"
#include "sealdesk_certgen.h"
#include "sealdesk_test.h"
#include "tcore/tcore_base64.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_strlist.h"
#include "twcyt/twcyt_cert.h"
#include "twcyt/twcyt_sign.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>

#include <algorithm>
#include <cstring>
#include <set>

using namespace sealdesk_test;
namespace pc = plat::crypt;

namespace {

class Twcyt : public HomeTest {};

struct Cert {
    twcyt_certctx *p = nullptr;
    explicit Cert(const std::vector<uint8_t> &der)
        : p(twcyt_cert_load(static_cast<int>(der.size()), reinterpret_cast<const char *>(der.data()))) {}
    ~Cert() { twcyt_cert_free(p); }
    Cert(const Cert &) = delete;
    Cert &operator=(const Cert &) = delete;
};

struct List {
    tcore_list *p = nullptr;
    ~List() { tcore_list_free(p); }
    twcyt_certctx *at(int i) const { return static_cast<twcyt_certctx *>(tcore_list_get(p, i)); }
    int count() const { return tcore_list_count(p); }
};

struct StrList {
    tcore_strlist *p = nullptr;
    ~StrList() { tcore_strlist_free(p); }
    std::vector<std::string> items() const {
        std::vector<std::string> v;
        for (int i = 0; i < tcore_strlist_count(p); i++) v.push_back(tcore_strlist_get(p, i));
        return v;
    }
};

void registerProvider(const std::string &name, uint32_t type = 1) {
    ASSERT_EQ(plat::reg::setValue(plat::reg::LocalMachine,
                                  "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\" + name,
                                  plat::reg::Value::dword("Type", type)),
              0);
}

// Key pair into a container; certificate (with key-provider information when
// `store` is given) into that current-user store.
void install(const char *provider, uint32_t type, const char *container, EVP_PKEY *key,
             const std::vector<uint8_t> &der, const char *store = nullptr,
             uint32_t keySpec = pc::AT_SIGNATURE) {
    pc::Provider *prov = nullptr;
    ASSERT_TRUE(pc::acquireContext(&prov, container, provider, type, pc::NEW_KEYSET));
    ASSERT_TRUE(pc::storeKeyPair(prov, keySpec, key, der.data(), der.size()));
    pc::releaseContext(prov);
    if (!store) return;
    plat::cert::Context *c = plat::cert::create(der.data(), der.size());
    plat::cert::KeyProvInfo info{container, provider, type, 0, keySpec};
    std::vector<uint8_t> raw = plat::cert::encodeKeyProvInfo(info);
    ASSERT_TRUE(plat::cert::setProperty(c, plat::cert::PROP_KEY_PROV_INFO, raw.data(), raw.size()));
    plat::cert::Store *s = plat::cert::openSystemStore(plat::cert::CurrentUser, store, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(plat::cert::addContext(s, c, plat::cert::ADD_REPLACE_EXISTING, nullptr));
    plat::cert::closeStore(s);
    plat::cert::release(c);
}

void addToStore(const char *store, const std::vector<uint8_t> &der) {
    plat::cert::Store *s = plat::cert::openSystemStore(plat::cert::CurrentUser, store, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(plat::cert::addEncoded(s, der.data(), der.size(), plat::cert::ADD_USE_EXISTING, nullptr));
    plat::cert::closeStore(s);
}

std::string subjectCN(twcyt_certctx *c) {
    char cn[256];
    return twcyt_cert_getRdn("CN", c, cn) > 0 ? cn : "";
}

CertSpec named(const std::string &cn, uint8_t serial, const char *usage = "digitalSignature") {
    CertSpec s;
    s.subject = {{"CN", cn}};
    s.serial = {serial};
    s.keyUsage = usage;
    return s;
}

// Verifies a big-endian RSA signature with the openssl command line.
bool opensslVerifies(EVP_PKEY *key, const char *digest, const std::string &data,
                     const std::vector<uint8_t> &sig, const TempDir &dir) {
    writeFile(dir.path() / "pub.pem", publicKeyToPem(key));
    writeFile(dir.path() / "data.bin", data);
    writeFile(dir.path() / "sig.bin", std::string(sig.begin(), sig.end()));
    return sealdesk_test::opensslVerifies(digest, (dir.path() / "pub.pem").string(),
                                          (dir.path() / "sig.bin").string(),
                                          (dir.path() / "data.bin").string());
}

}  // namespace

TEST_F(Twcyt, LoadsDerBase64AndPem) {
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get());
    std::vector<char> b64(der.size() * 2);
    int n = tcore_base64_encode(b64.data(), reinterpret_cast<const char *>(der.data()),
                                static_cast<int>(der.size()), static_cast<int>(b64.size()));
    ASSERT_GT(n, 0);
    std::string pem = toPem(der);
    std::string withTail(der.begin(), der.end());
    withTail += std::string("\0\0", 2);
    const std::pair<std::string, bool> inputs[] = {
        {std::string(der.begin(), der.end()), true},
        {std::string(b64.data(), static_cast<size_t>(n)), true},
        {pem, true},
        {withTail, true},
        {std::string(der.begin(), der.begin() + 100), false},
        {"-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n", false},
        {"hello", false},
    };
    for (const auto &[text, ok] : inputs) {
        twcyt_certctx *c = twcyt_cert_load(static_cast<int>(text.size()), text.c_str());
        EXPECT_EQ(c != nullptr, ok) << text.substr(0, 30);
        if (c) {
            EXPECT_EQ(plat::cert::der(c), der);
        }
        twcyt_cert_free(c);
    }
    EXPECT_EQ(twcyt_cert_load(0, pem.c_str()), nullptr);
    EXPECT_EQ(twcyt_cert_load(10, nullptr), nullptr);
}

TEST_F(Twcyt, SerialIsLeastSignificantFirstAndNeverOverruns) {
    Pkey k = rsaKey();
    CertSpec certSpec;
    certSpec.serial = {0x01, 0x02, 0x03, 0x04, 0x05};
    Cert c(makeCert(k.get(), certSpec));
    unsigned char buf[8];
    memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(twcyt_cert_getSnData(c.p, buf, 6), 5);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 8),
              (std::vector<uint8_t>{5, 4, 3, 2, 1, 0, 0xEE, 0xEE}));
    memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(twcyt_cert_getSnData(c.p, buf, 4), -10003);
    EXPECT_EQ(buf[4], 0xEE);  // nothing written past the given size
    EXPECT_EQ(twcyt_cert_getSnData(nullptr, buf, 8), -10002);
}

TEST_F(Twcyt, KeyAlgorithmAndUsageTests) {
    Pkey rsa = rsaKey(), sm2 = ecKey("SM2"), p256 = ecKey("P-256");
    EVP_PKEY *ed = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    ASSERT_TRUE(rsa && sm2 && p256 && ed);
    struct {
        EVP_PKEY *key;
        int alg, isRsa, isSm2;
    } algs[] = {{rsa.get(), 201, 1, 0}, {sm2.get(), 210, 0, 1}, {p256.get(), 210, 0, 1}, {ed, -260026, 0, 0}};
    for (const auto &a : algs) {
        Cert c(makeCert(a.key));
        ASSERT_NE(c.p, nullptr);
        EXPECT_EQ(twcyt_cert_keyAlg(c.p), a.alg);
        EXPECT_EQ(twcyt_cert_isRsa(c.p), a.isRsa);
        EXPECT_EQ(twcyt_cert_isSm2(c.p), a.isSm2);
    }
    EVP_PKEY_free(ed);

    struct {
        const char *usage;
        int sign, encrypt;
    } usages[] = {{nullptr, 1, 1},
                  {"digitalSignature", 1, 0},
                  {"nonRepudiation", 1, 0},
                  {"dataEncipherment", 0, 1},
                  {"digitalSignature,dataEncipherment", 1, 1},
                  {"keyCertSign,keyEncipherment", 0, 0}};
    for (const auto &u : usages) {
        CertSpec certSpec;
        certSpec.keyUsage = u.usage;
        Cert c(makeCert(rsa.get(), certSpec));
        EXPECT_EQ(twcyt_cert_canSign(c.p), u.sign) << (u.usage ? u.usage : "none");
        EXPECT_EQ(twcyt_cert_canEncrypt(c.p), u.encrypt) << (u.usage ? u.usage : "none");
    }
    EXPECT_EQ(twcyt_cert_canSign(nullptr), 0);
    EXPECT_EQ(twcyt_cert_isSm2(nullptr), 0);
}

TEST_F(Twcyt, NamesToText) {
    Pkey k = rsaKey();
    CertSpec certSpec;
    certSpec.subject = {{"C", "CN"}, {"O", "Org"}, {"CN", "Alice"}};
    Cert c(makeCert(k.get(), certSpec));
    const std::string dn = "C=CN, O=Org, CN=Alice";
    EXPECT_EQ(twcyt_cert_getDn(c.p, 0, nullptr), static_cast<int>(dn.size()) + 1);
    char out[512];
    EXPECT_EQ(twcyt_cert_getDn(c.p, static_cast<int>(dn.size()), out), -10003);
    ASSERT_EQ(twcyt_cert_getDn(c.p, static_cast<int>(dn.size()) + 1, out), static_cast<int>(dn.size()) + 1);
    EXPECT_EQ(std::string(out), dn);
    ASSERT_GT(twcyt_cert_getIssuerDn(c.p, out), 0);
    EXPECT_EQ(std::string(out), dn);  // self-signed

    certSpec.subject = {};
    Cert empty(makeCert(k.get(), certSpec));
    EXPECT_EQ(twcyt_cert_getDn(empty.p, 512, out), -260031);
    std::vector<uint8_t> name = plat::cert::subjectName(empty.p);
    EXPECT_EQ(twcyt_cert_nameToStr(TWCYT_X509_ASN_ENCODING, name.data(), static_cast<int>(name.size()),
                                   nullptr, 0),
              -260031);
    EXPECT_EQ(twcyt_cert_nameToStr(1, nullptr, 3, out, 512), -10002);
}

TEST_F(Twcyt, DnValuesSplitAndEquality) {
    struct {
        const char *dn, *key;
        std::vector<std::string> values;
    } cases[] = {
        {"C=CN, O=Org, CN=Alice", "CN", {"Alice"}},
        {"C=CN, OU=a, OU=b", "OU", {"a", "b"}},
        {"C=CN, O=Org, CN=Alice", "cn", {}},              // keys are case-sensitive
        {"CN=a,b, O=x", "CN", {"a,b"}},                   // "," without a key after it
        {"CN=a=b, O=x", "CN", {"a=b"}},                   // "=" inside a value
        {"CN=\"x, O=y\", O=z", "O", {"z"}},               // quoted value hides its ", O="
        {"CN=\"say \"\"hi\"\"\"", "CN", {"say \"hi\""}},  // quotes removed, "" -> "
        {"OU=one + CN=two, C=CN", "CN", {"two"}},         // multi-valued RDN
        {"OU=one + CN=two, C=CN", "OU", {"one"}},
        {"OID.1.2.3=v, CN=w", "OID.1.2.3", {"v"}},
    };
    for (const auto &c : cases) {
        StrList l;
        EXPECT_EQ(twcyt_dn_getValues(c.dn, c.key, &l.p), static_cast<int>(c.values.size())) << c.dn;
        EXPECT_EQ(l.items(), c.values) << c.dn;
    }
    StrList parts;
    EXPECT_EQ(twcyt_dn_split("OU=one + CN=two, C=CN, O=\"a, b\"", &parts.p), 4);
    EXPECT_EQ(parts.items(), (std::vector<std::string>{"OU=one", "CN=two", "C=CN", "O=\"a, b\""}));
    StrList none;
    EXPECT_EQ(twcyt_dn_getValues("", "CN", &none.p), -10002);
    EXPECT_EQ(twcyt_dn_getValues("CN=a", "", &none.p), -10002);
    EXPECT_EQ(twcyt_dn_split("CN=a", nullptr), -10002);

    EXPECT_EQ(twcyt_dn_equal("C=CN, O=Org, CN=Alice", "CN=Alice, C=CN, O=Org"), 0);
    EXPECT_EQ(twcyt_dn_equal("C=CN, O=Org, CN=Alice", "C=CN, O=Org, CN=Alice, OU=x"), -1);
    EXPECT_EQ(twcyt_dn_equal("C=CN, O=Org", "C=CN, O=Other"), -1);
    EXPECT_EQ(twcyt_dn_equal("", "C=CN"), -10002);
    EXPECT_EQ(twcyt_dn_compare("CN=\xe5\xbc\xa0, C=CN", "C=CN, CN=\xe5\xbc\xa0"), 0);
}

TEST_F(Twcyt, RdnOfTheSubject) {
    Pkey k = rsaKey();
    CertSpec certSpec;
    certSpec.subject = {{"C", "CN"}, {"OU", "Sales"}, {"OU", "East"}, {"CN", "Bob, Jr."}};
    Cert c(makeCert(k.get(), certSpec));
    char out[256];
    EXPECT_EQ(twcyt_cert_getRdn("CN", c.p, out), 8);
    EXPECT_STREQ(out, "Bob, Jr.");
    EXPECT_EQ(twcyt_cert_getRdn("OU", c.p, out), 5);
    EXPECT_STREQ(out, "Sales");
    EXPECT_EQ(twcyt_cert_getRdn("O", c.p, out), 0);
    EXPECT_EQ(twcyt_cert_getRdn("CN", c.p, nullptr), 8);
    StrList ous;
    EXPECT_EQ(twcyt_cert_getRdnValues(c.p, &ous.p, "OU"), 2);
    EXPECT_EQ(twcyt_cert_rdnContains("OU", c.p, "Eas"), 1);
    EXPECT_EQ(twcyt_cert_rdnContains("OU", c.p, "west"), 0);
    EXPECT_EQ(twcyt_cert_rdnContains("OU", nullptr, "E"), 0);

    // (CN is limited to 64 characters; STREET is not.)
    certSpec.subject = {{"street", std::string(256, 'x')}};
    Cert longValue(makeCert(k.get(), certSpec));
    memset(out, 0x55, sizeof out);
    EXPECT_EQ(twcyt_cert_getRdn("STREET", longValue.p, out), -10002);
    certSpec.subject = {{"street", std::string(255, 'y')}};
    Cert fits(makeCert(k.get(), certSpec));
    EXPECT_EQ(twcyt_cert_getRdn("STREET", fits.p, out), 255);
    EXPECT_EQ(out[255], '\0');
}

TEST_F(Twcyt, ValidityTextAndCheck) {
    Pkey k = rsaKey();
    CertSpec certSpec;
    certSpec.notBefore = "20240507130409Z";
    certSpec.notAfter = "20340101000000Z";
    Cert c(makeCert(k.get(), certSpec));
    char nb[64], na[64];
    ASSERT_EQ(twcyt_cert_getValidity(c.p, nb, na), 0);
    EXPECT_STREQ(nb, "20240507130409");
    EXPECT_STREQ(na, "20340101000000");
    EXPECT_EQ(twcyt_cert_getValidity(c.p, nullptr, na), 0);
    EXPECT_EQ(twcyt_cert_checkValidity(c.p), 0);

    certSpec.notBefore = "20200101000000Z";
    certSpec.notAfter = "20210101000000Z";
    Cert old(makeCert(k.get(), certSpec));
    EXPECT_EQ(twcyt_cert_checkValidity(old.p), -260035);
    certSpec.notBefore = "20990101000000Z";
    certSpec.notAfter = "21000101000000Z";
    Cert future(makeCert(k.get(), certSpec));
    EXPECT_EQ(twcyt_cert_checkValidity(future.p), -260034);
    EXPECT_EQ(twcyt_cert_checkValidity(nullptr), -10002);
}

TEST_F(Twcyt, Base64AndUserProperties) {
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get());
    Cert c(der);
    char b64[4096];
    int n = twcyt_cert_toBase64(nullptr, c.p);
    ASSERT_EQ(twcyt_cert_toBase64(b64, c.p), n);
    EXPECT_EQ(static_cast<size_t>(n), strlen(b64));
    std::vector<unsigned char> back(static_cast<size_t>(n));
    EXPECT_EQ(tcore_base64_decode(back.data(), b64, n, n), static_cast<int>(der.size()));
    EXPECT_TRUE(std::equal(der.begin(), der.end(), back.begin()));

    EXPECT_EQ(twcyt_cert_userPropCount(c.p), 0);
    EXPECT_EQ(twcyt_cert_getUserProp(c.p, 0, b64), -260029);
    const char csp[] = "Vendor CSP";
    const char box[] = "box-1";
    EXPECT_EQ(twcyt_cert_addUserProp(c.p, reinterpret_cast<const unsigned char *>(csp), sizeof csp), 1);
    EXPECT_EQ(twcyt_cert_addUserProp(c.p, reinterpret_cast<const unsigned char *>(box), sizeof box), 2);
    EXPECT_EQ(twcyt_cert_userPropCount(c.p), 2);
    char out[256];
    EXPECT_EQ(twcyt_cert_getUserProp(c.p, 1, nullptr), static_cast<int>(sizeof box));
    EXPECT_EQ(twcyt_cert_getUserProp(c.p, 1, out), static_cast<int>(sizeof box));
    EXPECT_STREQ(out, box);
    std::string big(300, 'z');
    EXPECT_EQ(twcyt_cert_addUserProp(c.p, reinterpret_cast<const unsigned char *>(big.data()), 300), 3);
    EXPECT_EQ(twcyt_cert_getUserProp(c.p, 2, nullptr), 300);
    EXPECT_EQ(twcyt_cert_getUserProp(c.p, 2, out), -10003);
}

TEST_F(Twcyt, StoreSearchAcrossTheStoreList) {
    Pkey rsa = rsaKey(), sm2 = ecKey("SM2");
    addToStore("MY", makeCert(rsa.get(), named("rsa-sign", 1)));
    addToStore("MY", makeCert(sm2.get(), named("sm2-sign", 2)));
    addToStore("MY", makeCert(rsa.get(), named("rsa-encrypt", 3, "dataEncipherment")));

    List all;
    EXPECT_EQ(twcyt_certstore_findAll(0, &all.p), 2);  // "MY" only before the first reset
    ASSERT_EQ(twcyt_certstore_resetNames(), 0);
    EXPECT_STREQ(twcyt_certstore_names(), "MY:CORVINA");
    // CORVINA does not exist: it adds nothing, and is not created.
    List again;
    EXPECT_EQ(twcyt_certstore_findAll(0, &again.p), 2);
    EXPECT_FALSE(plat::reg::keyExists(plat::reg::CurrentUser,
                                      "SOFTWARE\\Microsoft\\SystemCertificates\\CORVINA"));

    addToStore("CORVINA", makeCert(sm2.get(), named("corvina-sm2", 4)));
    List sm2Only;
    EXPECT_EQ(twcyt_certstore_findAll(210, &sm2Only.p), 2);
    std::set<std::string> names;
    for (int i = 0; i < sm2Only.count(); i++) names.insert(subjectCN(sm2Only.at(i)));
    EXPECT_EQ(names, (std::set<std::string>{"sm2-sign", "corvina-sm2"}));
    List rsaOnly;
    EXPECT_EQ(twcyt_certstore_findBySysStore("MY", 201, &rsaOnly.p), 1);
    EXPECT_EQ(subjectCN(rsaOnly.at(0)), "rsa-sign");

    EXPECT_EQ(twcyt_certstore_findBySysStore("MY", 0, nullptr), -10002);
    EXPECT_EQ(twcyt_certstore_findBySysStore("", 0, &rsaOnly.p), -10002);
    EXPECT_EQ(twcyt_certlist_find(sm2Only.p, rsaOnly.at(0)), nullptr);
    Cert same(plat::cert::der(sm2Only.at(0)));
    EXPECT_EQ(twcyt_certlist_find(sm2Only.p, same.p), sm2Only.at(0));
}

TEST_F(Twcyt, FuzzyContainerSearchWithTwoPatterns) {
    registerProvider("Alpha SM2 CSP");
    registerProvider("Beta Token CSP");
    registerProvider("SM2 Token Combo");  // matches both patterns: searched once
    registerProvider("Gamma Other CSP");
    Pkey sm2 = ecKey("SM2"), rsa = rsaKey();
    install("Alpha SM2 CSP", 1, "a1", sm2.get(), makeCert(sm2.get(), named("alpha", 1)));
    install("Beta Token CSP", 1, "b1", rsa.get(), makeCert(rsa.get(), named("beta", 2)),
            nullptr, pc::AT_KEYEXCHANGE);
    install("Beta Token CSP", 1, "b2", rsa.get(),
            makeCert(rsa.get(), named("beta-enc", 3, "dataEncipherment")));
    install("SM2 Token Combo", 1, "c1", sm2.get(), makeCert(sm2.get(), named("combo", 5)));
    install("Gamma Other CSP", 1, "g1", rsa.get(), makeCert(rsa.get(), named("gamma", 6)));
    // A Microsoft provider is never searched, whatever the pattern.
    install(pc::ENHANCED_PROVIDER, 1, "m1", rsa.get(), makeCert(rsa.get(), named("ms", 7)));

    List found;
    EXPECT_EQ(twcyt_keycontainer_fuzzyFind("SM2:Token:Microsoft", 0, &found.p), 3);
    std::map<std::string, std::pair<std::string, std::string>> props;
    for (int i = 0; i < found.count(); i++) {
        char csp[256], box[256];
        ASSERT_EQ(twcyt_cert_userPropCount(found.at(i)), 2);
        ASSERT_GT(twcyt_cert_getUserProp(found.at(i), 0, csp), 0);
        ASSERT_GT(twcyt_cert_getUserProp(found.at(i), 1, box), 0);
        props[subjectCN(found.at(i))] = {csp, box};
    }
    EXPECT_EQ(props["alpha"], std::make_pair(std::string("Alpha SM2 CSP"), std::string("a1")));
    EXPECT_EQ(props["beta"], std::make_pair(std::string("Beta Token CSP"), std::string("b1")));
    EXPECT_EQ(props["combo"], std::make_pair(std::string("SM2 Token Combo"), std::string("c1")));
    List rsaOnly;
    EXPECT_EQ(twcyt_keycontainer_fuzzyFind("SM2:Token", 201, &rsaOnly.p), 1);
    EXPECT_EQ(twcyt_keycontainer_fuzzyFind("", 0, &rsaOnly.p), -10002);

    // The same certificate in two containers is listed once; usage 2 and 0.
    install("Gamma Other CSP", 1, "g2", rsa.get(), makeCert(rsa.get(), named("gamma", 6)));
    List g;
    EXPECT_EQ(twcyt_keycontainer_findCerts("Gamma Other CSP", 0, 1, &g.p), 1);
    List enc;
    EXPECT_EQ(twcyt_keycontainer_findCerts("Beta Token CSP", 0, 2, &enc.p), 1);
    List any;
    EXPECT_EQ(twcyt_keycontainer_findCerts("Beta Token CSP", 0, 0, &any.p), 2);
    List weird;
    EXPECT_EQ(twcyt_keycontainer_findCerts("Beta Token CSP", 0, 7, &weird.p), 0);
    EXPECT_EQ(twcyt_keycontainer_findCerts("No Such CSP", 0, 1, &weird.p), -260016);
}

TEST_F(Twcyt, RsaSignaturesVerifyWithOpensslForEveryDigest) {
    Pkey k = rsaKey();
    std::vector<uint8_t> der = makeCert(k.get(), named("signer", 9));
    install(pc::ENHANCED_PROVIDER, 1, "signer", k.get(), der, "MY");
    ASSERT_EQ(twcyt_certstore_resetNames(), 0);
    List mine;
    ASSERT_EQ(twcyt_certstore_findAll(201, &mine.p), 1);
    twcyt_certctx *c = mine.at(0);
    char name[256];
    EXPECT_EQ(twcyt_cert_getProviderName(c, name), static_cast<int>(strlen(pc::ENHANCED_PROVIDER)));
    EXPECT_STREQ(name, pc::ENHANCED_PROVIDER);
    EXPECT_EQ(twcyt_cert_isMicrosoftProvider(c), 1);

    TempDir dir;
    const std::string data = "page data to sign";
    struct {
        int kid;
        const char *digest;
        unsigned digestLen;
    } cases[] = {{101, "md5", 16}, {102, "sha1", 20}, {103, "sha256", 32}, {105, "sha384", 48}, {104, "sha512", 64}};
    bool switched = false;
    for (const auto &cs : cases) {
        bool sha2 = cs.kid >= 103;
        twcyt_signctx *ctx = twcyt_signctx_new();
        if (sha2 && !switched) {
            switched = true;
            // The type-1 provider has no SHA-2: the engine switches first.
            ASSERT_EQ(twcyt_signctx_setCert(ctx, c), 0);
            ctx->digestKid = cs.kid;
            EXPECT_EQ(twcyt_signctx_sign(ctx, reinterpret_cast<const unsigned char *>(data.data()),
                                         static_cast<int>(data.size()), nullptr),
                      -260003);
            ASSERT_EQ(twcyt_cert_setProvider(c), 0);
        }
        ASSERT_EQ(twcyt_signctx_setCert(ctx, c), 0);
        ctx->digestKid = cs.kid;
        unsigned char sig[TWCYT_SIG_MAX];
        int n = twcyt_signctx_sign(ctx, reinterpret_cast<const unsigned char *>(data.data()),
                                   static_cast<int>(data.size()), sig);
        ASSERT_EQ(n, 256) << cs.digest;
        ASSERT_EQ(tcore_reverseBytes(n, sig), 0);
        EXPECT_TRUE(opensslVerifies(k.get(), cs.digest, data, std::vector<uint8_t>(sig, sig + n), dir))
            << cs.digest;

        // The same through a ready digest.
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int mdLen = 0;
        EVP_Digest(data.data(), data.size(), md, &mdLen, EVP_get_digestbyname(cs.digest), nullptr);
        ASSERT_EQ(mdLen, cs.digestLen);
        n = twcyt_signctx_signHash(ctx, md, static_cast<int>(mdLen), sig);
        ASSERT_EQ(n, 256);
        tcore_reverseBytes(n, sig);
        EXPECT_TRUE(opensslVerifies(k.get(), cs.digest, data, std::vector<uint8_t>(sig, sig + n), dir));
        twcyt_signctx_free(ctx);
    }
    // The switch was kept by the store.
    List again;
    ASSERT_EQ(twcyt_certstore_findAll(201, &again.p), 1);
    EXPECT_EQ(twcyt_cert_getProviderName(again.at(0), name), static_cast<int>(strlen(pc::AES_PROVIDER)));
    EXPECT_EQ(twcyt_cert_setProvider(again.at(0)), 0);

    // A 32-byte digest on a SHA-1 context.
    twcyt_signctx *ctx = twcyt_signctx_new();
    ASSERT_EQ(twcyt_signctx_setCert(ctx, again.at(0)), 0);
    ctx->digestKid = 102;
    unsigned char digest[32] = {0};
    EXPECT_EQ(twcyt_signctx_signHash(ctx, digest, 32, nullptr), -260007);
    EXPECT_EQ(twcyt_signctx_signHash(ctx, digest, 20, nullptr), 256);
    EXPECT_EQ(twcyt_signctx_sign(ctx, digest, 0, nullptr), -10002);
    twcyt_signctx_free(ctx);
}

TEST_F(Twcyt, Sm2ContainerCertificateSignsThroughUserProperties) {
    registerProvider("Vendor SM2 CSP");
    Pkey k = ecKey("SM2");
    std::vector<uint8_t> der = makeCert(k.get(), named("sm2 user", 3));
    install("Vendor SM2 CSP", 1, "sm2box", k.get(), der);
    List found;
    ASSERT_EQ(twcyt_keycontainer_fuzzyFind("SM2", 210, &found.p), 1);
    twcyt_certctx *c = found.at(0);
    // No key-provider information: the system lookup fails, the user
    // properties lead to the key.
    char name[256];
    EXPECT_EQ(twcyt_cert_getProviderName(c, name), -260043);
    EXPECT_EQ(twcyt_cert_isMicrosoftProvider(c), 0);

    twcyt_signctx *ctx = twcyt_signctx_new();
    ASSERT_EQ(twcyt_signctx_setCert(ctx, c), 0);
    EXPECT_EQ(ctx->digestKid, 110);
    EXPECT_EQ(ctx->keySpec, 2);
    EXPECT_EQ(ctx->provOwned, 1);
    const std::string data = "sm2 page data";
    unsigned char sig[TWCYT_SIG_MAX];
    int n = twcyt_signctx_sign(ctx, reinterpret_cast<const unsigned char *>(data.data()),
                               static_cast<int>(data.size()), sig);
    ASSERT_EQ(n, 64);
    EXPECT_EQ(twcyt_reverseHalves(sig, n), 64);
    EXPECT_TRUE(sm2Verifies(k.get(), data, std::vector<uint8_t>(sig, sig + 64)));
    twcyt_signctx_free(ctx);

    // Without key information and without user properties there is no key.
    Cert bare(der);
    ctx = twcyt_signctx_new();
    EXPECT_EQ(twcyt_signctx_setCert(ctx, bare.p), -260043);
    EXPECT_EQ(ctx->cert, nullptr);
    EXPECT_EQ(twcyt_signctx_sign(ctx, sig, 4, nullptr), -260101);
    // User properties naming a container that does not exist.
    const char csp[] = "Vendor SM2 CSP", box[] = "gone";
    twcyt_cert_addUserProp(bare.p, reinterpret_cast<const unsigned char *>(csp), sizeof csp);
    twcyt_cert_addUserProp(bare.p, reinterpret_cast<const unsigned char *>(box), sizeof box);
    EXPECT_EQ(twcyt_signctx_setCert(ctx, bare.p), -260016);
    twcyt_signctx_free(ctx);
}

// User properties come from the store's files: a 256-byte value without its
// terminator must not make the provider lookups read past their buffers
// (the sanitizer build sees any overrun).
TEST_F(Twcyt, UnterminatedUserPropertiesStayInsideTheirBuffers) {
    Pkey k = ecKey("SM2");
    Cert c(makeCert(k.get(), named("sm2 user", 4)));
    const std::string csp = std::string(247, 'x') + "Microsoft";  // 256 bytes, no NUL
    const std::string box(256, 'b');
    ASSERT_EQ(twcyt_cert_addUserProp(c.p, reinterpret_cast<const unsigned char *>(csp.data()), 256), 1);
    ASSERT_EQ(twcyt_cert_addUserProp(c.p, reinterpret_cast<const unsigned char *>(box.data()), 256), 2);
    EXPECT_EQ(twcyt_cert_isMicrosoftProvider(c.p), 1);
    EXPECT_EQ(twcyt_cert_setProvider(c.p), -260029);  // no key-provider information to switch
    twcyt_signctx *ctx = twcyt_signctx_new();
    EXPECT_EQ(twcyt_signctx_setCert(ctx, c.p), -260016);  // no such provider
    twcyt_signctx_free(ctx);
}

TEST_F(Twcyt, BigRsaKeyOverflowsTheSignatureBuffer) {
    Pkey k = rsaKey(4096);
    install(pc::AES_PROVIDER, 24, "big", k.get(), makeCert(k.get(), named("big", 1)), "MY");
    List mine;
    ASSERT_EQ(twcyt_certstore_findBySysStore("MY", 0, &mine.p), 1);
    twcyt_signctx *ctx = twcyt_signctx_new();
    ASSERT_EQ(twcyt_signctx_setCert(ctx, mine.at(0)), 0);
    ctx->digestKid = 103;
    const unsigned char data[] = "x";
    EXPECT_EQ(twcyt_signctx_sign(ctx, data, 1, nullptr), -260102);
    twcyt_signctx_free(ctx);
}

TEST_F(Twcyt, DigestProvidersAndHalves) {
    unsigned char out[TWCYT_SIG_MAX];
    ASSERT_EQ(twcyt_digest(reinterpret_cast<const unsigned char *>("abc"), 102, 0, out), 20);
    const unsigned char sha1abc[] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                     0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
    EXPECT_EQ(memcmp(out, sha1abc, 20), 0);
    EXPECT_EQ(twcyt_digest(reinterpret_cast<const unsigned char *>("abc"), 103, 3, nullptr), 32);
    EXPECT_EQ(twcyt_digest(reinterpret_cast<const unsigned char *>("abc"), 104, 3, out), 64);
    EXPECT_EQ(twcyt_digest(reinterpret_cast<const unsigned char *>("abc"), 101, 3, out), 16);
    EXPECT_EQ(twcyt_digest(reinterpret_cast<const unsigned char *>("abc"), 110, 3, out), -260003);
    EXPECT_EQ(twcyt_digest(nullptr, 102, 3, out), -10002);

    unsigned char buf[65];
    for (int i = 0; i < 65; i++) buf[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(twcyt_reverseHalves(buf, 64), 64);
    for (int i = 0; i < 32; i++) {
        EXPECT_EQ(buf[i], 31 - i);
        EXPECT_EQ(buf[32 + i], 63 - i);
    }
    for (int i = 0; i < 65; i++) buf[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(twcyt_reverseHalves(buf, 65), 65);
    for (int i = 0; i < 65; i++) EXPECT_EQ(buf[i], i);

    registerProvider("Vendor CSP");
    StrList csps;
    EXPECT_EQ(twcyt_csp_enumProviders(&csps.p), 4);
    EXPECT_EQ(csps.items(), (std::vector<std::string>{pc::BASE_PROVIDER, pc::ENHANCED_PROVIDER,
                                                      pc::AES_PROVIDER, "Vendor CSP"}));
    EXPECT_EQ(twcyt_csp_enumProviders(nullptr), -10002);
}
