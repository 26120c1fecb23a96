// sealdesk_cert against files made by the openssl command line.
#include "plat_registry.h"
#include "sealdesk_certgen.h"
#include "sealdesk_test.h"
#include "tcore/tcore_base64.h"
#include "tcore/tcore_list.h"
#include "twcyt/twcyt_cert.h"
#include "twcyt/twcyt_sign.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cctype>
#include <cstring>

using namespace sealdesk_test;

namespace {

class CertTool : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        tmp_ = std::make_unique<TempDir>();
    }
    std::string tool(const std::string &args, std::string *out = nullptr) {
        std::string o;
        int rc = run("'" + binDir() + "/sealdesk_cert' " + args + " 2>&1", &o);
        if (out) *out = o;
        return std::to_string(rc);
    }
    std::string path(const char *name) const { return (tmp_->path() / name).string(); }
    // Runs an openssl command in the temporary folder; true on success.
    bool openssl(const std::string &args) {
        return run("cd '" + tmp_->str() + "' && openssl " + args + " >/dev/null 2>&1") == 0;
    }
    std::string thumbprint(const char *certPem) {
        std::string out;
        run("cd '" + tmp_->str() + "' && openssl x509 -in " + certPem + " -noout -fingerprint -sha1", &out);
        std::string hex;
        for (char c : out.substr(out.find('=') + 1))
            if (isxdigit(static_cast<unsigned char>(c))) hex += static_cast<char>(toupper(c));
        return hex;
    }
    std::unique_ptr<TempDir> tmp_;
};

struct List {
    tcore_list *p = nullptr;
    ~List() { tcore_list_free(p); }
    twcyt_certctx *at(int i) const { return static_cast<twcyt_certctx *>(tcore_list_get(p, i)); }
};

// Signs `data` with the only certificate of "MY"; big-endian signature.
std::vector<unsigned char> signWithMy(const std::string &data, int kid, int *alg) {
    List mine;
    EXPECT_EQ(twcyt_certstore_findBySysStore("MY", 0, &mine.p), 1);
    if (!mine.p) return {};
    twcyt_signctx *ctx = twcyt_signctx_new();
    EXPECT_EQ(twcyt_signctx_setCert(ctx, mine.at(0)), 0);
    if (!twcyt_cert_isSm2(mine.at(0))) ctx->digestKid = kid;
    unsigned char sig[TWCYT_SIG_MAX];
    int n = twcyt_signctx_sign(ctx, reinterpret_cast<const unsigned char *>(data.data()),
                               static_cast<int>(data.size()), sig);
    *alg = twcyt_cert_keyAlg(mine.at(0));
    twcyt_signctx_free(ctx);
    if (n <= 0) return {};
    if (*alg == 210)
        twcyt_reverseHalves(sig, n);
    else
        tcore_reverseBytes(n, sig);
    return std::vector<unsigned char>(sig, sig + n);
}

}  // namespace

TEST_F(CertTool, RsaPkcs12RoundTripsAndSigns) {
    ASSERT_TRUE(openssl("req -x509 -newkey rsa:2048 -nodes -keyout k.pem -out c.pem -days 30 "
                        "-subj '/C=CN/O=Tool Test/CN=Round Trip'"));
    ASSERT_TRUE(openssl("pkcs12 -export -inkey k.pem -in c.pem -out a.p12 -passout pass:s3cret -name alice"));
    std::string out;
    // A wrong password imports nothing.
    EXPECT_EQ(tool("import-pfx '" + path("a.p12") + "' --password wrong", &out), "1");
    EXPECT_NE(out.find("password"), std::string::npos) << out;
    EXPECT_EQ(tool("list", &out), "0");
    EXPECT_NE(out.find("0 certificates"), std::string::npos) << out;

    ASSERT_EQ(tool("import-pfx '" + path("a.p12") + "' --password s3cret", &out), "0") << out;
    std::string thumb = thumbprint("c.pem");
    ASSERT_EQ(thumb.size(), 40u);
    EXPECT_EQ(tool("list", &out), "0");
    EXPECT_NE(out.find(thumb), std::string::npos) << out;
    EXPECT_NE(out.find("C=CN, O=Tool Test, CN=Round Trip"), std::string::npos) << out;
    EXPECT_NE(out.find("RSA 2048"), std::string::npos) << out;
    EXPECT_NE(out.find("Microsoft Enhanced RSA and AES Cryptographic Provider"), std::string::npos);

    // The imported key signs; openssl verifies with the original certificate.
    const std::string data = "imported and signed";
    int alg = 0;
    std::vector<unsigned char> sig = signWithMy(data, 103, &alg);
    ASSERT_EQ(sig.size(), 256u);
    writeFile(tmp_->path() / "data.bin", data);
    writeFile(tmp_->path() / "sig.bin", std::string(sig.begin(), sig.end()));
    ASSERT_TRUE(openssl("x509 -in c.pem -pubkey -noout -out pub.pem"));
    EXPECT_TRUE(openssl("dgst -sha256 -verify pub.pem -signature sig.bin data.bin"));

    // Importing again replaces; deleting with the key removes both.
    EXPECT_EQ(tool("import-pfx '" + path("a.p12") + "' --password s3cret --container box", &out), "0");
    EXPECT_EQ(tool("delete " + thumb + " --with-key", &out), "0") << out;
    EXPECT_EQ(tool("list", &out), "0");
    EXPECT_EQ(out.find(thumb), std::string::npos);
    EXPECT_EQ(tool("delete " + thumb, &out), "1");
}

