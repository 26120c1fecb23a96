// The software SKF token on its own: the softskf tool's checks and the
// driver's GM/T 0016 conventions, called directly through dlopen.
#include "skf_fixture.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "tutil/tutil_skf_api.h"

using namespace skf_test;
using sealdesk_test::run;

namespace {

// The driver's functions, resolved by name.
struct Driver {
    void *lib = nullptr;
#define FN(name) SKF_##name##_t *name = nullptr;
    FN(EnumDev) FN(ConnectDev) FN(DisConnectDev) FN(EnumApplication) FN(OpenApplication)
    FN(CloseApplication) FN(VerifyPIN) FN(EnumContainer) FN(OpenContainer) FN(CloseContainer)
    FN(ExportCertificate) FN(ExportPublicKey) FN(DigestInit) FN(Digest) FN(RSASignData)
    FN(ECCSignData) FN(GetContainerType)
#undef FN
    bool load() {
        lib = dlopen(driverPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) return false;
#define FN(name) name = reinterpret_cast<SKF_##name##_t *>(dlsym(lib, "SKF_" #name));
        FN(EnumDev) FN(ConnectDev) FN(DisConnectDev) FN(EnumApplication) FN(OpenApplication)
        FN(CloseApplication) FN(VerifyPIN) FN(EnumContainer) FN(OpenContainer)
        FN(CloseContainer) FN(ExportCertificate) FN(ExportPublicKey) FN(DigestInit) FN(Digest)
        FN(RSASignData) FN(ECCSignData) FN(GetContainerType)
#undef FN
        return EnumDev && RSASignData && GetContainerType;
    }
    ~Driver() {
        if (lib) dlclose(lib);
    }
};

char *name(const char *s) { return const_cast<char *>(s); }

class SoftSkfTest : public SkfTest {
protected:
    void SetUp() override {
        SkfTest::SetUp();
        ASSERT_TRUE(drv_.load()) << dlerror();
        standardToken();
    }

    // Opens D1/A1/<con>; the PIN is verified when `pin` is given.
    void open(const char *con, const char *pin = nullptr) {
        ASSERT_EQ(drv_.ConnectDev(name("D1"), &dev_), SAR_OK);
        ASSERT_EQ(drv_.OpenApplication(dev_, name("A1"), &app_), SAR_OK);
        if (pin) {
            ASSERT_EQ(drv_.VerifyPIN(app_, USER_TYPE, name(pin), nullptr), SAR_OK);
        }
        ASSERT_EQ(drv_.OpenContainer(app_, name(con), &con_), SAR_OK);
    }

    void TearDown() override {
        if (dev_) drv_.DisConnectDev(dev_);
        SkfTest::TearDown();
    }

    Driver drv_;
    DEVHANDLE dev_ = nullptr;
    HAPPLICATION app_ = nullptr;
    HCONTAINER con_ = nullptr;
};

std::string text(const unsigned char *p, size_t n) {
    return std::string(reinterpret_cast<const char *>(p), n);
}

}  // namespace

TEST_F(SkfTest, ToolRefusesWhatItCannotStore) {
    tool("create-device D1");
    tool("create-app D1 A1 --pin 1234");
    std::string p256 = home() + "/p256";
    ASSERT_EQ(run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                  p256 + ".key -out " + p256 + ".crt -subj /CN=p256 -days 2 2>&1"),
              0);
    struct Case {
        std::string args;
        int rc;
        const char *says;
    } cases[] = {
        {"create-device D1", 1, "exists already"},
        {"create-device ../x", 2, "invalid device name"},
        {"create-device a/b", 2, "invalid device name"},
        {"create-app D9 A1 --pin 1", 1, "no device D9"},
        {"create-app D1 A2", 1, "PIN of 1-63 characters"},
        {"create-app D1 A2 --pin 1 --retries 0", 1, "--retries"},
        {"set-pin D1 A9 --pin 1", 1, "no application A9"},
        {"import D1 A1 C1 --p12 " + mat("rsa1.p12") + " --password wrong", 1, "wrong password"},
        {"import D1 A1 C1 --key " + mat("rsa1.key") + " --cert " + mat("rsa2.crt"), 1,
         "does not belong"},
        {"import D1 A1 C1 --key " + p256 + ".key --cert " + p256 + ".crt", 1,
         "neither RSA nor SM2"},
        {"import D1 A9 C1 --key " + mat("rsa1.key") + " --cert " + mat("rsa1.crt"), 1,
         "no application A9"},
        {"fault D1 export_cert=fail", 1, "only enum_apps"},
        {"fault D1 enum_apps=sometimes", 1, "unknown value"},
        {"absent D9", 1, "no device D9"},
        {"frobnicate", 2, "usage"},
    };
    for (const auto &c : cases) {
        std::string out;
        EXPECT_EQ(run(bin("softskf") + " " + c.args + " 2>&1", &out), c.rc) << c.args << ": " << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
    }
    // Nothing half-made was left behind.
    std::string out;
    ASSERT_EQ(run(bin("softskf") + " list", &out), 0);
    EXPECT_EQ(out.find("container"), std::string::npos) << out;
}

