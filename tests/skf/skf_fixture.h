// Test fixture for the SKF adapter: a fresh software token folder per test,
// key material made with the openssl CLI, the adapter's log captured.
#pragma once
#include <sealdesk_test.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tcore/tcore_list.h"
#include "tcore/tcore_log.h"
#include "tutil/tutil_skf.h"

namespace skf_test {

inline std::vector<std::string> &logLines() {
    static std::vector<std::string> lines;
    return lines;
}

inline void captureLog(const char *text) { logLines().push_back(text ? text : ""); }

inline std::string bin(const char *name) { return sealdesk_test::binDir() + "/" + name; }

inline std::string driverPath() { return bin("libsoftskf.so"); }

// Key pairs and self-signed certificates shared by all tests of a run:
// made once with the openssl CLI, in a folder that appears atomically.
inline std::string material() {
    namespace fs = std::filesystem;
    fs::path dir = sealdesk_test::tmpRoot() / "skf-material";
    if (fs::exists(dir / "done")) return dir.string();
    sealdesk_test::TempDir tmp;
    std::string t = tmp.str();
    std::string cmds =
        "cd '" + t + "' && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa1.key -out rsa1.crt "
        "  -subj /CN=skf-rsa-one -days 3 && "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa2.key -out rsa2.crt "
        "  -subj /CN=skf-rsa-two -days 3 && "
        "openssl pkcs12 -export -inkey rsa1.key -in rsa1.crt -out rsa1.p12 -passout pass:p12pw && "
        "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key && "
        "openssl req -x509 -key sm2.key -out sm2.crt -subj /CN=skf-sm2 -days 3 -sm3 "
        "  -sigopt distid:1234567812345678 && "
        "touch done";
    std::string out;
    if (sealdesk_test::run("(" + cmds + ") 2>&1", &out) != 0) {
        ADD_FAILURE() << "openssl failed: " << out;
        return "";
    }
    std::error_code ec;
    fs::rename(t, dir, ec);  // loses harmlessly to a parallel test that got there first
    if (ec && !fs::exists(dir / "done")) {
        ADD_FAILURE() << "cannot keep key material: " << ec.message();
        return "";
    }
    return dir.string();
}

class SkfTest : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        token_ = home() + "/softskf";
        setenv("SOFTSKF_DIR", token_.c_str(), 1);
        logLines().clear();
        tcore_log_sink = captureLog;
        mat_ = material();
        ASSERT_FALSE(mat_.empty());
    }

    void TearDown() override {
        tcore_list_free(list_);
        list_ = nullptr;
        tutil_skf_unloadAll();
        tcore_log_sink = nullptr;
        HomeTest::TearDown();
    }

    // Runs the softskf tool; the test fails when it does.
    void tool(const std::string &args) {
        std::string out;
        int rc = sealdesk_test::run(bin("softskf") + " " + args + " 2>&1", &out);
        ASSERT_EQ(rc, 0) << "softskf " << args << ": " << out;
    }

    std::string mat(const char *file) const { return mat_ + "/" + file; }

    // D1/A1 (PIN 1234, 3 tries): R1 RSA from PKCS#12, S1 SM2 from key + cert.
    // D2/A2 (PIN 5678): R2 RSA.
    void standardToken() {
        tool("create-device D1");
        tool("create-app D1 A1 --pin 1234 --retries 3");
        tool("import D1 A1 R1 --p12 " + mat("rsa1.p12") + " --password p12pw");
        tool("import D1 A1 S1 --key " + mat("sm2.key") + " --cert " + mat("sm2.crt"));
        tool("create-device D2");
        tool("create-app D2 A2 --pin 5678");
        tool("import D2 A2 R2 --key " + mat("rsa2.key") + " --cert " + mat("rsa2.crt"));
    }

    int load() {
        int id = tutil_skf_load(driverPath().c_str());
        EXPECT_GE(id, TUTIL_SKF_FIRST_ID);
        return id;
    }

    // The records of one discovery run (kept in the fixture's list).
    std::vector<tutil_skf_key *> discover(int *count = nullptr) {
        tcore_list_free(list_);
        list_ = nullptr;
        driverId_ = load();
        int n = tutil_skf_findAllCerts(driverId_, &list_);
        if (count) *count = n;
        std::vector<tutil_skf_key *> keys;
        for (int i = 0; i < tcore_list_count(list_); i++)
            keys.push_back(static_cast<tutil_skf_key *>(tcore_list_get(list_, i)));
        return keys;
    }

    tutil_skf_key *key(const std::string &con) {
        for (auto *k : discover())
            if (con == k->conName) return k;
        ADD_FAILURE() << "no container " << con;
        return nullptr;
    }

    static bool logged(const std::string &needle) {
        for (const auto &l : logLines())
            if (l.find(needle) != std::string::npos) return true;
        return false;
    }

    static std::string logText() {
        std::string all;
        for (const auto &l : logLines()) all += l + "\n";
        return all;
    }

    std::string token_;
    std::string mat_;
    tcore_list *list_ = nullptr;
    int driverId_ = 0;
};

}  // namespace skf_test
