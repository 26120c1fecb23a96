#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tnet/tnet_sock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> g_lines;
void captureSink(const char *text) { g_lines.emplace_back(text); }

class SockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(tnet_sock_startup(), 0);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
        ASSERT_EQ(tnet_sock_setNonBlocking(fds_[0]), 0);
        node_ = tcore_datanode_new();
        g_lines.clear();
        tcore_log_sink = captureSink;
    }
    void TearDown() override {
        tcore_log_sink = nullptr;
        tcore_datanode_free(node_);
        closePeer();
        if (fds_[0] >= 0) close(fds_[0]);
    }
    void closePeer() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }
    int fds_[2] = {-1, -1};
    tcore_datanode *node_ = nullptr;
};

TEST_F(SockTest, RecvAllReportsPendingDataThenWouldBlockThenClose) {
    EXPECT_EQ(tnet_sock_recvAll(fds_[0], node_), TNET_ERR_WOULDBLOCK);

    std::string msg = "POST / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(write(fds_[1], msg.data(), msg.size()), static_cast<ssize_t>(msg.size()));
    EXPECT_EQ(tnet_sock_recvAll(fds_[0], node_), static_cast<int>(msg.size()));
    EXPECT_EQ(tnet_sock_recvAll(fds_[0], node_), TNET_ERR_WOULDBLOCK);

    // Data followed by the peer's close: 0, but the bytes are kept.
    ASSERT_EQ(write(fds_[1], "abc", 3), 3);
    closePeer();
    EXPECT_EQ(tnet_sock_recvAll(fds_[0], node_), 0);
    EXPECT_EQ(tcore_datanode_length(node_), static_cast<int>(msg.size()) + 3);
    EXPECT_EQ(tnet_sock_recvAll(fds_[0], node_), 0);
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(SockTest, RecvAllFillsChunksInPlace) {
    std::string big(20000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    tcore_datanode_appendString(node_, "head");
    std::thread writer([&] {
        size_t off = 0;
        while (off < big.size()) {
            ssize_t n = write(fds_[1], big.data() + off, big.size() - off);
            if (n > 0) off += static_cast<size_t>(n);
        }
    });
    int total = 0;
    while (total < 20000) {
        int n = tnet_sock_recvAll(fds_[0], node_);
        ASSERT_TRUE(n > 0 || n == TNET_ERR_WOULDBLOCK) << n;
        if (n > 0) total += n;
    }
    writer.join();
    EXPECT_EQ(total, 20000);
    ASSERT_EQ(tcore_datanode_length(node_), 20004);
    std::string got(20004, '\0');
    tcore_datanode_copyOut(node_, got.data(), 20004);
    EXPECT_EQ(got, "head" + big);
}

TEST_F(SockTest, RecvAllRejectsBadArgumentsAndReportsFailure) {
    EXPECT_EQ(tnet_sock_recvAll(-1, node_), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_sock_recvAll(fds_[0], nullptr), TCORE_ERR_ARG);
    int fd = dup(fds_[0]);
    close(fd);  // a descriptor that is no longer open
    EXPECT_EQ(tnet_sock_recvAll(fd, node_), TNET_ERR_RECV);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_NE(g_lines[0].find("WSA error 9 from recv"), std::string::npos) << g_lines[0];
    EXPECT_EQ(tnet_sock_setNonBlocking(fd), TNET_ERR_NONBLOCK);
}

TEST_F(SockTest, SendAllSendsEverythingAndWaitsForRoom) {
    ASSERT_EQ(tnet_sock_setNonBlocking(fds_[1]), 0);
    std::string big(1 << 20, 'z');  // far more than the socket buffer holds
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        while (got.size() < big.size()) {
            ssize_t n = read(fds_[0], buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            else if (n == 0) break;
        }
    });
    EXPECT_EQ(tnet_sockserver_sendAll(fds_[1], big.data(), static_cast<int>(big.size())),
              static_cast<int>(big.size()));
    reader.join();
    EXPECT_EQ(got, big);
}

TEST_F(SockTest, SendAllWouldBlockAndPeerClosed) {
    int old = tnet_sockserver_setSendTimeout(0);
    ASSERT_EQ(tnet_sock_setNonBlocking(fds_[1]), 0);
    std::string block(65536, 'q');
    int sent = 0;
    while (true) {
        int n = tnet_sockserver_sendAll(fds_[1], block.data(), static_cast<int>(block.size()));
        if (n == TNET_ERR_WOULDBLOCK) break;
        ASSERT_GT(n, 0);
        sent += n;
        ASSERT_LT(sent, 64 << 20);
    }
    EXPECT_GT(sent, 0);

    // The peer has gone: an error, not a signal that ends the process.
    close(fds_[0]);
    fds_[0] = -1;
    EXPECT_EQ(tnet_sockserver_sendAll(fds_[1], "x", 1), TNET_ERR_SEND);
    ASSERT_FALSE(g_lines.empty());
    EXPECT_NE(g_lines.back().find("WSA error 32 from send"), std::string::npos) << g_lines.back();

    EXPECT_EQ(tnet_sockserver_sendAll(-1, "x", 1), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_sockserver_sendAll(fds_[1], nullptr, 1), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_sockserver_sendAll(fds_[1], "x", 0), TCORE_ERR_ARG);
    tnet_sockserver_setSendTimeout(old);
}

}  // namespace
