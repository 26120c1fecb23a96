#include "zebctl/zebctl_server.h"

#include "tcore/tcore_datanode.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"
#include "tcore/tcore_mem.h"
#include "tcore/tcore_wreg.h"
#include "tnet/tnet_sock.h"
#include "topl/topl_sm2.h"
#include "zeb_acx_log.h"
#include "zebctl/zebctl_answer.h"
#include "zebctl/zebctl_request.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

std::atomic<int> g_tiiServerStop{0};

static int g_port = 0;

void TiiServerSetPort(int port) { g_port = port; }
int TiiServerGetPort(void) { return g_port; }

static void stderrStartupError(const char *message) {
    fprintf(stderr, "%s\n", message);
}
static TiiStartupErrorFn g_startupError = stderrStartupError;

void TiiSetStartupErrorHandler(TiiStartupErrorFn fn) {
    g_startupError = fn ? fn : stderrStartupError;
}

// Once per process, whoever comes first (the server thread or the server
// credential check): OpenSSL allocates with malloc/realloc/free already;
// load every cipher, digest and error string, then build the SM2 curve that
// SM2 verification and the SM3-with-SM2 signing paths read.
void TiiCryptoStartup(void) {
    static std::once_flag once;
    std::call_once(once, [] {
        OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_ADD_ALL_CIPHERS |
                                OPENSSL_INIT_ADD_ALL_DIGESTS,
                            nullptr);
        int rc = topl_sm2_init();
        if (rc < 0) zeb_acx_log_error("TiiCryptoStartup topl_sm2_init failed %d", rc);
    });
}

int TiiListenAddress(struct in_addr *addr, char *text) {
    std::string chosen = TII_LISTEN_DEFAULT;
    int fromRegistry = 1;
    char value[256] = {};
    int rc = tcore_wreg_getValue(TII_LISTEN_VALUE, TII_LISTEN_KEY, TCORE_HKEY_LOCAL_MACHINE, value);
    struct in_addr probe {};
    if (rc >= 0 && inet_pton(AF_INET, value, &probe) == 1) {
        chosen = value;
        fromRegistry = 0;
    } else if (rc >= 0 || (rc != TCORE_ERR_REG_OPEN && rc != TCORE_ERR_REG_READ)) {
        // Present but unusable: say so, and stay on the safe side.
        zeb_acx_log_error("ListenAddress \"%s\" is not an IPv4 address, using %s", value,
                          TII_LISTEN_DEFAULT);
        fprintf(stderr, "sealdesk_corvina: ListenAddress \"%s\" is not an IPv4 address, using %s\n",
                value, TII_LISTEN_DEFAULT);
    }
    if (addr) inet_pton(AF_INET, chosen.c_str(), addr);
    if (text) snprintf(text, 16, "%s", chosen.c_str());
    return fromRegistry;
}

static bool bindPort(int sd, struct in_addr addr, int port) {
    struct sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr = addr;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    return bind(sd, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) == 0;
}

int TiiOpenListener(const char **failure, int *boundPort, char *addrText) {
    if (tnet_sock_startup() < 0) {
        *failure = "WSAStartup fail,Unable to start service";
        return -1;
    }
    int sd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sd < 0) {
        *failure = "socket fail,Unable to start service";
        return -1;
    }
    // A port held by a listening program stays taken; only connections of
    // an earlier run that linger in TIME_WAIT no longer block a restart.
    int on = 1;
    setsockopt(sd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    struct in_addr addr {};
    TiiListenAddress(&addr, addrText);
    int port = g_port;
    bool bound;
    if (port > 0) {
        bound = bindPort(sd, addr, port);
    } else {
        port = TII_PORT_FIRST;
        bound = bindPort(sd, addr, port);
        if (!bound) {
            port = TII_PORT_SECOND;
            bound = bindPort(sd, addr, port);
        }
    }
    if (!bound) {
        close(sd);
        *failure = "bind fail,Unable to start service";
        return -1;
    }
    if (listen(sd, 5) != 0) {
        close(sd);
        *failure = "listen fail,Unable to start service";
        return -1;
    }
    // accept must never block: a client that gives up between poll and
    // accept would otherwise hold the loop (and the stop flag) hostage.
    fcntl(sd, F_SETFL, fcntl(sd, F_GETFL) | O_NONBLOCK);
    if (boundPort) *boundPort = port;
    return sd;
}

void TiiServerBuffersInit(TiiServerBuffers *b) {
    b->recvNode = tcore_datanode_new();
    b->fields = tcore_list_new(free);
    b->jsondata = tcore_datanode_new();
    b->head = tcore_datanode_new();
}

void TiiServerBuffersFree(TiiServerBuffers *b) {
    tcore_kvlist_clear(b->fields);
    tcore_list_free(b->fields);
    tcore_datanode_free(b->recvNode);
    tcore_datanode_free(b->jsondata);
    tcore_datanode_free(b->head);
    memset(b, 0, sizeof *b);
}

static int g_idleMs = TII_REQUEST_IDLE_MS;
static int g_totalMs = TII_REQUEST_TOTAL_MS;

