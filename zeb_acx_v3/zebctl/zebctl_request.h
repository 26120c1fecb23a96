// Request messages: the request parser and the response item writer.
//
// A request body is a run of pairs "name=value&". Names and values are taken
// byte for byte (no percent-decoding, no "+" to blank); a value runs from
// the first "=" after its name to the next "&", so it may hold "=" but not
// "&". Text after the last "&" is ignored.
//
// A response body is "{", one item per result, the item "err", with the
// comma after the last item replaced by "}". An item is
//   "name":"value",
// with no blanks and no escaping of any character.
#pragma once

struct tcore_datanode;
struct tcore_list;

// Bounds of one request, the same for every transport: a connection whose
// request grows beyond TII_REQUEST_MAX_BYTES, that makes no progress for
// TII_REQUEST_IDLE_MS, or whose request is not whole after
// TII_REQUEST_TOTAL_MS (a client trickling bytes), is closed without an
// answer. Files travel as paths and data as base64, so any legitimate
// request fits easily.
#define TII_REQUEST_MAX_BYTES (4 * 1024 * 1024)
#define TII_REQUEST_IDLE_MS 5000
#define TII_REQUEST_TOTAL_MS 30000
// At most this many fields are taken from one request; later pairs are
// ignored. Real calls carry a handful; the bound keeps the duplicate check
// of the field list from turning a large request into minutes of work.
#define TII_REQUEST_MAX_FIELDS 256

// Parses the raw request in `recvNode` (request line, headers, blank line,
// body) into the field list `fields` (tcore_kvlist records).
// Returns 0 on success, also when no pair was found;
//   -1001 null argument;
//   -1051 the request, after leading blanks, tabs, CR and LF, does not begin
//         with "POST" (case-sensitive);
//   -1052 no "\r\n\r\n" at a position greater than 0.
// Content-Length is not consulted: the body runs to the end of the node.
// Parsing stops at the first pair lacking "=" or "&" (or with "&" first),
// or once TII_REQUEST_MAX_FIELDS fields are stored; a repeated name keeps
// its first value, an empty name is skipped.
int ParseReqContent_Ex(tcore_datanode *recvNode, tcore_list *fields);

// Appends the item "name":"value", to `jsondata`.
// Returns 0; -1001 (nothing appended) when any argument is null.
int TiiAppendItem(tcore_datanode *jsondata, const char *name, const char *value);
