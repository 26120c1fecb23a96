#include "tcore/tcore_base64.h"

#include "tcore/tcore_errors.h"

#include <algorithm>
#include <cstring>
#include <string>

static constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding table: 0..63 for the alphabet, 64 for "=", 255 for everything else.
namespace {
struct DecodeTable {
    unsigned char v[256];
    constexpr DecodeTable() : v() {
        for (int i = 0; i < 256; ++i) v[i] = 255;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
        v[static_cast<unsigned char>('=')] = 64;
    }
};
constexpr DecodeTable kDecode;

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

int tcore_base64_encode(char *out, const char *in, int inLen, int outSize) {
    if (!in || !out) return TCORE_ERR_ARG;
    size_t len = inLen > 0 ? static_cast<size_t>(inLen) : strlen(in);
    size_t need = (len + 2) / 3 * 4;
    if (outSize < 0 || static_cast<size_t>(outSize) < need) return TCORE_ERR_BUFFER_SMALL;

    memset(out, 0, static_cast<size_t>(outSize));
    const auto *p = reinterpret_cast<const unsigned char *>(in);
    char *o = out;
    size_t i = 0;
    for (; i + 3 <= len; i += 3) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (len - i == 1) {
        unsigned v = p[i] << 16;
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (len - i == 2) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8);
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    }
    return static_cast<int>(o - out);
}

int tcore_base64_decode(unsigned char *out, const char *in, int inLen, int outSize) {
    if (!in) return TCORE_ERR_ARG;
    size_t len = inLen > 0 ? static_cast<size_t>(inLen) : strlen(in);

    // Work on a copy without white space only when there is some.
    std::string stripped;
    const char *text = in;
    if (std::any_of(in, in + len, [](char c) { return isBlank(static_cast<unsigned char>(c)); })) {
        stripped.reserve(len);
        for (size_t i = 0; i < len; ++i)
            if (!isBlank(static_cast<unsigned char>(in[i]))) stripped.push_back(in[i]);
        text = stripped.data();
        len = stripped.size();
    }
    if (len == 0) return 0;

    size_t capacity = len / 4 * 3;
    if (capacity > 0x7fffffff) return TCORE_ERR_BUFFER_SMALL;
    if (!out) return static_cast<int>(capacity);
    if (outSize < 0 || static_cast<size_t>(outSize) < capacity) return TCORE_ERR_BUFFER_SMALL;

    while (len > 3 && text[len - 1] == '-') --len;
    if (len % 4 != 0) return TCORE_ERR_BUFFER_SMALL;

    int count = 0;
    for (size_t i = len - 4; i < len; ++i)
        if (text[i] == '=') --count;

    const auto *p = reinterpret_cast<const unsigned char *>(text);
    unsigned char *o = out;
    for (size_t i = 0; i < len; i += 4) {
        unsigned v = 0;
        for (size_t k = 0; k < 4; ++k) {
            unsigned char d = kDecode.v[p[i + k]];
            if (d == 255) return TCORE_ERR_B64_CHAR;
            v = (v << 6) | (d == 64 ? 0 : d);
        }
        *o++ = static_cast<unsigned char>(v >> 16);
        *o++ = static_cast<unsigned char>(v >> 8);
        *o++ = static_cast<unsigned char>(v);
        count += 3;
    }
    return count;
}

int tcore_bytesToHexString(int outSize, char *out, int inLen, const unsigned char *in) {
    static const char kHex[] = "0123456789ABCDEF";
    if (!in || inLen <= 0) return TCORE_ERR_ARG;
    if (inLen > 0x3ffffffe) return TCORE_ERR_ARG;
    int need = 2 * inLen;
    if (!out) return need;
    if (outSize < need + 1) return -1;
    memset(out, 0, static_cast<size_t>(outSize));
    for (int i = 0; i < inLen; ++i) {
        out[2 * i] = kHex[in[i] >> 4];
        out[2 * i + 1] = kHex[in[i] & 15];
    }
    return need;
}

int tcore_reverseBytes(int len, unsigned char *buf) {
    if (!buf || len <= 0) return TCORE_ERR_ARG;
    for (int i = 0, j = len - 1; i < j; ++i, --j) {
        unsigned char t = buf[i];
        buf[i] = buf[j];
        buf[j] = t;
    }
    return 0;
}
