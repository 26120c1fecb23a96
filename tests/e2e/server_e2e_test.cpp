// The real sealdesk_corvina on a free port with a fresh SEALDESK_HOME,
// spoken to with curl and with raw sockets.
#include "sealdesk_server.h"
#include "sealdesk_test.h"
#include "sealdesk_urlb64.h"

#include "plat_registry.h"
#include "tcore/tcore_base64.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using sealdesk_test::urlB64;

using sealdesk_test::freePort;
using sealdesk_test::Server;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kVersionBody = R"({"version":"4.0.0","err":"0"})";
const std::string kVersionAnswer =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type:text/html;charset=UTF-8\r\n"
    "Cache-Control:no-cache, must-revalidate\r\n"
    "Connection:close\r\n"
    "Access-Control-Allow-Origin:*\r\n"
    "Content-Length:29\r\n"
    "\r\n" + kVersionBody;

std::string post(const std::string &body, const std::string &lengthLine = "") {
    std::string len = lengthLine.empty() ? "Content-Length: " + std::to_string(body.size()) : lengthLine;
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + len + "\r\n\r\n" + body;
}

// A listener the test holds, to make a port taken.
struct PortHolder {
    explicit PortHolder(int port, in_addr_t addr = htonl(INADDR_LOOPBACK)) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;  // lingering TIME_WAIT connections of earlier runs do not count
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = addr;
        a.sin_port = htons(static_cast<uint16_t>(port));
        ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd, 1) == 0;
    }
    ~PortHolder() { close(fd); }
    int fd;
    bool ok;
};

int connectTo(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

void sendAll(int s, const std::string &data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(s, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;  // the server may close early on bad input
        off += static_cast<size_t>(n);
    }
}

// Everything until the server closes (or `limit` passes).
std::string readToEnd(int s, std::chrono::milliseconds limit = 15000ms) {
    std::string got;
    char buf[4096];
    for (auto end = Clock::now() + limit; Clock::now() < end;) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

bool readable(int s, std::chrono::milliseconds wait) {
    pollfd p{s, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(wait.count())) > 0;
}

std::string talk(int port, const std::string &request, bool halfClose = false) {
    int s = connectTo(port);
    if (s < 0) return "(connect failed)";
    sendAll(s, request);
    if (halfClose) shutdown(s, SHUT_WR);
    std::string got = readToEnd(s);
    close(s);
    return got;
}

std::string bodyOf(const std::string &answer) {
    size_t p = answer.find("\r\n\r\n");
    return p == std::string::npos ? "" : answer.substr(p + 4);
}

std::string curlPost(int port, const std::string &data) {
    std::string out;
    sealdesk_test::run("curl -s --max-time 10 -X POST --data '" + data + "' http://127.0.0.1:" +
                           std::to_string(port) + "/",
                       &out);
    return out;
}

// Local address of the listening socket on `port`, from /proc/net/tcp
// ("0100007F" is 127.0.0.1), or "" when none.
std::string listenAddressHex(int port) {
    std::istringstream in(sealdesk_test::readFile("/proc/net/tcp"));
    std::string line;
    char portHex[8];
    snprintf(portHex, sizeof portHex, "%04X", port);
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, state;
        f >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 4) == portHex) {
            return local.substr(0, local.size() - 5);
        }
    }
    return "";
}

class ServerTest : public sealdesk_test::HomeTest {
protected:
    void start(std::vector<std::string> extra = {}) {
        port_ = freePort();
        std::vector<std::string> args{"--port", std::to_string(port_)};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = std::make_unique<Server>(home(), args);
        ASSERT_TRUE(server_->waitListening()) << server_->stderrText();
    }
    void TearDown() override {
        server_.reset();  // kills the server, also after a failed assertion
        HomeTest::TearDown();
    }
    std::unique_ptr<Server> server_;
    int port_ = 0;
};

TEST_F(ServerTest, GetVersionExactBytes) {
    start();
    EXPECT_EQ(talk(port_, post("method=Tii_GetVersion&")), kVersionAnswer);
    EXPECT_EQ(server_->stdoutText(), "sealdesk_corvina: listening on http://127.0.0.1:" + std::to_string(port_) + "/\n");
}

