// Sockets: start-up, non-blocking reads into a data node, complete writes.
//
// Sockets are POSIX descriptors. The system error reported in log lines
// ("WSA error %d from %s") is errno.
#pragma once
#include "tcore/tcore_datanode.h"
#include "tnet/tnet_errors.h"

// Prepares the process for socket use, once per process (a process-global
// flag remembers success; meant for one thread). Also makes writes to a
// connection the peer has closed fail with an error instead of ending the
// process (SIGPIPE is ignored). 0; -180001 on failure.
int tnet_sock_startup(void);

// Logs "WSA error %d from %s" with errno and the operation name.
void tnet_sock_logError(const char *operation);

// Switches the socket to non-blocking mode. 0; -180018 when that fails.
int tnet_sock_setNonBlocking(int sock);

// Reads everything the non-blocking socket holds into node, filling the
// first chunk with free space (new chunks as needed). Returns:
//   > 0      bytes received, the socket has nothing more for now;
//   0        the peer closed the connection (also when bytes were received
//            earlier in this call: they stay in the node);
//   -10002   sock < 0 or node null;
//   -180013  nothing pending (would block) and nothing received;
//   -180015  recv failed (logged).
int tnet_sock_recvAll(int sock, tcore_datanode *node);

// Sends len bytes of data. When the socket's send buffer is full, waits
// (poll) up to the send time-out for room before giving up. Returns:
//   len      everything sent;
//   0 < n < len  the socket stayed full for the whole time-out after n bytes;
//   -10002   sock < 0, data null or len < 1;
//   -180013  the socket stayed full and nothing was sent;
//   -180016  send failed (logged).
int tnet_sockserver_sendAll(int sock, const void *data, int len);

// Time a send waits for room in a full socket buffer, in milliseconds
// (default 10000; 0: do not wait). Returns the previous value.
int tnet_sockserver_setSendTimeout(int ms);
