// HTTP response message: status, headers, body, and its head serialiser.
//
// A message owns its header list (records freed with free) and its body.
// Headers stay in insertion order; a name may occur more than once.
#pragma once
#include "tcore/tcore_datanode.h"
#include "tcore/tcore_list.h"
#include "tnet/tnet_errors.h"

#define TNET_HEADER_NAME_SIZE 64     // at most 63 characters stored
#define TNET_HEADER_VALUE_SIZE 3072  // at most 3071 characters stored

// One header, a flat zero-filled block of 3136 bytes.
struct tnet_httpheader {
    char name[TNET_HEADER_NAME_SIZE];
    char value[TNET_HEADER_VALUE_SIZE];
};

struct tnet_httpmsg {
    int version;          // 1: HTTP/1.1, anything else HTTP/1.0
    int status;           // 0 (or less) serialises as 200
    tcore_list *headers;  // tnet_httpheader records, item-free function free
    tcore_datanode *body;
};

// New message: version 1, status 0, no headers, empty body. Never null.
tnet_httpmsg *tnet_httpmsg_new(void);

// Frees the header records, the list, the body and the message. Null ignored.
void tnet_httpmsg_free(tnet_httpmsg *msg);

// Appends a header; name and value are cut to 63 / 3071 characters.
// 0; -10002 when msg or its header list is missing or name or value is null
// or empty.
int tnet_httpmsg_addHeader(tnet_httpmsg *msg, const char *name, const char *value);

// Adds "Content-Type: text/html;charset=UTF-8". 0; -10002 as addHeader.
int tnet_httpmsg_setContentType(tnet_httpmsg *msg);

// Adds "Content-Length" with n as "%d". 0; -10002 as addHeader.
int tnet_httpmsg_setContentLength(tnet_httpmsg *msg, int n);

// Appends len bytes to the body, or the whole NUL-terminated text when
// len <= 0. Returns the count appended; -10002 when msg, its body or bytes
// is missing.
int tnet_httpmsg_appendBody(tnet_httpmsg *msg, int len, const char *bytes);

// The RFC 2616 reason phrase of status (0 or less: 200's), or null.
const char *tnet_httpmsg_reasonPhrase(int status);

// Serialises the head of msg into dest (reset first): status line, one
// "name:value\r\n" line per header (no blank after the colon), "\r\n".
// The body is not written. Returns the length of dest; -10002 when dest,
// msg, its header list or its body is missing; -181005 when the status has
// no reason phrase (dest unchanged).
int createHeader(tcore_datanode *dest, tnet_httpmsg *msg);