TEST_F(ServerTest, CurlTalksToIt) {
    start();
    EXPECT_EQ(curlPost(port_, "method=Tii_GetVersion&"), kVersionBody);
    EXPECT_EQ(curlPost(port_, "method=tii_getuuid&"), R"({"UUID":"35EF7549-2477-46ec-9770-A50C9D94FC8C","err":"0"})");
    EXPECT_EQ(curlPost(port_, "method=Tii_Sign&oriData=YWJj&"), R"({"err":"-2036"})");
    EXPECT_EQ(curlPost(port_, "method=Tii_GetLastError&"), R"({"errCode":"-2036","err":"0"})");
    EXPECT_EQ(curlPost(port_, "method=Tii_GetLastError&"), R"({"errCode":"0","err":"0"})");
}

TEST_F(ServerTest, EmptyBodyAnswersAtOnce) {
    start();
    auto t0 = Clock::now();
    EXPECT_EQ(bodyOf(talk(port_, post(""))), R"({"err":"-2036"})");
    EXPECT_LT(Clock::now() - t0, 2s);
}

TEST_F(ServerTest, BodyInSeveralSegmentsIsAnsweredAfterTheLastByte) {
    start();
    std::string req = post("method=Tii_GetVersion&");
    int s = connectTo(port_);
    ASSERT_GE(s, 0);
    size_t cuts[] = {10, req.find("\r\n\r\n") + 2, req.size() - 5, req.size() - 1};
    size_t from = 0;
    for (size_t cut : cuts) {
        sendAll(s, req.substr(from, cut - from));
        from = cut;
        EXPECT_FALSE(readable(s, 150ms)) << "answered before byte " << cut;
    }
    sendAll(s, req.substr(from));
    EXPECT_EQ(readToEnd(s), kVersionAnswer);
    close(s);
}

TEST_F(ServerTest, TwoClientsAreServedOneAfterTheOther) {
    start();
    std::string req = post("method=Tii_GetVersion&");
    int a = connectTo(port_);
    int b = connectTo(port_);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    sendAll(a, req.substr(0, 30));
    std::this_thread::sleep_for(100ms);
    sendAll(b, req);
    EXPECT_FALSE(readable(b, 300ms)) << "second client answered while the first was in progress";
    sendAll(a, req.substr(30));
    EXPECT_EQ(readToEnd(a), kVersionAnswer);
    EXPECT_EQ(readToEnd(b), kVersionAnswer);
    close(a);
    close(b);
}

TEST_F(ServerTest, StalledClientsAreClosedAndOthersServed) {
    start();
    int silent = connectTo(port_);   // connects and sends nothing
    ASSERT_GE(silent, 0);
    std::this_thread::sleep_for(50ms);
    int partial = connectTo(port_);  // sends half a request, then stalls
    ASSERT_GE(partial, 0);
    sendAll(partial, post("method=Tii_GetVersion&").substr(0, 40));
    int waiting = connectTo(port_);
    ASSERT_GE(waiting, 0);
    sendAll(waiting, post("method=Tii_GetVersion&"));

    auto t0 = Clock::now();
    EXPECT_EQ(readToEnd(silent), "");
    auto silentClosed = Clock::now() - t0;
    EXPECT_GE(silentClosed, 4s);
    EXPECT_LT(silentClosed, 8s);
    EXPECT_EQ(readToEnd(partial), "");
    EXPECT_EQ(readToEnd(waiting), kVersionAnswer);
    EXPECT_LT(Clock::now() - t0, 14s);
    close(silent);
    close(partial);
    close(waiting);
}