TEST_F(SoftSkfTest, SecretsAreNotKeptInTheClearOrOpenToOthers) {
    std::string app = token_ + "/D1/A1";
    EXPECT_EQ(sealdesk_test::readFile(app + "/app.conf").find("1234"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat((app + "/R1/sign_key.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(SoftSkfTest, ListsAndBuffersFollowTheSizeProtocol) {
    ULONG size = 0;
    ASSERT_EQ(drv_.EnumDev(TRUE, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 7u);  // "D1\0D2\0\0"
    char small[4];
    size = sizeof small;
    EXPECT_EQ(drv_.EnumDev(TRUE, small, &size), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 7u);
    char list[16];
    size = sizeof list;
    ASSERT_EQ(drv_.EnumDev(TRUE, list, &size), SAR_OK);
    EXPECT_EQ(text(reinterpret_cast<unsigned char *>(list), size), std::string("D1\0D2\0\0", 7));

    open("R1");
    ULONG type = 0;
    ASSERT_EQ(drv_.GetContainerType(con_, &type), SAR_OK);
    EXPECT_EQ(type, 1u);
    ULONG certLen = 0;
    ASSERT_EQ(drv_.ExportCertificate(con_, TRUE, nullptr, &certLen), SAR_OK);
    std::vector<unsigned char> cert(certLen);
    ULONG shortLen = certLen - 1;
    EXPECT_EQ(drv_.ExportCertificate(con_, TRUE, cert.data(), &shortLen), SAR_BUFFER_TOO_SMALL);
    ASSERT_EQ(drv_.ExportCertificate(con_, TRUE, cert.data(), &certLen), SAR_OK);
    EXPECT_EQ(drv_.ExportCertificate(con_, FALSE, cert.data(), &certLen), SAR_CERTNOTFOUNTERR);
}

// The public-key blobs carry the certificate's key, right-aligned.
TEST_F(SoftSkfTest, PublicKeyBlobsMatchTheCertificates) {
    for (const char *con : {"R1", "S1"}) {
        SCOPED_TRACE(con);
        open(con);
        unsigned char der[4096];
        ULONG derLen = sizeof der;
        ASSERT_EQ(drv_.ExportCertificate(con_, TRUE, der, &derLen), SAR_OK);
        const unsigned char *p = der;
        X509 *cert = d2i_X509(nullptr, &p, derLen);
        ASSERT_TRUE(cert);
        EVP_PKEY *pub = X509_get0_pubkey(cert);
        unsigned char blob[1024];
        ULONG blobLen = sizeof blob;
        ASSERT_EQ(drv_.ExportPublicKey(con_, TRUE, blob, &blobLen), SAR_OK);
        const char *names[2] = {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E};
        const unsigned char *fields[2];
        int widths[2];
        if (std::string(con) == "R1") {
            ASSERT_EQ(blobLen, sizeof(RSAPUBLICKEYBLOB));
            auto *b = reinterpret_cast<RSAPUBLICKEYBLOB *>(blob);
            EXPECT_EQ(b->AlgID, SGD_RSA);
            EXPECT_EQ(b->BitLen, 2048u);
            fields[0] = b->Modulus, widths[0] = 256;
            fields[1] = b->PublicExponent, widths[1] = 4;
        } else {
            ASSERT_EQ(blobLen, sizeof(ECCPUBLICKEYBLOB));
            auto *b = reinterpret_cast<ECCPUBLICKEYBLOB *>(blob);
            EXPECT_EQ(b->BitLen, 256u);
            names[0] = OSSL_PKEY_PARAM_EC_PUB_X, names[1] = OSSL_PKEY_PARAM_EC_PUB_Y;
            fields[0] = b->XCoordinate, widths[0] = 64;
            fields[1] = b->YCoordinate, widths[1] = 64;
        }
        for (int i = 0; i < 2; i++) {
            BIGNUM *want = nullptr;
            ASSERT_EQ(EVP_PKEY_get_bn_param(pub, names[i], &want), 1);
            BIGNUM *got = BN_bin2bn(fields[i], widths[i], nullptr);
            EXPECT_EQ(BN_cmp(want, got), 0) << names[i];
            BN_free(want);
            BN_free(got);
        }
        X509_free(cert);
        drv_.DisConnectDev(dev_);
        dev_ = nullptr;
    }
}

TEST_F(SoftSkfTest, DigestsOnTheDevice) {
    open("R1");
    struct Case {
        ULONG alg;
        const EVP_MD *md;
    } cases[] = {{SGD_SM3, EVP_sm3()}, {SGD_SHA1, EVP_sha1()}, {SGD_SHA256, EVP_sha256()}};
    unsigned char abc[] = "abc";
    for (const auto &c : cases) {
        HANDLE h = nullptr;
        ASSERT_EQ(drv_.DigestInit(dev_, c.alg, nullptr, nullptr, 0, &h), SAR_OK);
        unsigned char out[64], want[64];
        ULONG n = sizeof out;
        unsigned int wn = 0;
        ASSERT_EQ(drv_.Digest(h, abc, 3, out, &n), SAR_OK);
        ASSERT_EQ(EVP_Digest(abc, 3, want, &wn, c.md, nullptr), 1);
        EXPECT_EQ(text(out, n), text(want, wn)) << c.alg;
        // A finished digest handle is spent.
        EXPECT_EQ(drv_.Digest(h, abc, 3, out, &n), SAR_INVALIDHANDLEERR);
    }
    HANDLE h = nullptr;
    EXPECT_EQ(drv_.DigestInit(dev_, 0x40, nullptr, nullptr, 0, &h), SAR_NOTSUPPORTYETERR);
}

TEST_F(SoftSkfTest, HandlesDieWithTheirParents) {
    open("R1", "1234");
    ULONG type = 0;
    ASSERT_EQ(drv_.CloseApplication(app_), SAR_OK);
    EXPECT_EQ(drv_.GetContainerType(con_, &type), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(drv_.CloseApplication(app_), SAR_INVALIDHANDLEERR);
    int local = 0;
    EXPECT_EQ(drv_.GetContainerType(&local, &type), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(drv_.OpenApplication(dev_, name("A9"), &app_), SAR_APPLICATION_NOT_EXISTS);
    ASSERT_EQ(drv_.OpenApplication(dev_, name("A1"), &app_), SAR_OK);
    ASSERT_EQ(drv_.OpenContainer(app_, name("R1"), &con_), SAR_OK);
    ASSERT_EQ(drv_.DisConnectDev(dev_), SAR_OK);
    EXPECT_EQ(drv_.GetContainerType(con_, &type), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(drv_.EnumContainer(app_, nullptr, &type), SAR_INVALIDHANDLEERR);
    dev_ = nullptr;
}

TEST_F(SoftSkfTest, SigningChecksKeyKindAndInput) {
    open("R1", "1234");
    ECCSIGNATUREBLOB blob;
    unsigned char in[64] = {1, 2, 3};
    EXPECT_EQ(drv_.ECCSignData(con_, in, 32, &blob), SAR_KEYUSAGEERR);
    unsigned char sig[512];
    ULONG sigLen = sizeof sig;
    EXPECT_EQ(drv_.RSASignData(con_, in, 0, sig, &sigLen), SAR_INVALIDPARAMERR);
    unsigned char big[300] = {0};
    EXPECT_EQ(drv_.RSASignData(con_, big, 246, sig, &sigLen), SAR_INDATALENERR);
    sigLen = 100;
    EXPECT_EQ(drv_.RSASignData(con_, in, 20, sig, &sigLen), SAR_BUFFER_TOO_SMALL);
    EXPECT_EQ(sigLen, 256u);

    // Octets of no digest's length are padded as they are: the raw PKCS#1
    // check of the openssl CLI recovers them.
    unsigned char raw[36];
    for (int i = 0; i < 36; i++) raw[i] = static_cast<unsigned char>(i * 7);
    sigLen = sizeof sig;
    ASSERT_EQ(drv_.RSASignData(con_, raw, sizeof raw, sig, &sigLen), SAR_OK);
    std::string dir = home();
    sealdesk_test::writeFile(dir + "/raw", text(raw, sizeof raw));
    sealdesk_test::writeFile(dir + "/sig", text(sig, sigLen));
    std::string out;
    EXPECT_EQ(run("openssl x509 -in " + mat("rsa1.crt") + " -pubkey -noout > " + dir +
                      "/pub.pem && openssl pkeyutl -verify -pubin -inkey " + dir +
                      "/pub.pem -in " + dir + "/raw -sigfile " + dir + "/sig 2>&1",
                  &out),
              0)
        << out;

    drv_.DisConnectDev(dev_);
    open("S1", "1234");
    EXPECT_EQ(drv_.ECCSignData(con_, in, 33, &blob), SAR_INDATALENERR);
    EXPECT_EQ(drv_.RSASignData(con_, in, 20, sig, &sigLen), SAR_KEYUSAGEERR);
    EXPECT_EQ(drv_.ECCSignData(con_, in, 32, &blob), SAR_OK);
    // r and s are right-aligned: the high halves of their fields stay zero.
    EXPECT_EQ(text(blob.r, 32), std::string(32, '\0'));
    EXPECT_EQ(text(blob.s, 32), std::string(32, '\0'));
}
