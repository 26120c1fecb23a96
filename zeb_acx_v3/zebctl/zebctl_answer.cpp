#include "zebctl/zebctl_answer.h"

#include "tcore/tcore_datanode.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_mem.h"
#include "tnet/tnet_httpmsg.h"
#include "zeb_acx_log.h"
#include "zebctl/zebctl_chunked.h"
#include "zebctl/zebctl_dispatch.h"
#include "zebctl/zebctl_request.h"
#include "zebctl/zebctl_state.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char kContentLength[] = "Content-Length: ";
enum { kContentLengthLen = sizeof kContentLength - 1, kContentLenMax = 15 };

void TiiReqProgressReset(TiiReqProgress *p) {
    if (!p) return;
    memset(p, 0, sizeof *p);
    p->blankPos = -1;
}

// Looks for the Content-Length header and takes its value once its line is
// whole. Returns 0 (found or not yet), TII_REQ_REFUSED for a value that is
// not a decimal number of at most 15 digits within the request limit.
static int takeContentLength(TiiReqProgress *p, tcore_datanode *node, int len) {
    if (p->clPos == 0) {
        int pos = tcore_datanode_findString(node, p->clScanFrom, kContentLength);
        if (pos < 0) {
            // A match can only start in the last 15 bytes or later.
            int from = len - (kContentLengthLen - 1);
            p->clScanFrom = from > 0 ? from : 0;
            return 0;
        }
        if (pos == 0) return TII_REQ_REFUSED;  // cannot be a POST request
        p->clPos = pos;
    }
    int valueStart = p->clPos + kContentLengthLen;
    int eol = tcore_datanode_findString(node, valueStart, "\r\n");
    if (eol < 0) {
        // The value can only grow: refuse it as soon as it is too long. A
        // full-length value whose CR has come without its LF yet may still
        // be good.
        int pending = len - valueStart;
        if (pending > kContentLenMax + 1) return TII_REQ_REFUSED;
        if (pending == kContentLenMax + 1 && tcore_datanode_byteAt(node, len - 1) != '\r')
            return TII_REQ_REFUSED;
        return 0;
    }
    int valueLen = eol - valueStart;
    if (valueLen <= 0 || valueLen > kContentLenMax) return TII_REQ_REFUSED;
    char value[16] = {};
    tcore_datanode_getSubData(node, valueStart, value, valueLen);
    long long n = 0;
    for (int i = 0; i < valueLen; i++) {
        if (value[i] < '0' || value[i] > '9') return TII_REQ_REFUSED;
        n = n * 10 + (value[i] - '0');
    }
    if (n > TII_REQUEST_MAX_BYTES) return TII_REQ_REFUSED;
    p->clLineEnd = eol;
    memcpy(p->contentLen, value, sizeof value);
    return 0;
}

int TiiContentLengthRule(TiiReqProgress *p, tcore_datanode *node, int readFailed, int peerDone) {
    if (!p || !node || readFailed) return TII_REQ_REFUSED;
    int len = tcore_datanode_length(node);
    if (len > TII_REQUEST_MAX_BYTES) return TII_REQ_REFUSED;

    if (!p->contentLen[0] && takeContentLength(p, node, len) < 0) return TII_REQ_REFUSED;

    if (p->contentLen[0]) {
        if (peerDone && TiiDisposeChunkedData(node) == 1) return TII_REQ_COMPLETE;
        if (p->blankPos < 0) {
            int from = p->blankScanFrom > p->clPos ? p->blankScanFrom : p->clPos;
            int pos = tcore_datanode_findString(node, from, "\r\n\r\n");
            if (pos >= 0) {
                p->blankPos = pos;
            } else {
                int next = len - 3;
                p->blankScanFrom = next > p->clPos ? next : p->clPos;
            }
        }
        // More bytes than announced are accepted: the parser ignores text
        // after the last "&", and clients that add a CRLF still get answered.
        if (p->blankPos >= 0 && len - (p->blankPos + 4) >= atoi(p->contentLen)) {
            return TII_REQ_COMPLETE;
        }
    }
    return TII_REQ_INCOMPLETE;
}

int TiiBuildAnswerBody(tcore_datanode *jsondata, tcore_list *fields, int logSteps) {
    int appended = tcore_datanode_appendString(jsondata, "{");
    if (logSteps) zeb_acx_log_info("appendString jsondata:%d,", appended);
    int rc = CreateResponse(jsondata, fields);
    if (logSteps) zeb_acx_log_info("CreateResponse:%d,", rc);
    char err[16];
    snprintf(err, sizeof err, "%d", rc < 0 ? g_tiiState.lastError : 0);
    int written = TiiAppendItem(jsondata, "err", err);
    if (logSteps) {
        zeb_acx_log_info("err:%d,", written);
        zeb_acx_log_info("err,");
    }
    // The comma after the last item becomes the closing brace.
    tcore_datanode_putBrace(jsondata, tcore_datanode_length(jsondata) - 1);
    return rc;
}

int TiiBuildHttpAnswer(tcore_datanode *head, tcore_datanode *jsondata, int preflight,
                       char **out, int *outLen) {
    if (!head || !jsondata || !out || !outLen) return TCORE_ERR_ARG;
    *out = nullptr;
    *outLen = 0;

    int bodyLen = tcore_datanode_length(jsondata);
    char *body = static_cast<char *>(tcore_zalloc(static_cast<size_t>(bodyLen) + 1));
    if (bodyLen > 0) tcore_datanode_copyOut(jsondata, body, bodyLen);

    tnet_httpmsg *msg = tnet_httpmsg_new();
    msg->version = 1;
    msg->status = 200;
    tnet_httpmsg_setContentType(msg);
    tnet_httpmsg_addHeader(msg, "Cache-Control", "no-cache, must-revalidate");
    tnet_httpmsg_addHeader(msg, "Connection", "close");
    tnet_httpmsg_addHeader(msg, "Access-Control-Allow-Origin", "*");
    if (preflight) {
        tnet_httpmsg_addHeader(msg, "Access-Control-Allow-Private-Network", "true");
        tnet_httpmsg_addHeader(msg, "Access-Control-Max-Age", "86400");
    }
    tnet_httpmsg_setContentLength(msg, bodyLen);
    if (bodyLen > 0) tnet_httpmsg_appendBody(msg, bodyLen, body);

    int headLen = createHeader(head, msg);
    tnet_httpmsg_free(msg);
    if (headLen < 0 || bodyLen > INT_MAX - 1 - headLen) {
        free(body);
        return headLen < 0 ? headLen : TCORE_ERR_ARG;
    }

    char *buf = static_cast<char *>(tcore_zalloc(static_cast<size_t>(headLen) + bodyLen + 1));
    tcore_datanode_copyOut(head, buf, headLen);
    if (bodyLen > 0) memcpy(buf + headLen, body, static_cast<size_t>(bodyLen));
    free(body);
    *out = buf;
    *outLen = headLen + bodyLen;
    return 0;
}

void TiiConnectionCleanup(tcore_datanode *recvNode, tcore_datanode *jsondata,
                          tcore_datanode *head, tcore_list *fields) {
    tcore_datanode_reset(recvNode);
    tcore_datanode_reset(jsondata);
    tcore_datanode_reset(head);
    tcore_kvlist_clear(fields);
    TiiReleaseRequestResults();
}
