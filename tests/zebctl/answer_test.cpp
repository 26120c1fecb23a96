#include "sealdesk_test.h"

#include "tcore/tcore_datanode.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"
#include "tnet/tnet_sock.h"
#include "topl/topl_sm2.h"
#include "zebctl/zebctl_answer.h"
#include "zebctl/zebctl_request.h"
#include "zebctl/zebctl_server.h"
#include "zebctl/zebctl_state.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <chrono>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kVersionAnswer =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type:text/html;charset=UTF-8\r\n"
    "Cache-Control:no-cache, must-revalidate\r\n"
    "Connection:close\r\n"
    "Access-Control-Allow-Origin:*\r\n"
    "Content-Length:29\r\n"
    "\r\n"
    "{\"version\":\"4.0.0\",\"err\":\"0\"}";

std::string post(const std::string &body, const std::string &lengthLine = "") {
    std::string len = lengthLine.empty() ? "Content-Length: " + std::to_string(body.size()) : lengthLine;
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:8000\r\n" + len + "\r\n\r\n" + body;
}

// Feeds the pieces one read at a time; returns the rule's verdict after
// each piece. The last piece may be followed by the peer closing.
std::vector<int> feed(const std::vector<std::string> &pieces, bool closeAtEnd = false) {
    TiiReqProgress p;
    TiiReqProgressReset(&p);
    tcore_datanode *node = tcore_datanode_new();
    std::vector<int> verdicts;
    for (size_t i = 0; i < pieces.size(); i++) {
        tcore_datanode_append(node, pieces[i].data(), static_cast<int>(pieces[i].size()));
        bool done = closeAtEnd && i + 1 == pieces.size();
        verdicts.push_back(TiiContentLengthRule(&p, node, 0, done));
        if (verdicts.back() != TII_REQ_INCOMPLETE) break;
    }
    tcore_datanode_free(node);
    return verdicts;
}

constexpr int I = TII_REQ_INCOMPLETE, C = TII_REQ_COMPLETE, R = TII_REQ_REFUSED;

TEST(ContentLengthRule, Table) {
    const std::string body = "method=Tii_GetVersion&";
    const std::string whole = post(body);
    struct Case {
        const char *what;
        std::vector<std::string> pieces;
        bool closeAtEnd;
        std::vector<int> verdicts;
    } cases[] = {
        {"whole request", {whole}, false, {C}},
        {"split in three", {whole.substr(0, 20), whole.substr(20, 40), whole.substr(60)}, false, {I, I, C}},
        {"byte by byte tail", {whole.substr(0, whole.size() - 1), whole.substr(whole.size() - 1)}, false, {I, C}},
        {"value line still open", {"POST / HTTP/1.1\r\nContent-Length: 2", "2\r\n\r\n" + body}, false, {I, C}},
        {"empty body", {post("")}, false, {C}},
        {"more than announced", {post(body + "\r\n", "Content-Length: 22")}, false, {C}},
        {"fifteen digits", {post("a=b&", "Content-Length: 000000000000004")}, false, {C}},
        {"fifteen digits, CR and LF in two reads",
         {"POST / HTTP/1.1\r\nContent-Length: 000000000000004\r", "\n\r\na=b&"}, false, {I, C}},
        {"other letter case", {post(body, "content-length: 22")}, false, {I}},
        {"other letter case, peer gone", {post(body, "content-length: 22")}, true, {I}},
        {"peer gone early", {whole.substr(0, 50)}, true, {I}},
        {"no Content-Length", {"POST / HTTP/1.1\r\n\r\n" + body}, false, {I}},
        {"negative", {post(body, "Content-Length: -1")}, false, {R}},
        {"not a number", {post(body, "Content-Length: abc")}, false, {R}},
        {"empty value", {post(body, "Content-Length: ")}, false, {R}},
        {"twenty digits", {post(body, "Content-Length: 99999999999999999999")}, false, {R}},
        {"sixteen digits", {post(body, "Content-Length: 0000000000000022")}, false, {R}},
        {"endless value", {"POST / HTTP/1.1\r\nContent-Length: 1234567890123456"}, false, {R}},
        {"above the limit", {post(body, "Content-Length: 99999999")}, false, {R}},
        {"chunked body, peer done",
         {"POST / HTTP/1.1\r\nContent-Length: 999\r\nTransfer-Encoding: chunked\r\n\r\n3\r\na=b\r\n0\r\n\r\n"},
         true, {C}},
        {"chunked body incomplete, peer done",
         {"POST / HTTP/1.1\r\nContent-Length: 999\r\nTransfer-Encoding: chunked\r\n\r\n3\r\na=b\r\n"},
         true, {I}},
    };
    for (const auto &c : cases) EXPECT_EQ(feed(c.pieces, c.closeAtEnd), c.verdicts) << c.what;
}