TEST_F(ServerTest, BadInputIsAnsweredOrClosedAndServingGoesOn) {
    start();
    std::string hugeName(1 << 20, 'N');
    std::string manyFields = "method=Tii_GetVersion&";
    for (int i = 0; i < 300000; i++) manyFields += "f" + std::to_string(i) + "=&";
    std::string emptyNames = "method=Tii_GetVersion&";
    for (int i = 0; i < 300000; i++) emptyNames += "=x&";
    struct Case {
        const char *what;
        std::string request;
        std::string body;  // expected answer body; "" = closed without answer
    } cases[] = {
        {"garbage", "hello there\r\n\r\n", ""},
        {"binary", std::string("\x00\x01\x02\xff\xfe\r\n\r\n\x80", 10), ""},
        {"not POST", "GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", ""},
        {"no blank line", "POST / HTTP/1.1\r\nContent-Length: 3\r\n", ""},
        {"length -1", post("a=b&", "Content-Length: -1"), ""},
        {"length 20 digits", post("a=b&", "Content-Length: 99999999999999999999"), ""},
        {"length abc", post("a=b&", "Content-Length: abc"), ""},
        {"length above the limit", post("a=b&", "Content-Length: 104857600"), ""},
        {"closed mid-request", post("method=Tii_GetVersion&").substr(0, 50), ""},
        {"no Content-Length", "POST / HTTP/1.1\r\n\r\nmethod=Tii_GetVersion&", ""},
        {"body without =", post("abcdef&"), R"({"err":"-2036"})"},
        {"body without &", post("method=Tii_GetVersion"), R"({"err":"-2036"})"},
        {"1 MiB field name", post(hugeName + "=x&method=Tii_GetVersion&"), kVersionBody},
        {"300000 fields", post(manyFields), kVersionBody},
        {"300000 empty names", post(emptyNames), kVersionBody},
        {"chunked, bad size line",
         "POST / HTTP/1.1\r\nContent-Length: 60\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(40, 'z') + "\r\n",
         ""},
        {"chunked, complete",
         "POST / HTTP/1.1\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n"
         "16\r\nmethod=Tii_GetVersion&\r\n0\r\n\r\n",
         R"({"err":"-2036"})"},  // chunk framing stays in the body on plain HTTP
    };
    for (const auto &c : cases) {
        auto t0 = Clock::now();
        std::string answer = talk(port_, c.request, true);
        EXPECT_EQ(bodyOf(answer), c.body) << c.what;
        if (c.body.empty()) {
            EXPECT_EQ(answer, "") << c.what;
        }
        EXPECT_LT(Clock::now() - t0, 3s) << c.what;  // decided without the idle bound
        EXPECT_EQ(talk(port_, post("method=Tii_GetVersion&")), kVersionAnswer) << "after " << c.what;
    }
}

TEST_F(ServerTest, RequestBeyondTheLimitIsClosed) {
    start();
    std::string body = "data=" + std::string(5 * 1024 * 1024, 'A') + "&method=Tii_GetVersion&";
    EXPECT_EQ(talk(port_, post(body)), "");
    std::string fits = "data=" + std::string(3 * 1024 * 1024, 'A') + "&method=Tii_GetVersion&";
    EXPECT_EQ(talk(port_, post(fits)), kVersionAnswer);
}

TEST_F(ServerTest, LogGoesWhereSetLogPoints) {
    start();
    std::string logPath = home() + "/api.log";
    EXPECT_EQ(curlPost(port_, "method=Tii_SetLog&filePath=" + urlB64(logPath) + "&fileSize=1&"), R"({"err":"0"})");
    EXPECT_EQ(curlPost(port_, "method=Tii_GetVersion&"), kVersionBody);
    std::string log = sealdesk_test::readFile(logPath);
    size_t method = log.find("----------CreateResponse method=Tii_GetVersion-------------");
    size_t recv = log.find("recvData:POST / HTTP/1.1\r\n", method == std::string::npos ? 0 : method);
    EXPECT_NE(method, std::string::npos) << log;
    EXPECT_NE(recv, std::string::npos) << log;
    EXPECT_LT(method, recv);  // the request is logged after it was answered
    EXPECT_NE(log.find("method=Tii_GetVersion&\n"), std::string::npos) << log;

    EXPECT_EQ(curlPost(port_, "method=Tii_UnSetLog&"), R"({"err":"0"})");
    size_t size = sealdesk_test::readFile(logPath).size();
    curlPost(port_, "method=Tii_GetVersion&");
    EXPECT_EQ(sealdesk_test::readFile(logPath).size(), size);
}

