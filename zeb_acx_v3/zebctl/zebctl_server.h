// The plain HTTP server thread: listens, then serves one connection at a
// time (read one request, answer it, close) until the stop flag is set.
#pragma once
#include <atomic>
#include <netinet/in.h>

struct tcore_datanode;
struct tcore_list;

// Set to 1 to stop serving: checked between connections and at least every
// TII_ACCEPT_WAIT_MS while no connection arrives.
extern std::atomic<int> g_tiiServerStop;
#define TII_ACCEPT_WAIT_MS 500

// Ports tried in order when no port is configured.
#define TII_PORT_FIRST 8000
#define TII_PORT_SECOND 8001

// Port the server threads listen on: 0 (default) tries 8000, then 8001;
// any other value is the only port tried. Set before the thread starts.
void TiiServerSetPort(int port);
int TiiServerGetPort(void);

// Registry value naming the IPv4 address to listen on (HKEY_LOCAL_MACHINE).
#define TII_LISTEN_KEY "SOFTWARE\\TARN_II\\Server"
#define TII_LISTEN_VALUE "ListenAddress"
#define TII_LISTEN_DEFAULT "127.0.0.1"

// The address to listen on: the registry value when it holds a valid
// dotted IPv4 address (for example 0.0.0.0 for every interface), else the
// loopback address 127.0.0.1. Returns 0 when the registry value was used,
// 1 when the default applies; the text actually used goes to `text`
// (16 bytes) when not null.
int TiiListenAddress(struct in_addr *addr, char *text);

// Reports a start-up failure ("bind fail,Unable to start service", ...).
// The default writes the text and a line feed to stderr; the desktop shell
// installs its message box.
typedef void (*TiiStartupErrorFn)(const char *message);
void TiiSetStartupErrorHandler(TiiStartupErrorFn fn);

// Creates the listening socket: IPv4 stream socket bound to the listen
// address and the configured port(s), backlog 5. Returns the socket and
// stores the port through `boundPort` and the address text through
// `addrText` (16 bytes; either may be null), or stores the start-up failure
// message through `failure` and returns -1.
int TiiOpenListener(const char **failure, int *boundPort, char *addrText);

// Time bounds of reading one request, in milliseconds (defaults
// TII_REQUEST_IDLE_MS and TII_REQUEST_TOTAL_MS; values <= 0 restore them).
// For tests that cannot wait that long.
void TiiServerSetRequestTimeouts(int idleMs, int totalMs);

// Buffers the server thread keeps for its whole life.
struct TiiServerBuffers {
    tcore_datanode *recvNode;  // the raw request
    tcore_datanode *jsondata;  // the response body
    tcore_datanode *head;      // serialised status line and headers
    tcore_list *fields;        // request field list (tcore_kvlist records)
};
void TiiServerBuffersInit(TiiServerBuffers *b);
void TiiServerBuffersFree(TiiServerBuffers *b);

// Serves one accepted connection: reads the request (bounded in size and
// time, see zebctl_request.h), answers it when it parses,
// closes `sd` and cleans up. Returns 1 when an answer was sent, 0 when the
// connection was closed without one.
int TiiServeConnection(int sd, TiiServerBuffers *b);

// Runs the process-wide crypto start-up once (later calls do nothing):
// OpenSSL algorithms and error strings, and the SM2 curve (topl_sm2_init).
void TiiCryptoStartup(void);

// Thread start routine of the plain server; `arg` is not used. Never
// returns: when serving ends, or when the service cannot start (the failure
// is reported first), the process exits with code 0.
[[noreturn]] void *TiiHttpServerThread(void *arg);
