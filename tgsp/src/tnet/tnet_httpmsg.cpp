#include "tnet/tnet_httpmsg.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ReasonPhrase {
    int status;
    const char *phrase;
};

// HTTP/1.1 status codes and phrases; the common answers first. Ends with a
// negative code.
const ReasonPhrase kReasons[] = {
    {200, "OK"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {100, "Continue"},
    {101, "Switching Protocols"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {307, "Temporary Redirect"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Time-out"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Large"},
    {415, "Unsupported Media Type"},
    {416, "Requested range not satisfiable"},
    {417, "Expectation Failed"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Time-out"},
    {505, "HTTP Version not supported"},
    {-1, nullptr},
};

bool usable(const tnet_httpmsg *msg) { return msg && msg->headers; }

}  // namespace

tnet_httpmsg *tnet_httpmsg_new(void) {
    auto *msg = static_cast<tnet_httpmsg *>(tcore_zalloc(sizeof(tnet_httpmsg)));
    msg->version = 1;
    msg->status = 0;
    msg->headers = tcore_list_new(free);
    msg->body = tcore_datanode_new();
    return msg;
}

void tnet_httpmsg_free(tnet_httpmsg *msg) {
    if (!msg) return;
    tcore_list_free(msg->headers);
    tcore_datanode_free(msg->body);
    free(msg);
}

int tnet_httpmsg_addHeader(tnet_httpmsg *msg, const char *name, const char *value) {
    if (!usable(msg) || !name || !*name || !value || !*value) return TCORE_ERR_ARG;
    auto *h = static_cast<tnet_httpheader *>(tcore_zalloc(sizeof(tnet_httpheader)));
    snprintf(h->name, sizeof h->name, "%s", name);
    snprintf(h->value, sizeof h->value, "%s", value);
    int rc = tcore_list_append(msg->headers, h);
    if (rc != 0) free(h);
    return rc;
}

int tnet_httpmsg_setContentType(tnet_httpmsg *msg) {
    if (!usable(msg)) return TCORE_ERR_ARG;
    return tnet_httpmsg_addHeader(msg, "Content-Type", "text/html;charset=UTF-8");
}

int tnet_httpmsg_setContentLength(tnet_httpmsg *msg, int n) {
    if (!usable(msg)) return TCORE_ERR_ARG;
    char buf[16];
    snprintf(buf, sizeof buf, "%d", n);
    return tnet_httpmsg_addHeader(msg, "Content-Length", buf);
}

int tnet_httpmsg_appendBody(tnet_httpmsg *msg, int len, const char *bytes) {
    if (!msg || !msg->body || !bytes) return TCORE_ERR_ARG;
    if (len <= 0) return tcore_datanode_appendString(msg->body, bytes);
    return tcore_datanode_append(msg->body, bytes, len);
}

const char *tnet_httpmsg_reasonPhrase(int status) {
    if (status <= 0) status = 200;
    for (const ReasonPhrase *r = kReasons; r->status >= 0; ++r)
        if (r->status == status) return r->phrase;
    return nullptr;
}

int createHeader(tcore_datanode *dest, tnet_httpmsg *msg) {
    if (!dest || !msg || !msg->headers || !msg->body) return TCORE_ERR_ARG;
    const char *phrase = tnet_httpmsg_reasonPhrase(msg->status);
    if (!phrase) return TNET_ERR_NO_REASON;

    tcore_datanode_reset(dest);
    tcore_datanode_appendString(dest, msg->version == 1 ? "HTTP/1.1 " : "HTTP/1.0 ");
    tcore_datanode_appendInt(dest, msg->status <= 0 ? 200 : msg->status);
    tcore_datanode_appendString(dest, " ");
    tcore_datanode_appendString(dest, phrase);
    tcore_datanode_appendString(dest, "\r\n");
    for (int i = 0; i < msg->headers->count; ++i) {
        const auto *h = static_cast<const tnet_httpheader *>(msg->headers->items[i]);
        if (!h) continue;
        tcore_datanode_appendString(dest, h->name);
        tcore_datanode_appendString(dest, ":");
        tcore_datanode_appendString(dest, h->value);
        tcore_datanode_appendString(dest, "\r\n");
    }
    tcore_datanode_appendString(dest, "\r\n");
    return tcore_datanode_length(dest);
}
