// Chunked request bodies ("Transfer-Encoding: chunked"), shared by the plain
// and the TLS transport.
//
// The body starts 4 bytes after the first "\r\n\r\n" that follows the text
// "Transfer-Encoding:". Each chunk is a size line (hexadecimal digits 0-9,
// A-F, a-f, at most TII_CHUNK_SIZE_LINE_MAX characters, ended by CRLF), that
// many data bytes and a CRLF; the size line "0" ends the body. A size line
// that is empty, too long, holds any other character or names more bytes
// than a request may hold is malformed: the body never counts as complete
// and trimming stops there. Nothing is read outside the received bytes.
#pragma once

struct tcore_datanode;

#define TII_CHUNK_SIZE_LINE_MAX 31

// 1 when the chunked body held in `node` is complete (its "0" chunk has
// arrived and every chunk before it is whole); 0 otherwise, also for a null
// node, a request without "Transfer-Encoding:" or a malformed chunk.
int TiiDisposeChunkedData(tcore_datanode *node);

// Rebuilds `node` as the request head (up to and including the blank line)
// followed by the chunks' data without framing, taken as a NUL-terminated
// string (a NUL byte in the data ends it). Processing stops at the "0" chunk,
// at the end of the data or at a malformed or incomplete chunk.
// Returns 1 when the node was rebuilt (at least one chunk was read), 0 when
// nothing was changed.
int TiiTrimChunkedData(tcore_datanode *node);
