// What the plain and the TLS transport share: the rule that decides when a
// request has been read completely, the construction of the answer, and the
// clean-up after a connection.
#pragma once

struct tcore_datanode;
struct tcore_list;

// Reading state of one connection; zero it (TiiReqProgressReset) before the
// first read of every connection.
struct TiiReqProgress {
    char contentLen[16];  // text of the Content-Length value, at most 15 digits
    int clPos;            // position of "Content-Length: ", 0 = not found yet
    int clLineEnd;        // position of the CRLF ending that line, 0 = not yet
    int clScanFrom;       // where the next search for "Content-Length: " starts
    int blankPos;         // position of the blank line after it, -1 = not yet
    int blankScanFrom;    // where the next search for the blank line starts
};

void TiiReqProgressReset(TiiReqProgress *p);

enum {
    TII_REQ_INCOMPLETE = 0,  // keep reading
    TII_REQ_COMPLETE = 1,    // answer it
    TII_REQ_REFUSED = -1,    // close without an answer
};

// Applies the Content-Length rule after a read into `node`.
//   readFailed  the read failed (nothing more will come)
//   peerDone    the peer closed the connection (the TLS transport also
//               passes its "no data yet" result here): a complete chunked
//               body then completes the request
// The request is complete when its Content-Length value is known and either
// the peer is done and TiiDisposeChunkedData reports a complete chunked
// body, or at least that many bytes follow the blank line after the
// Content-Length header. The header is found only spelt exactly
// "Content-Length: " (one blank after the colon).
// Refused (close without an answer): a failed read; a Content-Length value
// that is empty, longer than 15 characters, not all decimal digits or above
// TII_REQUEST_MAX_BYTES; a request longer than TII_REQUEST_MAX_BYTES.
// Anything else is incomplete; a transport whose peer has closed drops an
// incomplete request itself.
int TiiContentLengthRule(TiiReqProgress *p, tcore_datanode *node, int readFailed, int peerDone);

// Builds the response body in `jsondata` (which must be empty): "{", the
// items of CreateResponse, the item "err" (the last error when
// CreateResponse returned a negative value, else "0"), closing "}".
// With logSteps (the TLS transport) the steps are logged at information
// level: "appendString jsondata:%d," (bytes appended), "CreateResponse:%d,",
// "err:%d," (the item writer's result) and "err,".
// Returns CreateResponse's result.
int TiiBuildAnswerBody(tcore_datanode *jsondata, tcore_list *fields, int logSteps);

// Serialises the answer: status line and headers (Content-Type,
// Cache-Control, Connection, Access-Control-Allow-Origin, in a preflight
// answer also Access-Control-Allow-Private-Network and
// Access-Control-Max-Age, then Content-Length) into `head`, followed by a
// copy of `jsondata`. Stores a new NUL-terminated buffer (caller frees)
// through `out` and its length without the NUL through `outLen`.
// Returns 0; -10002 for a null argument; the negative code of the HTTP
// message functions when serialisation fails.
int TiiBuildHttpAnswer(tcore_datanode *head, tcore_datanode *jsondata, int preflight,
                       char **out, int *outLen);

// Clean-up after every connection: resets the three data nodes (any may be
// null), empties the field list and releases the per-request results of
// the API state.
void TiiConnectionCleanup(tcore_datanode *recvNode, tcore_datanode *jsondata,
                          tcore_datanode *head, tcore_list *fields);
