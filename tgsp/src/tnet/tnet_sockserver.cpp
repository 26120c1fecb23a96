#include "tnet/tnet_sock.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

static int g_sendTimeoutMs = 10000;

int tnet_sockserver_setSendTimeout(int ms) {
    int old = g_sendTimeoutMs;
    g_sendTimeoutMs = ms < 0 ? 0 : ms;
    return old;
}

// Waits until the socket can take more bytes; false on time-out or error.
static bool waitWritable(int sock) {
    if (g_sendTimeoutMs <= 0) return false;
    struct pollfd p {};
    p.fd = sock;
    p.events = POLLOUT;
    int r;
    do {
        r = poll(&p, 1, g_sendTimeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLOUT);
}

int tnet_sockserver_sendAll(int sock, const void *data, int len) {
    if (sock < 0 || !data || len < 1) return TCORE_ERR_ARG;
    const auto *p = static_cast<const char *>(data);
    int sent = 0;
    while (sent < len) {
        ssize_t n = send(sock, p + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            TCORE_LOG("%d send return 0, it's not a error, just a warning", sock);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitWritable(sock)) continue;
            return sent > 0 ? sent : TNET_ERR_WOULDBLOCK;
        }
        tnet_sock_logError("send");
        return TNET_ERR_SEND;
    }
    return sent;
}
