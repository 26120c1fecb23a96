// Test certificates and keys made by the openssl command-line tool, an
// independent peer. Each set lives in a temporary folder for one test suite.
#pragma once
#include "sealdesk_certgen.h"
#include "sealdesk_test.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

namespace cert_fixture {

using sealdesk_test::readFile;
using sealdesk_test::run;

// Runs a command, failing the test (with its output) when it does not exit 0.
inline std::string sh(const std::string &cmd) {
    std::string out;
    int rc = run("(" + cmd + ") 2>&1", &out);
    EXPECT_EQ(rc, 0) << cmd << "\n" << out;
    return out;
}

inline std::vector<unsigned char> bytesOf(const std::string &s) { return {s.begin(), s.end()}; }

// PEM text -> DER bytes (through OpenSSL).
inline std::string pemToDer(const std::string &pem) {
    BIO *b = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509 *x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    if (!x) return {};
    unsigned char *der = nullptr;
    int n = i2d_X509(x, &der);
    std::string out(reinterpret_cast<char *>(der), n > 0 ? n : 0);
    OPENSSL_free(der);
    X509_free(x);
    return out;
}

// Body of a PEM certificate: the base64 lines between the markers, joined.
inline std::string pemBody(const std::string &pem) {
    std::string b64;
    size_t s = pem.find('\n') + 1, e = pem.find("-----END");
    for (char c : pem.substr(s, e - s))
        if (c != '\n') b64 += c;
    return b64;
}

// A folder with an RSA key (rsa.pem), an SM2 key (sm2.pem) and a P-256 key
// (p256.pem), and a maker of self-signed certificates for them.
class Keys {
public:
    Keys() {
        d_ = std::make_unique<sealdesk_test::TempDir>();
        sh("cd " + dir() + " && openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem"
           " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.pem"
           " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.pem");
    }
    std::string dir() const { return d_->str(); }
    std::string path(const std::string &name) const { return dir() + "/" + name; }

    // Self-signed certificate (PEM text) for key file `key` with the given
    // -addext arguments and extra req options (e.g. "-days 1").
    std::string cert(const std::string &key, const std::string &addext, const std::string &extra = "-days 2",
                     const std::string &name = "c.pem") {
        std::string digest = key == "sm2.pem" ? "-sm3" : "-sha256";
        sh("cd " + dir() + " && openssl req -x509 -new -key " + key + " " + digest +
           " -subj /CN=sealdesk-test -config /dev/null " + addext + " " + extra + " -out " + name);
        return readFile(path(name));
    }

private:
    std::unique_ptr<sealdesk_test::TempDir> d_;
};

}  // namespace cert_fixture