TEST_F(CertTool, Sm2Pkcs12FromStdinSignsWithTheStandardRule) {
    ASSERT_TRUE(openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out s.pem"));
    ASSERT_TRUE(openssl("req -new -x509 -key s.pem -sm3 -out s.crt -days 30 -subj '/CN=SM2 Tool'"));
    ASSERT_TRUE(openssl("pkcs12 -export -inkey s.pem -in s.crt -out s.p12 -passout pass:pw"));
    std::string out;
    ASSERT_EQ(tool("import-pfx '" + path("s.p12") + "' --password-stdin < /dev/null", &out), "1");
    ASSERT_EQ(run("echo pw | '" + binDir() + "/sealdesk_cert' import-pfx '" + path("s.p12") +
                      "' --password-stdin --container sm2box",
                  &out),
              0)
        << out;
    EXPECT_NE(out.find("SealDesk SM2 Software CSP"), std::string::npos) << out;

    const std::string data = "sm2 through the tool";
    int alg = 0;
    std::vector<unsigned char> rs = signWithMy(data, 110, &alg);
    ASSERT_EQ(alg, 210);
    ASSERT_EQ(rs.size(), 64u);
    Pkey key = readPrivateKey(path("s.pem"));
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(sm2Verifies(key.get(), data, rs));

    // The same certificate is found in the provider's containers too.
    List found;
    EXPECT_EQ(twcyt_keycontainer_fuzzyFind("SM2", 210, &found.p), 1);
}

TEST_F(CertTool, BareCertificatesGoToMachineRoot) {
    ASSERT_TRUE(openssl("req -x509 -newkey rsa:2048 -nodes -keyout r1.key -out r1.pem -days 30 -subj '/CN=Root One'"));
    ASSERT_TRUE(openssl("req -x509 -newkey rsa:2048 -nodes -keyout r2.key -out r2.pem -days 30 -subj '/CN=Root Two'"));
    ASSERT_EQ(run("cat '" + path("r1.pem") + "' '" + path("r2.pem") + "' > '" + path("both.pem") + "'"), 0);
    ASSERT_TRUE(openssl("x509 -in r2.pem -outform DER -out r2.der"));
    std::string out;
    ASSERT_EQ(tool("import-cert '" + path("both.pem") + "' --store root --machine", &out), "0") << out;
    ASSERT_EQ(tool("import-cert '" + path("r2.der") + "' --store root --machine", &out), "0") << out;
    for (const char *pem : {"r1.pem", "r2.pem"}) {
        std::string thumb = thumbprint(pem);
        // Where the root-chain check looks (any letter case).
        std::string lower;
        for (char c : thumb) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(plat::reg::keyExists(plat::reg::LocalMachine,
                                         "SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\" + lower));
    }
    EXPECT_EQ(tool("list --store root --machine", &out), "0");
    EXPECT_NE(out.find("2 certificates"), std::string::npos) << out;
    EXPECT_NE(out.find("private key: none"), std::string::npos);
    EXPECT_EQ(tool("import-cert '" + path("r1.key") + "'", &out), "1");
    EXPECT_EQ(tool("import-pfx", &out), "2");
    EXPECT_EQ(tool("frobnicate x", &out), "2");
}
