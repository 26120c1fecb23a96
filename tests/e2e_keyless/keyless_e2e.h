// Helpers of the key-less end-to-end tests: the real sealdesk_corvina on a
// free port in the test's fresh SEALDESK_HOME, requests sent with curl as a
// page would send them (URL-safe base64 values), and the openssl CLI.
#pragma once
#include "sealdesk_server.h"
#include "sealdesk_test.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace keyless_e2e {

// Standard base64 of bytes, no line breaks.
inline std::string b64(const std::string &bytes) {
    static const char *abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], abc[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {abc[v >> 18], abc[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], '='};
    }
    return out;
}

inline std::string toUrl(std::string s) {
    for (char &c : s) c = c == '+' ? '-' : c == '/' ? '_' : c == '=' ? '~' : c;
    return s;
}

inline std::string fromUrl(std::string s) {
    for (char &c : s) c = c == '-' ? '+' : c == '_' ? '/' : c == '~' ? '=' : c;
    return s;
}

// URL-safe base64 of bytes, as pages send values.
inline std::string u(const std::string &bytes) { return toUrl(b64(bytes)); }

// Bytes of standard base64 text (via the openssl CLI's peer, not our code).
inline std::string unb64(const std::string &text, const std::string &dir) {
    sealdesk_test::writeFile(dir + "/unb64.txt", text + "\n");
    std::string out;
    sealdesk_test::run("openssl base64 -d -A -in '" + dir + "/unb64.txt'", &out);
    return out;
}

// Runs a shell command in `dir`; its stdout. Fails the test on a non-zero
// exit status.
inline std::string sh(const std::string &dir, const std::string &cmd) {
    std::string out;
    int rc = sealdesk_test::run("cd '" + dir + "' && " + cmd + " 2>/dev/null", &out);
    EXPECT_EQ(rc, 0) << cmd;
    return out;
}

// The answer's items by name (values contain no quotes).
inline std::map<std::string, std::string> items(const std::string &body) {
    std::map<std::string, std::string> out;
    size_t p = 0;
    while ((p = body.find('"', p)) != std::string::npos) {
        size_t nameEnd = body.find('"', p + 1);
        if (nameEnd == std::string::npos || body.compare(nameEnd, 3, "\":\"") != 0) break;
        size_t valueEnd = body.find('"', nameEnd + 3);
        if (valueEnd == std::string::npos) break;
        out[body.substr(p + 1, nameEnd - p - 1)] = body.substr(nameEnd + 3, valueEnd - nameEnd - 3);
        p = valueEnd + 1;
    }
    return out;
}

// Fixture: a fresh home, the server started on a free port, and a call().
class KeylessServerTest : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        dir_ = home() + "/work";
        std::filesystem::create_directories(dir_);
        port_ = sealdesk_test::freePort();
        server_ = std::make_unique<sealdesk_test::Server>(home(),
                                                          std::vector<std::string>{"--port", std::to_string(port_)});
        if (!server_->waitListening()) FAIL() << "server did not start: " << server_->stderrText();
    }
    void TearDown() override {
        server_.reset();
        HomeTest::TearDown();
    }

    // POSTs `body` with curl (from a file, so any size and byte passes) and
    // returns the answer's body.
    std::string call(const std::string &body) {
        std::string file = dir_ + "/request.body";
        sealdesk_test::writeFile(file, body);
        std::string out;
        sealdesk_test::run("curl -s --max-time 30 -X POST --data-binary @'" + file + "' http://127.0.0.1:" +
                               std::to_string(port_) + "/",
                           &out);
        return out;
    }
    // The "err" of the answer, and its items through *got.
    std::string err(const std::string &body, std::map<std::string, std::string> *got = nullptr) {
        std::string answer = call(body);
        auto m = items(answer);
        if (got) *got = m;
        return m.count("err") ? m["err"] : "(no err in " + answer + ")";
    }
    // The openssl CLI (or any command) in the work folder.
    std::string sh(const std::string &cmd) { return keyless_e2e::sh(dir_, cmd); }
    std::string file(const std::string &name) { return sealdesk_test::readFile(dir_ + "/" + name); }
    void write(const std::string &name, const std::string &data) { sealdesk_test::writeFile(dir_ + "/" + name, data); }
    std::string path(const std::string &name) { return dir_ + "/" + name; }
    void expectServing() {
        EXPECT_EQ(call("method=Tii_GetVersion&"), R"({"version":"4.0.0","err":"0"})");
    }

    std::string dir_;
    int port_ = 0;
    std::unique_ptr<sealdesk_test::Server> server_;
};

}  // namespace keyless_e2e
