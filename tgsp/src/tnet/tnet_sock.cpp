#include "tnet/tnet_sock.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/types.h>

static int g_started = 0;

int tnet_sock_startup(void) {
    if (g_started) return 0;
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    if (sigaction(SIGPIPE, &sa, nullptr) != 0) {
        TCORE_LOG("WSA error %d from %s", errno, "WSAStartup");
        return TNET_ERR_STARTUP;
    }
    g_started = 1;
    return 0;
}

void tnet_sock_logError(const char *operation) {
    int err = errno;
    TCORE_LOG("WSA error %d from %s", err, operation ? operation : "");
}

int tnet_sock_setNonBlocking(int sock) {
    int flags = fcntl(sock, F_GETFL, 0);
    if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) return TNET_ERR_NONBLOCK;
    return 0;
}

int tnet_sock_recvAll(int sock, tcore_datanode *node) {
    if (sock < 0 || !node) return TCORE_ERR_ARG;
    int total = 0;
    int err = 0;
    for (;;) {
        tcore_datanode *chunk = tcore_datanode_spaceChunk(node);
        if (!chunk) return total;  // node holds INT_MAX bytes: the rest waits in the socket
        ssize_t n = recv(sock, chunk->data + (chunk->capacity - chunk->free),
                         static_cast<size_t>(chunk->free), 0);
        if (n == 0) return 0;
        if (n < 0) {
            err = errno;
            if (err == EINTR) continue;
            break;
        }
        chunk->free -= static_cast<int>(n);
        total += static_cast<int>(n);
    }
    if (err == EAGAIN || err == EWOULDBLOCK) return total > 0 ? total : TNET_ERR_WOULDBLOCK;
    errno = err;
    tnet_sock_logError("recv");
    return TNET_ERR_RECV;
}
