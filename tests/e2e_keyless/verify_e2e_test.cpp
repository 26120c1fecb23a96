// Verification, certificate information, PKCS#7 extraction and the
// provider list through the running server. Keys, certificates, signatures
// and PKCS#7 messages come from the openssl CLI (and, for SM2 PKCS#7 and
// messages without signed attributes, from the library's own encoders).
#include "keyless_e2e.h"
#include "sealdesk_certgen.h"

#include "tasn1/tasn1_p7sign.h"
#include "topl/topl_p7sign.h"

#include <algorithm>
#include <cstdlib>
#include <random>

namespace {

using keyless_e2e::b64;
using keyless_e2e::fromUrl;
using keyless_e2e::toUrl;
using keyless_e2e::u;

class VerifyE2E : public keyless_e2e::KeylessServerTest {
protected:
    // A self-signed RSA or SM2 certificate made by `openssl req`.
    void makeCert(const std::string &name, bool sm2, const std::string &subject, const std::string &serial,
                  const std::string &keyUsage = "digitalSignature,nonRepudiation") {
        std::string key = name + ".key", pem = name + ".pem";
        if (sm2) sh("openssl genpkey -algorithm SM2 -out " + key);
        else sh("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + key);
        std::string usage = keyUsage.empty() ? "" : " -addext keyUsage=" + keyUsage;
        sh("openssl req -x509 -new -utf8 -key " + key + (sm2 ? " -sm3" : " -sha256") + " -days 30 -subj '" +
           subject + "' -set_serial " + serial + usage + " -out " + pem);
    }
    // Base64 of the certificate's DER, as openssl writes it.
    std::string certB64(const std::string &name) {
        return sh("openssl x509 -in " + name + ".pem -outform DER | openssl base64 -A");
    }
    // A certificate with validity offsets made in-process (openssl req
    // cannot set them to the second), its key written as PEM.
    void makeTimedCert(const std::string &name, long notBefore, long notAfter, const char *keyUsage) {
        sealdesk_test::Pkey key = sealdesk_test::rsaKey(2048);
        sealdesk_test::CertSpec certSpec;
        certSpec.notBeforeOffset = notBefore;
        certSpec.notAfterOffset = notAfter;
        certSpec.keyUsage = keyUsage;
        write(name + ".pem", sealdesk_test::toPem(sealdesk_test::makeCert(key.get(), certSpec)));
        write(name + ".key", sealdesk_test::keyToPem(key.get()));
    }
    std::string verify(const std::string &data, const std::string &certB64Text, const std::string &sigB64) {
        return err("method=Tii_Verify&oriData=" + u(data) + "&certData=" + toUrl(certB64Text) +
                   "&signData=" + toUrl(sigB64) + "&");
    }
    std::string p7verify(const std::string &detached, const std::string &data, const std::string &p7B64) {
        return err("method=Tii_P7_Verify&isDetached=" + detached + "&oriData=" + u(data) + "&p7Data=" +
                   toUrl(p7B64) + "&");
    }
    // A value of the answer decoded from URL-safe base64.
    std::string decoded(const std::string &value) { return keyless_e2e::unb64(fromUrl(value), dir_); }
};

TEST_F(VerifyE2E, RawSignaturesOfOpenssl) {
    makeCert("rsa", false, "/C=CN/O=Test Org/CN=Alice", "5");
    makeCert("sm2", true, "/C=CN/O=Test Org/CN=Bob", "6");
    std::string data = "data signed with openssl dgst \xe4\xb8\xad";
    write("data.txt", data);
    std::string rsa = certB64("rsa"), sm2 = certB64("sm2");
    struct Case {
        const char *what, *cmd;
        std::string cert;
    } cases[] = {
        {"RSA SHA-1", "openssl dgst -sha1 -sign rsa.key data.txt | openssl base64 -A", rsa},
        {"RSA SHA-256", "openssl dgst -sha256 -sign rsa.key data.txt | openssl base64 -A", rsa},
        // SM2 over SM3 with the standard's default user ID (OpenSSL 3 takes
        // an empty ID unless told)
        {"SM2", "openssl dgst -sm3 -sign sm2.key -sigopt distid:1234567812345678 data.txt | openssl base64 -A", sm2},
    };
    std::string changed = data;
    changed[5] ^= 0x01;
    for (const Case &c : cases) {
        std::string sig = sh(c.cmd);
        EXPECT_EQ(verify(data, c.cert, sig), "0") << c.what;
        EXPECT_EQ(err("method=Tii_Verify&oriData=" + u(data) + "&certData=" + c.cert + "&signData=" + sig + "&"), "0")
            << c.what << ": standard alphabet";
        std::string bad = verify(changed, c.cert, sig);
        EXPECT_NE(bad, "0") << c.what;
        EXPECT_EQ(bad.substr(0, 1), "-") << c.what;
        EXPECT_NE(verify(data, c.cert == rsa ? sm2 : rsa, sig), "0") << c.what << ": other certificate";
    }
}

TEST_F(VerifyE2E, SignerCertificateValidityAndKeyUsage) {
    std::string data = "validity";
    write("data.txt", data);
    struct Case {
        const char *what;
        long notBefore, notAfter;
        const char *keyUsage;
        const char *err;
    } cases[] = {
        {"expired 200 s ago", -7200, -200, "digitalSignature", "0"},
        {"expired 400 s ago", -7200, -400, "digitalSignature", "-3612"},
        {"no keyUsage", -3600, 3600, nullptr, "-3613"},
        {"keyCertSign only", -3600, 3600, "keyCertSign", "-3613"},
    };
    for (const Case &c : cases) {
        makeTimedCert("t", c.notBefore, c.notAfter, c.keyUsage);
        std::string sig = sh("openssl dgst -sha256 -sign t.key data.txt | openssl base64 -A");
        EXPECT_EQ(verify(data, certB64("t"), sig), c.err) << c.what;
    }
}

TEST_F(VerifyE2E, CertificateInformationAgainstOpensslX509) {
    struct Case {
        bool sm2;
        const char *subject, *serial, *rdn, *rdnValue;
    } cases[] = {
        {false, "/C=CN/ST=Beijing/O=Test Org/OU=Dev/CN=Alice Zhang", "0x05", "CN", "Alice Zhang"},
        {true, "/C=CN/O=测试机构/CN=张三", "0x0123456789ABCDEF0011", "O", "测试机构"},
        {false, "/CN=Only/emailAddress=a@example.com", "4660", "CN", "Only"},
    };
    for (const Case &c : cases) {
        makeCert("c", c.sm2, c.subject, c.serial);
        std::string cert = toUrl(certB64("c"));
        std::string subject = sh("openssl x509 -in c.pem -noout -subject -nameopt utf8,sep_comma_plus_space,sname");
        std::string serial = sh("openssl x509 -in c.pem -noout -serial");
        subject = subject.substr(subject.find('=') + 1);
        subject.erase(subject.find_last_not_of('\n') + 1);
        // The system's X.500 text names two attributes its own way.
        for (auto [from, to] : {std::pair<std::string, std::string>{"ST=", "S="}, {"emailAddress=", "E="}}) {
            size_t at = subject.find(from);
            if (at != std::string::npos) subject.replace(at, from.size(), to);
        }
        serial = serial.substr(serial.find('=') + 1);
        serial.erase(serial.find_last_not_of('\n') + 1);

        std::map<std::string, std::string> got;
        EXPECT_EQ(err("method=Tii_GetCertSubject&certData=" + cert + "&", &got), "0");
        EXPECT_EQ(decoded(got["certDn"]), subject) << c.subject;
        EXPECT_EQ(err("method=Tii_GetSerialNumber&certData=" + cert + "&", &got), "0");
        EXPECT_EQ(got["certSn"], u(serial)) << c.serial;  // of the hexadecimal text
        EXPECT_EQ(err(std::string("method=Tii_GetCertSubjectInfo&certData=") + cert + "&rdnName=" + c.rdn + "&",
                      &got),
                  "0");
        EXPECT_EQ(decoded(got["certRdn"]), c.rdnValue);
        EXPECT_EQ(err("method=Tii_GetCertSubjectInfo&certData=" + cert + "&rdnName=L&", &got), "-2008");
        EXPECT_EQ(got.count("certRdn"), 0u);
    }
    // The example: a serial 0x05 gives "05".
    makeCert("five", false, "/CN=Five", "5");
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_GetSerialNumber&certData=" + toUrl(certB64("five")) + "&", &got), "0");
    EXPECT_EQ(got["certSn"], u("05"));
}

// Results longer than their fields are refused, not cut: a DN of 900
// characters fits the engine's buffer but not certDn as base64 (1200
// characters); one of 1300 does not fit the engine's buffer.
TEST_F(VerifyE2E, LongSubjectsAreRefusedNotCut) {
    struct Case {
        int entries;
        const char *err;
    } cases[] = {{14, "-10003"}, {20, "-2031"}, {9, "0"}};
    for (const Case &c : cases) {
        std::string subject;
        for (int i = 0; i < c.entries; i++) subject += "/OU=" + std::string(60, static_cast<char>('a' + i));
        makeCert("long", true, subject + "/CN=Long", "3");
        std::map<std::string, std::string> got;
        EXPECT_EQ(err("method=Tii_GetCertSubject&certData=" + toUrl(certB64("long")) + "&", &got), c.err) << c.entries;
        if (std::string(c.err) == "0") EXPECT_EQ(decoded(got["certDn"]).size(), c.entries * 65u + 7);
        else EXPECT_EQ(got.count("certDn"), 0u);
    }
    expectServing();
}

TEST_F(VerifyE2E, Pkcs7OfOpensslCms) {
    makeCert("rsa", false, "/C=CN/O=Test Org/CN=Signer", "77");
    std::string data = "PKCS#7 content signed by openssl cms";
    write("data.txt", data);
    // With signed attributes (openssl cms adds them by default).
    std::string attached = sh("openssl cms -sign -binary -nodetach -md sha256 -in data.txt -signer rsa.pem "
                              "-inkey rsa.key -outform DER | openssl base64 -A");
    std::string detached = sh("openssl cms -sign -binary -md sha1 -in data.txt -signer rsa.pem -inkey rsa.key "
                              "-outform DER | openssl base64 -A");
    ASSERT_FALSE(attached.empty());
    EXPECT_EQ(p7verify("0", data, attached), "0");
    EXPECT_EQ(p7verify("TRUE", data, attached), "0");  // anything but "1" is attached
    EXPECT_EQ(p7verify("1", data, detached), "0");
    EXPECT_EQ(p7verify("1", data, attached), "-151203");
    EXPECT_EQ(p7verify("0", data, detached), "-151203");
    EXPECT_EQ(p7verify("0", "other content", attached), "-151202");
    EXPECT_NE(p7verify("1", "other content", detached), "0");

    std::string cert = certB64("rsa");
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_P7_GetCert&p7Data=" + toUrl(attached) + "&", &got), "0");
    EXPECT_EQ(got["certData"], toUrl(cert));
    EXPECT_EQ(err("method=Tii_P7_GetCert&p7Data=" + toUrl(detached) + "&", &got), "0");
    EXPECT_EQ(got["certData"], toUrl(cert));

    EXPECT_EQ(err("method=Tii_P7_GetOriData&p7Data=" + toUrl(attached) + "&", &got), "0");
    EXPECT_EQ(got["p7oriData"], u(data));
    EXPECT_EQ(err("method=Tii_P7_GetB64OriData&p7Data=" + toUrl(attached) + "&", &got), "0");
    EXPECT_EQ(got["p7B64oriData"], u(data));
    // A detached message has no content: success without a result.
    EXPECT_EQ(err("method=Tii_P7_GetOriData&p7Data=" + toUrl(detached) + "&", &got), "0");
    EXPECT_EQ(got.count("p7oriData"), 0u);
    // The content openssl itself reads from the message
    write("att.b64", attached + "\n");
    EXPECT_EQ(sh("openssl base64 -d -A -in att.b64 | openssl cms -verify -noverify -inform DER"), data);
}

TEST_F(VerifyE2E, Pkcs7OfTheLibrarysEncoders) {
    // RSA and SM2 signatures by openssl over the content, wrapped by both
    // encoders of the library (no signed attributes).
    makeCert("rsa", false, "/CN=Encoder RSA", "100");
    makeCert("sm2", true, "/CN=Encoder SM2", "101");
    std::string data = "content of the library's encoders";
    write("data.txt", data);
    for (bool sm2 : {false, true}) {
        std::string name = sm2 ? "sm2" : "rsa";
        std::string sig = sh("openssl dgst " + std::string(sm2 ? "-sm3 -sigopt distid:1234567812345678" : "-sha256") +
                             " -sign " + name + ".key data.txt");
        std::string certText = certB64(name);
        int kid = sm2 ? 110 : 103;
        const auto *content = reinterpret_cast<const unsigned char *>(data.data());
        const auto *s = reinterpret_cast<const unsigned char *>(sig.data());
        int nc = static_cast<int>(data.size()), ns = static_cast<int>(sig.size());

        std::string pem = file(name + ".pem");
        BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        X509 *x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        ASSERT_NE(x, nullptr);
        unsigned char *msg[4] = {};
        int n[4] = {
            topl_p7sign_encode(s, ns, x, content, nc, kid, &msg[0]),
            topl_p7sign_encode(s, ns, x, nullptr, 0, kid, &msg[1]),
            tasn1_p7sign_encode_attach(kid, content, nc, certText.c_str(), static_cast<int>(certText.size()), s, ns,
                                       &msg[2]),
            tasn1_p7sign_encode_detach(kid, certText.c_str(), static_cast<int>(certText.size()), s, ns, &msg[3]),
        };
        X509_free(x);
        for (int i = 0; i < 4; i++) {
            ASSERT_GT(n[i], 0) << name << i;
            std::string p7 = b64(std::string(reinterpret_cast<char *>(msg[i]), static_cast<size_t>(n[i])));
            free(msg[i]);
            bool detached = i % 2 == 1;
            EXPECT_EQ(p7verify(detached ? "1" : "0", data, p7), "0") << name << i;
            EXPECT_EQ(p7verify(detached ? "0" : "1", data, p7), "-151203") << name << i;
            std::map<std::string, std::string> got;
            EXPECT_EQ(err("method=Tii_P7_GetCert&p7Data=" + toUrl(p7) + "&", &got), "0");
            EXPECT_EQ(got["certData"], toUrl(certText)) << name << i;
            if (!detached) {
                EXPECT_EQ(err("method=Tii_P7_GetB64OriData&p7Data=" + toUrl(p7) + "&", &got), "0");
                EXPECT_EQ(decoded(got["p7B64oriData"]), data);
            }
        }
    }
}

TEST_F(VerifyE2E, BadInputKeepsTheServerServing) {
    makeCert("rsa", false, "/CN=Bad Input", "9");
    write("data.txt", "data");
    std::string cert = certB64("rsa");
    std::string sig = sh("openssl dgst -sha256 -sign rsa.key data.txt | openssl base64 -A");
    std::string p7 = sh("openssl cms -sign -binary -nodetach -in data.txt -signer rsa.pem -inkey rsa.key "
                        "-outform DER | openssl base64 -A");
    std::mt19937 rng(7);
    std::string random(600, '\0');
    for (char &ch : random) ch = static_cast<char>(rng());
    std::string randomB64 = toUrl(b64(random)), cutCert = toUrl(cert.substr(0, cert.size() / 2)),
                cutP7 = toUrl(p7.substr(0, p7.size() / 2)), notB64 = "M%%%%";
    std::string d = u("data");
    struct Case {
        std::string request, err;
    } cases[] = {
        {"method=Tii_Verify&oriData=" + d + "&certData=" + toUrl(cert) + "&", "-1001"},
        {"method=Tii_Verify&oriData=" + d + "&certData=" + cutCert + "&signData=" + toUrl(sig) + "&", "-3614"},
        {"method=Tii_Verify&oriData=" + d + "&certData=" + randomB64 + "&signData=" + toUrl(sig) + "&", "-3614"},
        {"method=Tii_Verify&oriData=" + d + "&certData=" + notB64 + "&signData=" + toUrl(sig) + "&", "-3614"},
        {"method=Tii_Verify&oriData=" + d + "&certData=" + toUrl(cert) + "&signData=" + notB64 + "&", "-1011"},
        {"method=Tii_Verify&oriData=%%&certData=" + toUrl(cert) + "&signData=" + toUrl(sig) + "&", "-1011"},
        {"method=Tii_P7_Verify&isDetached=0&oriData=" + d + "&", "-1001"},
        {"method=Tii_GetCertSubject&certData=" + cutCert + "&", "-1016"},
        {"method=Tii_GetCertSubject&certData=" + randomB64 + "&", "-1016"},
        {"method=Tii_GetSerialNumber&certData=" + notB64 + "&", "-1016"},
        {"method=Tii_GetSerialNumber&certData=&", "-1001"},
        {"method=Tii_GetCertSubjectInfo&certData=" + toUrl(cert) + "&", "-1001"},
        {"method=Tii_GetCertSubjectInfo&certData=" + randomB64 + "&rdnName=CN&", "-1016"},
        {"method=Tii_P7_GetCert&p7Data=" + cutP7 + "&", "-2004"},
        {"method=Tii_P7_GetCert&p7Data=" + randomB64 + "&", "-2004"},
        {"method=Tii_P7_GetCert&p7Data=" + notB64 + "&", "-2004"},
        {"method=Tii_P7_GetCert&", "-1001"},
        {"method=Tii_P7_GetOriData&p7Data=" + cutP7 + "&", "-2003"},
        {"method=Tii_P7_GetB64OriData&p7Data=" + randomB64 + "&", "-2003"},
        {"method=Tii_P7_GetOriData&p7Data=&", "-1001"},
    };
    for (const Case &c : cases) {
        std::map<std::string, std::string> got;
        EXPECT_EQ(err(c.request, &got), c.err) << c.request.substr(0, 60);
        EXPECT_EQ(got.size(), 1u) << c.request.substr(0, 60);  // "err" alone
    }
    // PKCS#7 verification of broken messages fails with some code
    for (const std::string &bad : {cutP7, randomB64, notB64, toUrl(cert)}) {
        for (const char *mode : {"0", "1"}) {
            std::string e = err(std::string("method=Tii_P7_Verify&isDetached=") + mode + "&oriData=" + d +
                                "&p7Data=" + bad + "&");
            EXPECT_EQ(e.substr(0, 1), "-") << bad.substr(0, 30) << " " << e;
        }
    }
    // A page asks for the last error afterwards, and the server still answers.
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_GetLastError&", &got), "0");
    EXPECT_NE(got["errCode"], "0");
    expectServing();
}

TEST_F(VerifyE2E, ProviderList) {
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_ListCSP&", &got), "0");
    EXPECT_EQ(decoded(got["cspList"]),
              "Microsoft Base Cryptographic Provider v1.0$Microsoft Enhanced Cryptographic Provider v1.0$"
              "Microsoft Enhanced RSA and AES Cryptographic Provider$");

    // Providers registered on this machine, together longer than 4096 bytes
    std::string want = decoded(got["cspList"]);
    for (int i = 0; i < 40; i++) {
        char name[160];
        snprintf(name, sizeof name, "Vendor %02d Token Cryptographic Service Provider %s", i, std::string(100, 'x').c_str());
        std::filesystem::path key = std::filesystem::path(home()) / "machine/registry/SOFTWARE/Microsoft/Cryptography/"
                                                                     "Defaults/Provider" / name;
        std::filesystem::create_directories(key);
        sealdesk_test::writeFile(key / "values.reg", "\"Type\"=dword:00000001\n");
    }
    EXPECT_EQ(err("method=Tii_ListCSP&", &got), "0");
    std::string list = decoded(got["cspList"]);
    EXPECT_GT(list.size(), 4096u);
    for (int i = 0; i < 40; i++) {
        char name[64];
        snprintf(name, sizeof name, "Vendor %02d Token", i);
        EXPECT_NE(list.find(name), std::string::npos) << name;
    }
    EXPECT_EQ(list.find("Microsoft Base Cryptographic Provider v1.0$"), 0u);
    EXPECT_EQ(std::count(list.begin(), list.end(), '$'), 43);
    expectServing();
}

}  // namespace