TEST_F(ServerTest, LogFromTheRegistryAtStartUp) {
    std::filesystem::create_directories(home() + "/logs");
    namespace reg = plat::reg;
    ASSERT_EQ(reg::setValue(reg::CurrentUser, "SOFTWARE\\TARN_II\\Log",
                            reg::Value::text("SignLogPath", home() + "/logs/")), 0);
    start();
    EXPECT_EQ(curlPost(port_, "method=Tii_GetVersion&"), kVersionBody);
    std::string log = sealdesk_test::readFile(home() + "/logs/sealdesk_corvina_server.txt");
    size_t init = log.find("] InitInstance:sealdesk_corvina,\n");
    size_t start = log.find("] ----------CreateResponse start-------------\n\n");
    EXPECT_NE(init, std::string::npos) << log;
    EXPECT_NE(start, std::string::npos) << log;
    EXPECT_LT(init, start);
}

TEST_F(ServerTest, ListensOnLoopbackUnlessConfigured) {
    start();
    EXPECT_EQ(listenAddressHex(port_), "0100007F");
    server_.reset();

    namespace reg = plat::reg;
    ASSERT_EQ(reg::setValue(reg::LocalMachine, "SOFTWARE\\TARN_II\\Server",
                            reg::Value::text("ListenAddress", "0.0.0.0")), 0);
    start();
    EXPECT_EQ(listenAddressHex(port_), "00000000");
    EXPECT_EQ(talk(port_, post("method=Tii_GetVersion&")), kVersionAnswer);
    server_.reset();

    ASSERT_EQ(reg::setValue(reg::LocalMachine, "SOFTWARE\\TARN_II\\Server",
                            reg::Value::text("ListenAddress", "not-an-address")), 0);
    start();
    EXPECT_EQ(listenAddressHex(port_), "0100007F");
    EXPECT_NE(server_->stderrText().find("not-an-address"), std::string::npos);
}

TEST_F(ServerTest, StartupFailuresAndOptions) {
    int port = freePort();
    PortHolder taken(port, htonl(INADDR_ANY));
    ASSERT_TRUE(taken.ok);
    Server s(home(), {"--port", std::to_string(port)});
    ASSERT_TRUE(s.exited(10000ms));
    EXPECT_TRUE(WIFEXITED(s.status()) && WEXITSTATUS(s.status()) == 0);
    EXPECT_EQ(s.stderrText(), "bind fail,Unable to start service\n");

    std::string out;
    std::string bin = sealdesk_test::binDir() + "/sealdesk_corvina";
    EXPECT_EQ(sealdesk_test::run(bin + " --version", &out), 0);
    EXPECT_EQ(out, "sealdesk_corvina 4.0.0\n");
    EXPECT_EQ(sealdesk_test::run(bin + " --help", &out), 0);
    EXPECT_NE(out.find("--port N"), std::string::npos);
    EXPECT_EQ(sealdesk_test::run(bin + " --port abc 2>/dev/null", &out), 2);
    EXPECT_EQ(sealdesk_test::run(bin + " --port 70000 2>/dev/null", &out), 2);
    EXPECT_EQ(sealdesk_test::run(bin + " --bogus 2>/dev/null", &out), 2);
}

TEST_F(ServerTest, TermStopsItInOrder) {
    start();
    int idle = connectTo(port_);  // a connection in hand is finished first
    ASSERT_GE(idle, 0);
    std::this_thread::sleep_for(100ms);
    server_->terminate();
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(server_->exited(0ms));
    sendAll(idle, post("method=Tii_GetVersion&"));
    EXPECT_EQ(readToEnd(idle), kVersionAnswer);
    close(idle);
    ASSERT_TRUE(server_->exited(3000ms));
    EXPECT_TRUE(WIFEXITED(server_->status()) && WEXITSTATUS(server_->status()) == 0);
}

TEST_F(ServerTest, FallsBackTo8001When8000IsTaken) {
    PortHolder p8000(8000);
    PortHolder probe8001(8001);
    if (!p8000.ok || !probe8001.ok) GTEST_SKIP() << "ports 8000/8001 are in use on this machine";
    close(probe8001.fd);
    probe8001.fd = -1;
    Server s(home(), {});
    ASSERT_TRUE(s.waitListening()) << s.stderrText();
    EXPECT_EQ(s.stdoutText(), "sealdesk_corvina: listening on http://127.0.0.1:8001/\n");
    EXPECT_EQ(talk(8001, post("method=Tii_GetVersion&")), kVersionAnswer);
}

}  // namespace
