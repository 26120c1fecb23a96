// DN text parsing and comparison.
#include "tcore/tcore_codepage.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "twcyt/twcyt_cert.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool isKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when `s` at `pos` holds (after blanks) an attribute key and "=".
bool keyFollows(const std::string &s, size_t pos) {
    while (pos < s.size() && isBlank(s[pos])) pos++;
    size_t keyStart = pos;
    while (pos < s.size() && isKeyChar(s[pos])) pos++;
    if (pos == keyStart) return false;
    while (pos < s.size() && isBlank(s[pos])) pos++;
    return pos < s.size() && s[pos] == '=';
}

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) b++;
    while (e > b && isBlank(s[e - 1])) e--;
    return s.substr(b, e - b);
}

// The items of a DN: cut at "," or "+" outside quotes when a key and "="
// follow. A value that starts with a double quote runs to the closing quote
// ("" inside stands for one quote).
std::vector<std::string> dnItems(const std::string &dn) {
    std::vector<std::string> items;
    size_t start = 0;
    bool seenEq = false, atValueStart = false, inQuote = false;
    for (size_t i = 0; i < dn.size(); i++) {
        char c = dn[i];
        if (inQuote) {
            if (c == '"') {
                if (i + 1 < dn.size() && dn[i + 1] == '"')
                    i++;  // doubled quote inside the value
                else
                    inQuote = false;
            }
            continue;
        }
        if (atValueStart && !isBlank(c)) {
            atValueStart = false;
            if (c == '"') {
                inQuote = true;
                continue;
            }
        }
        if (c == '=' && !seenEq) {
            seenEq = true;
            atValueStart = true;
        } else if ((c == ',' || c == '+') && keyFollows(dn, i + 1)) {
            std::string item = trim(dn.substr(start, i - start));
            if (!item.empty()) items.push_back(item);
            start = i + 1;
            seenEq = atValueStart = false;
        }
    }
    std::string last = trim(dn.substr(start));
    if (!last.empty()) items.push_back(last);
    return items;
}

std::string unquote(const std::string &v) {
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') return v;
    std::string out;
    for (size_t i = 1; i + 1 < v.size(); i++) {
        out += v[i];
        if (v[i] == '"' && i + 2 < v.size() && v[i + 1] == '"') i++;
    }
    return out;
}

int appendTo(tcore_strlist **result, const std::string &s) {
    if (!*result) *result = tcore_strlist_new();
    return tcore_strlist_append(*result, s.c_str());
}

}  // namespace

int twcyt_dn_getValues(const char *dn, const char *key, tcore_strlist **result) {
    TCORE_CHECK_STR(dn);
    TCORE_CHECK_STR(key);
    TCORE_CHECK_NULL(result);
    int found = 0;
    for (const std::string &item : dnItems(dn)) {
        size_t eq = item.find('=');
        if (eq == std::string::npos || trim(item.substr(0, eq)) != key) continue;
        appendTo(result, unquote(trim(item.substr(eq + 1))));
        found++;
    }
    return found;
}

int twcyt_dn_split(const char *dn, tcore_strlist **result) {
    TCORE_CHECK_STR(dn);
    TCORE_CHECK_NULL(result);
    int n = 0;
    for (const std::string &item : dnItems(dn)) {
        appendTo(result, item);
        n++;
    }
    return n;
}

// True when every item of `a` occurs in `b`.
static bool allIn(const std::vector<std::string> &a, const std::vector<std::string> &b) {
    for (const auto &x : a) {
        bool hit = false;
        for (const auto &y : b) hit = hit || x == y;
        if (!hit) return false;
    }
    return true;
}

int twcyt_dn_equal(const char *dn1, const char *dn2) {
    TCORE_CHECK_STR(dn1);
    TCORE_CHECK_STR(dn2);
    std::vector<std::string> a = dnItems(dn1), b = dnItems(dn2);
    if (a.size() != b.size()) return -1;
    return allIn(a, b) && allIn(b, a) ? 0 : -1;
}

int twcyt_dn_compare(const char *dn1, const char *dn2) {
    TCORE_CHECK_STR(dn1);
    TCORE_CHECK_STR(dn2);
    char *u1 = nullptr, *u2 = nullptr;
    int rc = tcore_ansiToUtf8(dn1, &u1);
    if (rc >= 0) rc = tcore_ansiToUtf8(dn2, &u2);
    if (rc >= 0) rc = twcyt_dn_equal(u1, u2);
    free(u1);
    free(u2);
    return rc;
}