void TiiServerSetRequestTimeouts(int idleMs, int totalMs) {
    g_idleMs = idleMs > 0 ? idleMs : TII_REQUEST_IDLE_MS;
    g_totalMs = totalMs > 0 ? totalMs : TII_REQUEST_TOTAL_MS;
}

namespace {

using Clock = std::chrono::steady_clock;

// Reads what the socket holds into the node, at most `room` bytes, so that
// one read cannot carry a request past its limit. Same results as
// tnet_sock_recvAll: > 0 bytes read; 0 peer closed; -180013 nothing
// pending; -180015 failure.
int recvBounded(int sd, tcore_datanode *node, int room) {
    char buf[TCORE_DATANODE_CHUNK];
    int total = 0;
    while (room > 0) {
        size_t want = room < static_cast<int>(sizeof buf) ? static_cast<size_t>(room) : sizeof buf;
        ssize_t n = recv(sd, buf, want, 0);
        if (n > 0) {
            tcore_datanode_append(node, buf, static_cast<int>(n));
            total += static_cast<int>(n);
            room -= static_cast<int>(n);
            continue;
        }
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return total > 0 ? total : TNET_ERR_WOULDBLOCK;
        tnet_sock_logError("recv");
        return TNET_ERR_RECV;
    }
    return total;
}

// Reads until the Content-Length rule decides. Waits for data with poll; a
// connection idle for the idle bound, or not done within the total bound,
// is refused.
int readRequest(int sd, tcore_datanode *node) {
    TiiReqProgress progress;
    TiiReqProgressReset(&progress);
    const auto idle = std::chrono::milliseconds(g_idleMs);
    const auto giveUp = Clock::now() + std::chrono::milliseconds(g_totalMs);
    auto deadline = Clock::now() + idle;
    for (;;) {
        int room = TII_REQUEST_MAX_BYTES + 1 - tcore_datanode_length(node);
        int r = recvBounded(sd, node, room);
        if (r > 0) deadline = Clock::now() + idle;
        if (deadline > giveUp) deadline = giveUp;
        bool failed = r < 0 && r != TNET_ERR_WOULDBLOCK;
        int state = TiiContentLengthRule(&progress, node, failed, r == 0);
        if (state != TII_REQ_INCOMPLETE) return state;
        if (r == 0) return TII_REQ_REFUSED;  // the peer left before the request was whole

        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return TII_REQ_REFUSED;
        struct pollfd p {};
        p.fd = sd;
        p.events = POLLIN;
        int pr = poll(&p, 1, static_cast<int>(left.count()));
        if (pr == 0) return TII_REQ_REFUSED;  // idle for too long
        if (pr < 0 && errno != EINTR) return TII_REQ_REFUSED;
    }
}

// The request as text for the log (cut at a NUL byte).
std::string requestText(tcore_datanode *node) {
    int len = tcore_datanode_length(node);
    std::string s(static_cast<size_t>(len), '\0');
    if (len > 0) tcore_datanode_copyOut(node, s.data(), len);
    s.resize(strnlen(s.c_str(), s.size()));
    return s;
}

}  // namespace

int TiiServeConnection(int sd, TiiServerBuffers *b) {
    int answered = 0;
    char *sendBuf = nullptr;
    int sendLen = 0;

    if (tnet_sock_setNonBlocking(sd) == 0 && readRequest(sd, b->recvNode) == TII_REQ_COMPLETE &&
        tcore_datanode_length(b->recvNode) > 0 &&
        ParseReqContent_Ex(b->recvNode, b->fields) >= 0) {
        TiiBuildAnswerBody(b->jsondata, b->fields, 0);
        zeb_acx_log_info("recvData:%s", requestText(b->recvNode).c_str());
        if (TiiBuildHttpAnswer(b->head, b->jsondata, 0, &sendBuf, &sendLen) == 0 &&
            tnet_sockserver_sendAll(sd, sendBuf, sendLen) == sendLen) {
            answered = 1;
        }
    }
    close(sd);
    free(sendBuf);
    TiiConnectionCleanup(b->recvNode, b->jsondata, b->head, b->fields);
    return answered;
}

void *TiiHttpServerThread(void *) {
    TiiServerBuffers buffers;
    TiiServerBuffersInit(&buffers);
    TiiCryptoStartup();

    const char *failure = nullptr;
    int port = 0;
    char addr[16] = {};
    int listenSd = TiiOpenListener(&failure, &port, addr);
    if (listenSd < 0) {
        g_startupError(failure);
    } else {
        printf("sealdesk_corvina: listening on http://%s:%d/\n", addr, port);
        fflush(stdout);
    }

    while (listenSd >= 0 && !g_tiiServerStop.load()) {
        struct pollfd p {};
        p.fd = listenSd;
        p.events = POLLIN;
        int pr = poll(&p, 1, TII_ACCEPT_WAIT_MS);
        if (pr <= 0) continue;  // time to look at the stop flag again, or EINTR
        int sd = accept(listenSd, nullptr, nullptr);
        if (sd < 0) {
            // Out of descriptors or memory: give the system a moment instead
            // of spinning on a listener that stays readable.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) usleep(100 * 1000);
            continue;
        }
        TiiServeConnection(sd, &buffers);
    }

    if (listenSd >= 0) close(listenSd);
    TiiServerBuffersFree(&buffers);
    exit(0);
}
