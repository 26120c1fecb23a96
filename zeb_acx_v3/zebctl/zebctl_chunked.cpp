#include "zebctl/zebctl_chunked.h"

#include "tcore/tcore_datanode.h"
#include "zebctl/zebctl_request.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

// Start of the chunked body, or npos when the request has no
// "Transfer-Encoding:" header followed by a blank line.
size_t chunkedBodyStart(std::string_view data) {
    size_t te = data.find("Transfer-Encoding:");
    if (te == std::string_view::npos) return std::string_view::npos;
    size_t blank = data.find("\r\n\r\n", te);
    if (blank == std::string_view::npos) return std::string_view::npos;
    return blank + 4;
}

enum class Chunk { Ok, Last, Incomplete, Malformed };

struct ChunkInfo {
    size_t dataStart = 0;  // first data byte
    size_t size = 0;       // data bytes
};

// Reads the size line at `pos`. The "0" line is Last; a line still missing
// its CRLF is Incomplete.
Chunk readSizeLine(std::string_view data, size_t pos, ChunkInfo *out) {
    size_t eol = data.find("\r\n", pos);
    if (eol == std::string_view::npos) {
        // A size line can never grow past its limit: no point in waiting.
        return data.size() - pos > TII_CHUNK_SIZE_LINE_MAX ? Chunk::Malformed : Chunk::Incomplete;
    }
    std::string_view line = data.substr(pos, eol - pos);
    if (line.empty() || line.size() > TII_CHUNK_SIZE_LINE_MAX) return Chunk::Malformed;
    if (line == "0") return Chunk::Last;
    size_t size = 0;
    for (char c : line) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return Chunk::Malformed;
        size = size * 16 + static_cast<size_t>(digit);
        if (size > TII_REQUEST_MAX_BYTES) return Chunk::Malformed;  // also stops overflow
    }
    out->dataStart = eol + 2;
    out->size = size;
    return Chunk::Ok;
}

std::string nodeBytes(tcore_datanode *node) {
    int len = tcore_datanode_length(node);
    std::string s(len > 0 ? static_cast<size_t>(len) : 0, '\0');
    if (len > 0) tcore_datanode_copyOut(node, s.data(), len);
    return s;
}

}  // namespace

int TiiDisposeChunkedData(tcore_datanode *node) {
    if (!node) return 0;
    std::string bytes = nodeBytes(node);
    std::string_view data(bytes);
    size_t pos = chunkedBodyStart(data);
    if (pos == std::string_view::npos || pos >= data.size()) return 0;

    while (pos < data.size()) {
        ChunkInfo c;
        switch (readSizeLine(data, pos, &c)) {
        case Chunk::Last: return 1;
        case Chunk::Incomplete:
        case Chunk::Malformed: return 0;
        case Chunk::Ok: break;
        }
        size_t end = c.dataStart + c.size;  // the chunk's closing CRLF
        if (end + 2 > data.size() || data.compare(end, 2, "\r\n") != 0) return 0;
        pos = end + 2;
    }
    return 0;
}

int TiiTrimChunkedData(tcore_datanode *node) {
    if (!node) return 0;
    std::string bytes = nodeBytes(node);
    std::string_view data(bytes);
    size_t pos = chunkedBodyStart(data);
    if (pos == std::string_view::npos || pos >= data.size()) return 0;

    std::string out(data.substr(0, pos));
    int chunks = 0;
    while (pos < data.size()) {
        ChunkInfo c;
        Chunk kind = readSizeLine(data, pos, &c);
        if (kind == Chunk::Last) {
            chunks++;
            break;
        }
        if (kind != Chunk::Ok || c.dataStart + c.size > data.size()) break;
        out.append(data.substr(c.dataStart, c.size));
        chunks++;
        pos = c.dataStart + c.size + 2;
    }
    if (chunks == 0) return 0;

    // The rebuilt request is handled as text from here on.
    size_t textLen = strnlen(out.data(), out.size());
    tcore_datanode_reset(node);
    if (textLen > 0) tcore_datanode_append(node, out.data(), static_cast<int>(textLen));
    return 1;
}
