// sealdesk_corvina: the signing server. Until the desktop shell exists it
// runs the plain HTTP server thread in the foreground.
#include "zeb_acx_log.h"
#include "zebctl/zebctl_server.h"
#include "zebctl/zebctl_state.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char kProgram[] = "sealdesk_corvina";

static void usage(FILE *out) {
    fprintf(out,
            "usage: %s [--port N] [--help] [--version]\n"
            "\n"
            "Local signing service: answers API calls POSTed by web pages over HTTP.\n"
            "\n"
            "  --port N    listen on port N only (default: 8000, or 8001 when 8000 is taken)\n"
            "  --help      show this text and exit\n"
            "  --version   show the version and exit\n"
            "\n"
            "Listens on 127.0.0.1 unless HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN_II\\Server\n"
            "\"ListenAddress\" names another IPv4 address. SEALDESK_HOME, when set, holds\n"
            "the registry and all other state.\n",
            kProgram);
}

// Decimal port 1-65535, nothing else; -1 otherwise.
static int parsePort(const char *s) {
    if (!s || !*s || strlen(s) > 5) return -1;
    int v = 0;
    for (const char *p = s; *p; p++) {
        if (*p < '0' || *p > '9') return -1;
        v = v * 10 + (*p - '0');
    }
    return v >= 1 && v <= 65535 ? v : -1;
}

// Ctrl-C and SIGTERM end the server in order: it finishes the connection
// in hand, frees its buffers and exits with code 0.
static void requestStop(int) { g_tiiServerStop.store(1); }

static void installStopHandlers(void) {
    struct sigaction sa {};
    sa.sa_handler = requestStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a waiting poll returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            usage(stdout);
            return 0;
        }
        if (strcmp(arg, "--version") == 0) {
            printf("%s 4.0.0\n", kProgram);
            return 0;
        }
        const char *value = nullptr;
        if (strcmp(arg, "--port") == 0) {
            if (i + 1 >= argc) {
                fprintf(stderr, "%s: --port needs a port number\n", kProgram);
                return 2;
            }
            value = argv[++i];
        } else if (strncmp(arg, "--port=", 7) == 0) {
            value = arg + 7;
        } else {
            fprintf(stderr, "%s: unknown option %s\n", kProgram, arg);
            usage(stderr);
            return 2;
        }
        int port = parsePort(value);
        if (port < 0) {
            fprintf(stderr, "%s: invalid port \"%s\" (1-65535)\n", kProgram, value);
            return 2;
        }
        TiiServerSetPort(port);
    }

    static_assert(std::atomic<int>::is_always_lock_free, "the stop flag is set from a signal handler");
    installStopHandlers();
    zeb_acx_log_init(nullptr, -1);
    zeb_acx_log_info("InitInstance:%s,", kProgram);
    TiiHttpServerThread(nullptr);
}
