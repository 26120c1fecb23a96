// Shared test helpers: a fresh SEALDESK_HOME per test, command helpers.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace sealdesk_test {

// Root for temporary folders: the build tree's Testing/tmp (set by CMake),
// else the system temp folder.
inline std::filesystem::path tmpRoot() {
    const char *t = getenv("SEALDESK_TEST_TMP");
    std::filesystem::path root = t && *t ? t : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    return root;
}

// A fresh folder that is removed again when the object goes away.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (tmpRoot() / "t-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
        path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Fixture base: every test gets its own SEALDESK_HOME (and HOME, so nothing
// can reach the real home folder by accident).
class HomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<TempDir>();
        setenv("SEALDESK_HOME", home_->str().c_str(), 1);
        setenv("HOME", home_->str().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override { home_.reset(); }
    std::string home() const { return home_->str(); }

private:
    std::unique_ptr<TempDir> home_;
};

inline std::string readFile(const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path &p, const std::string &data) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << data;
}

// Runs a shell command; returns its exit status and captures stdout.
inline int run(const std::string &cmd, std::string *out = nullptr) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) s.append(buf, n);
    int st = pclose(p);
    if (out) *out = s;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// True when the openssl command line verifies the signature in file `sig`
// over file `data` with the public key in PEM file `pubPem` and the digest
// `digest` ("sha256", "sm3", ...).
// `out`, when given, gets what the tool printed.
inline bool opensslVerifies(const std::string &digest, const std::string &pubPem,
                            const std::string &sig, const std::string &data,
                            std::string *out = nullptr) {
    std::string text;
    int rc = run("openssl dgst -" + digest + " -verify '" + pubPem + "' -signature '" + sig + "' '" +
                     data + "' 2>&1",
                 &text);
    if (out) *out = text;
    return rc == 0 && text.find("Verified OK") != std::string::npos;
}

// Writes the public key of the certificate in file `cert` (DER when `der`,
// else PEM) to the PEM file `pubPem` with the openssl command line.
// Returns the tool's exit status.
inline int opensslPublicKeyOf(const std::string &cert, const std::string &pubPem, bool der) {
    return run(std::string("openssl x509 -inform ") + (der ? "DER" : "PEM") + " -in '" + cert +
               "' -pubkey -noout > '" + pubPem + "'");
}

// Folder of the built executables (build/bin).
inline std::string binDir() {
    const char *b = getenv("SEALDESK_BIN");
    return b ? b : "";
}

}  // namespace sealdesk_test