TEST(ContentLengthRule, FailuresAndSize) {
    TiiReqProgress p;
    TiiReqProgressReset(&p);
    tcore_datanode *node = tcore_datanode_new();
    std::string head = "POST / HTTP/1.1\r\nContent-Length: 22\r\n\r\n";
    tcore_datanode_append(node, head.data(), static_cast<int>(head.size()));
    EXPECT_EQ(TiiContentLengthRule(&p, node, 1, 0), R);
    // A request past the limit is refused whatever it announces.
    TiiReqProgressReset(&p);
    tcore_datanode_reset(node);
    std::string big(TII_REQUEST_MAX_BYTES + 1, 'x');
    tcore_datanode_append(node, big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(TiiContentLengthRule(&p, node, 0, 0), R);
    tcore_datanode_free(node);
    EXPECT_EQ(TiiContentLengthRule(nullptr, nullptr, 0, 0), R);
}

TEST(HttpAnswer, HeadersInOrderWithoutBlanks) {
    tcore_datanode *head = tcore_datanode_new();
    tcore_datanode *json = tcore_datanode_new();
    tcore_datanode_appendString(json, "{\"version\":\"4.0.0\",\"err\":\"0\"}");
    char *out = nullptr;
    int len = 0;
    ASSERT_EQ(TiiBuildHttpAnswer(head, json, 0, &out, &len), 0);
    EXPECT_EQ(std::string(out, static_cast<size_t>(len)), kVersionAnswer);
    EXPECT_EQ(out[len], '\0');
    free(out);

    ASSERT_EQ(TiiBuildHttpAnswer(head, json, 1, &out, &len), 0);
    std::string preflight(out, static_cast<size_t>(len));
    free(out);
    EXPECT_NE(preflight.find("Access-Control-Allow-Origin:*\r\n"
                             "Access-Control-Allow-Private-Network:true\r\n"
                             "Access-Control-Max-Age:86400\r\n"
                             "Content-Length:29\r\n\r\n"),
              std::string::npos)
        << preflight;
    EXPECT_EQ(TiiBuildHttpAnswer(nullptr, json, 0, &out, &len), -10002);
    tcore_datanode_free(head);
    tcore_datanode_free(json);
}

// One connection served over a socket pair, the client side in this thread.
class ServeConnection : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        ASSERT_EQ(tnet_sock_startup(), 0);
        TiiServerBuffersInit(&buffers_);
        TiiStateReset();
    }
    void TearDown() override {
        TiiServerBuffersFree(&buffers_);
        HomeTest::TearDown();
    }
    // Sends the request (then half-closes when asked) and returns all the
    // server wrote before it closed.
    std::string exchange(const std::string &request, bool halfClose, int *answered) {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        std::thread server([&] { *answered = TiiServeConnection(fds[1], &buffers_); });
        if (!request.empty()) {
            EXPECT_EQ(write(fds[0], request.data(), request.size()), static_cast<ssize_t>(request.size()));
        }
        if (halfClose) shutdown(fds[0], SHUT_WR);
        std::string got;
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
        server.join();
        close(fds[0]);
        return got;
    }
    TiiServerBuffers buffers_{};
};

TEST_F(ServeConnection, AnswersAndCleansUp) {
    int answered = -1;
    EXPECT_EQ(exchange(post("method=Tii_GetVersion&"), false, &answered), kVersionAnswer);
    EXPECT_EQ(answered, 1);
    EXPECT_EQ(tcore_datanode_length(buffers_.recvNode), 0);
    EXPECT_EQ(tcore_datanode_length(buffers_.jsondata), 0);
    EXPECT_EQ(tcore_list_count(buffers_.fields), 0);
}

TEST_F(ServeConnection, ClosesWithoutAnswer) {
    struct Case {
        const char *what;
        std::string request;
    } cases[] = {
        {"not a POST", "GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"},
        {"garbage", std::string("\x01\x02\xff garbage \r\n\r\n\x00", 17)},
        {"no blank line", "POST / HTTP/1.1\r\nContent-Length: 3\r\n"},
        {"closed mid-request", post("method=Tii_GetVersion&").substr(0, 60)},
        {"negative length", post("a=b&", "Content-Length: -1")},
        {"nothing at all", ""},
    };
    for (const auto &c : cases) {
        int answered = -1;
        EXPECT_EQ(exchange(c.request, true, &answered), "") << c.what;
        EXPECT_EQ(answered, 0) << c.what;
        EXPECT_EQ(tcore_datanode_length(buffers_.recvNode), 0) << c.what;
    }
}

TEST_F(ServeConnection, TimeBoundsCloseSilentAndTricklingClients) {
    TiiServerSetRequestTimeouts(200, 700);
    using Clock = std::chrono::steady_clock;
    std::string req = post("method=Tii_GetVersion&");
    struct Case {
        const char *what;
        int sendEveryMs;  // 0: send nothing
        int minMs, maxMs;
    } cases[] = {
        {"silent", 0, 150, 600},
        {"trickling", 50, 600, 1500},  // progress every 50 ms, never whole in time
    };
    for (const auto &c : cases) {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        int answered = -1;
        auto t0 = Clock::now();
        std::thread server([&] { answered = TiiServeConnection(fds[1], &buffers_); });
        std::string got;
        for (size_t i = 0; c.sendEveryMs && i + 1 < req.size(); i++) {
            if (send(fds[0], &req[i], 1, MSG_NOSIGNAL) != 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(c.sendEveryMs));
        }
        char buf[256];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
        server.join();
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        close(fds[0]);
        EXPECT_EQ(got, "") << c.what;
        EXPECT_EQ(answered, 0) << c.what;
        EXPECT_GE(ms, c.minMs) << c.what;
        EXPECT_LE(ms, c.maxMs) << c.what;
    }
    TiiServerSetRequestTimeouts(0, 0);
}

}  // namespace

// The server's crypto start-up builds the SM2 curve: SM2 verification and
// signing find it ready without any set-up of their own.
TEST(CryptoStartup, BuildsTheSm2CurveOnce) {
    TiiCryptoStartup();
    const topl_sm2_curve *curve = topl_sm2_getCurve();
    ASSERT_NE(curve, nullptr);
    EXPECT_NE(curve->bnCtx, nullptr);
    EXPECT_NE(curve->group, nullptr);
    EXPECT_NE(curve->G, nullptr);
    TiiCryptoStartup();  // a second call changes nothing
    EXPECT_EQ(topl_sm2_getCurve()->group, curve->group);
}
