#include "tcore/tcore_codepage.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Decodes UTF-8 into code units; false on an invalid sequence.
bool decodeUtf8(const unsigned char *s, size_t n, std::u16string *out) {
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out->push_back(c);
            ++i;
            continue;
        }
        size_t need;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            need = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < need) return false;
        for (size_t k = 1; k < need; ++k) {
            unsigned char t = s[i + k];
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((need == 3 && cp < 0x800) || (need == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
        i += need;
    }
    return true;
}

// Encodes code units as UTF-8; false on an unpaired surrogate.
bool encodeUtf8(const char16_t *s, size_t n, std::string *out) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= n || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
        }
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

size_t wideLength(const char16_t *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

int fail(const char *call, int err, int code) {
    errno = err;
    TCORE_LOG_SYSERR(call);
    return code;
}

// 8-bit text -> new UTF-16 buffer.
int toWide(const char *text, size_t len, char16_t **result, int code) {
    std::u16string w;
    if (len == 0) return fail("MultiByteToWideChar", EINVAL, code);
    if (!decodeUtf8(reinterpret_cast<const unsigned char *>(text), len, &w) || w.size() > INT_MAX - 1)
        return fail("MultiByteToWideChar", EILSEQ, code);
    auto *buf = static_cast<char16_t *>(tcore_zcalloc(w.size() + 1, sizeof(char16_t)));
    if (!w.empty()) memcpy(buf, w.data(), w.size() * sizeof(char16_t));
    *result = buf;
    return static_cast<int>(w.size());
}

// UTF-16 -> new 8-bit buffer.
int fromWide(const char16_t *text, int count, char **result, int code) {
    size_t n = count > 0 ? static_cast<size_t>(count) : wideLength(text);
    std::string s;
    if (!encodeUtf8(text, n, &s) || s.size() > INT_MAX - 1) return fail("WideCharToMultiByte", EILSEQ, code);
    *result = tcore_memdup(s.data(), s.size());
    return static_cast<int>(s.size());
}

}  // namespace

int tcore_ansiToWide(const char *text, char16_t **result) {
    TCORE_CHECK_NULL(text);
    TCORE_CHECK_NULL(result);
    *result = nullptr;
    return toWide(text, strlen(text), result, TCORE_ERR_ANSI_TO_WIDE);
}

int tcore_wideToAnsi(const char16_t *text, int count, char **result) {
    TCORE_CHECK_NULL(text);
    TCORE_CHECK_NULL(result);
    *result = nullptr;
    return fromWide(text, count, result, TCORE_ERR_WIDE_TO_ANSI);
}

int tcore_utf8ToWide(const char *text, int len, char16_t **result) {
    TCORE_CHECK_NULL(text);
    TCORE_CHECK_NULL(result);
    *result = nullptr;
    size_t n = len > 0 ? static_cast<size_t>(len) : strlen(text);
    return toWide(text, n, result, TCORE_ERR_UTF8_TO_WIDE);
}

int tcore_wideToUtf8(const char16_t *text, int count, char **result) {
    TCORE_CHECK_NULL(text);
    TCORE_CHECK_NULL(result);
    *result = nullptr;
    return fromWide(text, count, result, TCORE_ERR_WIDE_TO_UTF8);
}

int tcore_ansiToUtf8(const char *text, char **result) {
    TCORE_CHECK_NULL(text);
    TCORE_CHECK_NULL(result);
    *result = nullptr;
    char16_t *wide = nullptr;
    int n = tcore_ansiToWide(text, &wide);
    if (n < 0) return n;
    int rc = tcore_wideToUtf8(wide, n, result);
    free(wide);
    return rc;
}

int tcore_utf8ToAnsi(const char *text, int len, char **result) {
    TCORE_CHECK_NULL(text);
    TCORE_CHECK_NULL(result);
    *result = nullptr;
    char16_t *wide = nullptr;
    int n = tcore_utf8ToWide(text, len, &wide);
    if (n < 0) return n;
    int rc = tcore_wideToAnsi(wide, n, result);
    free(wide);
    return rc;
}
