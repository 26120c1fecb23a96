#include "plat_registry.h"

#include "plat_paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::reg {

namespace {

const char kValuesFile[] = "values.reg";

// ---------------------------------------------------------------- text helpers

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool lessNoCase(const std::string &a, const std::string &b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(lower(a[i]));
        auto y = static_cast<unsigned char>(lower(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // same letters: a stable order for names differing in case only
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool startsWithNoCase(const std::string &s, const char *prefix) {
    size_t n = strlen(prefix);
    return s.size() >= n && equalNoCase(s.substr(0, n), prefix);
}

// UTF-8 -> UTF-16LE bytes. Invalid sequences become U+FFFD.
std::vector<uint8_t> utf8ToUtf16le(const std::string &s) {
    std::vector<uint8_t> out;
    auto put = [&](uint32_t u) {
        out.push_back(static_cast<uint8_t>(u & 0xff));
        out.push_back(static_cast<uint8_t>(u >> 8));
    };
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else {
            size_t need = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
            if (need && i + need <= s.size()) {
                uint32_t v = c & (0xFF >> (need + 1));
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    auto t = static_cast<unsigned char>(s[i + k]);
                    if ((t & 0xC0) != 0x80) { ok = false; break; }
                    v = (v << 6) | (t & 0x3F);
                }
                bool minimal = (need == 2) || (need == 3 && v >= 0x800) || (need == 4 && v >= 0x10000);
                if (ok && minimal && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    return out;
}

// UTF-16LE bytes -> UTF-8. Unpaired surrogates become U+FFFD; an odd last
// byte is dropped.
std::string utf16leToUtf8(const uint8_t *p, size_t n) {
    std::string out;
    auto put = [&](uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    size_t units = n / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t v = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                put(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        put((u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
    }
    return out;
}

bool isTextType(uint32_t type) { return type == String || type == ExpandString || type == MultiString; }

// ---------------------------------------------------------------- warnings

void defaultWarning(const std::string &message) {
    static std::set<std::string> seen;
    if (!seen.insert(message).second) return;
    fprintf(stderr, "registry: %s\n", message.c_str());
}

WarningHandler g_warn = nullptr;

void warn(const std::string &message) {
    if (g_warn) g_warn(message);
    else defaultWarning(message);
}

// ---------------------------------------------------------------- key paths

// Splits a key path into names. False for an invalid name.
bool splitPath(const std::string &path, std::vector<std::string> *names) {
    names->clear();
    std::string cur;
    auto flush = [&]() -> bool {
        if (cur.empty()) return true;  // leading, trailing or doubled "\"
        // "values.reg" would clash with the key's own values file.
        if (cur == "." || cur == ".." || cur.find('/') != std::string::npos || equalNoCase(cur, kValuesFile))
            return false;
        // One store for both views: SOFTWARE\Wow6432Node is SOFTWARE.
        if (names->size() == 1 && equalNoCase((*names)[0], "SOFTWARE") && equalNoCase(cur, "Wow6432Node")) {
            cur.clear();
            return true;
        }
        names->push_back(cur);
        cur.clear();
        return true;
    };
    for (char c : path) {
        if (c == '\0') return false;
        if (c == '\\') {
            if (!flush()) return false;
        } else {
            cur.push_back(c);
        }
    }
    return flush();
}

// Name of the entry of dir that matches name without regard to case
// (an exact match first); empty when there is none.
std::string findEntry(const std::string &dir, const std::string &name, bool wantDir) {
    struct stat st;
    std::string exact = dir + "/" + name;
    if (stat(exact.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) == wantDir)) return name;
    DIR *d = opendir(dir.c_str());
    if (!d) return std::string();
    std::string found;
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == ".." || !equalNoCase(n, name)) continue;
        if (stat((dir + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode) == wantDir) {
            if (found.empty() || n < found) found = n;
        }
    }
    closedir(d);
    return found;
}

// Resolves an existing key to its folder. Returns PLAT_REG_OK,
// PLAT_REG_NO_KEY or PLAT_REG_BAD_ARG.
int resolve(Root root, const std::string &path, std::string *dir) {
    std::vector<std::string> names;
    if (!splitPath(path, &names)) return PLAT_REG_BAD_ARG;
    std::string cur = rootDir(root);
    if (cur.empty()) return PLAT_REG_NO_KEY;
    for (const auto &n : names) {
        std::string entry = findEntry(cur, n, true);
        if (entry.empty()) return PLAT_REG_NO_KEY;
        cur += "/" + entry;
    }
    *dir = cur;
    return PLAT_REG_OK;
}

// Resolves a key, creating the missing parts.
int resolveOrCreate(Root root, const std::string &path, std::string *dir) {
    std::vector<std::string> names;
    if (!splitPath(path, &names)) return PLAT_REG_BAD_ARG;
    std::string cur = rootDir(root);
    if (cur.empty() || !makeDirs(cur)) return PLAT_REG_IO;
    for (const auto &n : names) {
        std::string entry = findEntry(cur, n, true);
        if (entry.empty()) {
            entry = n;
            struct stat st;
            if (mkdir((cur + "/" + entry).c_str(), 0700) != 0 &&
                !(errno == EEXIST && stat((cur + "/" + entry).c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
                return PLAT_REG_IO;
        }
        cur += "/" + entry;
    }
    *dir = cur;
    return PLAT_REG_OK;
}

// ---------------------------------------------------------------- value syntax

bool hexDigit(char c, int *v) {
    if (c >= '0' && c <= '9') *v = c - '0';
    else if (c >= 'a' && c <= 'f') *v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') *v = c - 'A' + 10;
    else return false;
    return true;
}

// Reads a quoted string with \\ and \" escapes starting at s[*pos] == '"'.
bool readQuoted(const std::string &s, size_t *pos, std::string *out) {
    if (*pos >= s.size() || s[*pos] != '"') return false;
    out->clear();
    for (size_t i = *pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out->push_back(s[++i]);
        } else if (c == '"') {
            *pos = i + 1;
            return true;
        } else {
            out->push_back(c);
        }
    }
    return false;
}

std::string quote(const std::string &s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') q.push_back('\\');
        q.push_back(c);
    }
    q.push_back('"');
    return q;
}

bool parseHexBytes(const std::string &text, std::vector<uint8_t> *out, std::string *reason) {
    out->clear();
    std::string t = trim(text);
    if (t.empty()) return true;
    size_t i = 0;
    while (i < t.size()) {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
        int hi, lo;
        if (i + 1 >= t.size() || !hexDigit(t[i], &hi) || !hexDigit(t[i + 1], &lo)) {
            *reason = "bad hex byte";
            return false;
        }
        out->push_back(static_cast<uint8_t>(hi * 16 + lo));
        i += 2;
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
        if (i == t.size()) break;
        if (t[i] != ',') {
            *reason = "bad hex byte";
            return false;
        }
        ++i;
        if (trim(t.substr(i)).empty()) break;  // a trailing comma
    }
    return true;
}

// Data for a value whose .reg form holds bytes of the given type.
void fromRegBytes(uint32_t type, std::vector<uint8_t> bytes, Value *v) {
    v->type = type;
    if (isTextType(type)) {
        std::string text = utf16leToUtf8(bytes.data(), bytes.size());
        if (type != MultiString) {
            size_t nul = text.find('\0');
            if (nul != std::string::npos) text.resize(nul);
        }
        v->data.assign(text.begin(), text.end());
    } else {
        v->data = std::move(bytes);
    }
}

std::string hexList(const std::vector<uint8_t> &bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s.push_back(',');
        s.push_back(kHex[bytes[i] >> 4]);
        s.push_back(kHex[bytes[i] & 15]);
    }
    return s;
}

// ---------------------------------------------------------------- values.reg

struct Line {
    bool parsed = false;
    Value value;
    std::string raw;  // the original text of an unparsed line (kept on rewrite)
};

// Physical lines -> logical lines: hex data continues over lines ending in "\".
struct LogicalLine {
    std::string text;
    int number;    // first physical line
    std::string raw;  // physical lines joined with "\n"
};

bool isHexContinuation(const std::string &text) {
    std::string t = trim(text);
    if (t.empty() || t.back() != '\\') return false;
    size_t eq = std::string::npos;
    size_t pos = 0;
    std::string name;
    if (t[0] == '@') eq = 1;
    else if (readQuoted(t, &pos, &name)) eq = pos;
    if (eq == std::string::npos) return false;
    while (eq < t.size() && (t[eq] == ' ' || t[eq] == '\t')) ++eq;
    if (eq >= t.size() || t[eq] != '=') return false;
    std::string data = trim(t.substr(eq + 1));
    return startsWithNoCase(data, "hex");
}

std::vector<LogicalLine> logicalLines(const std::string &content) {
    std::vector<LogicalLine> out;
    std::istringstream in(content);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        LogicalLine l{line, number, line};
        while (isHexContinuation(l.text) && std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string t = trim(l.text);
            t.pop_back();
            l.text = t + trim(line);
            l.raw += "\n" + line;
        }
        out.push_back(std::move(l));
    }
    return out;
}

bool readWhole(const std::string &path, std::string *out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::ostringstream ss;
    ss << f.rdbuf();
    *out = ss.str();
    return !f.bad();
}

// Reads a key's values.reg. A missing file is an empty key.
int loadValues(const std::string &dir, std::vector<Line> *lines) {
    lines->clear();
    std::string path = dir + "/" + kValuesFile;
    std::string content;
    if (access(path.c_str(), F_OK) != 0) return PLAT_REG_OK;
    if (!readWhole(path, &content)) return PLAT_REG_IO;
    for (auto &l : logicalLines(content)) {
        Line line;
        std::string t = trim(l.text);
        if (t.empty() || t[0] == ';') {
            line.raw = l.raw;
            lines->push_back(std::move(line));
            continue;
        }
        bool isDelete = false;
        std::string reason;
        if (parseValueLine(t, &line.value, &isDelete, &reason) && !isDelete) {
            line.parsed = true;
        } else {
            warn(path + ":" + std::to_string(l.number) + ": " + (isDelete ? "value deletion in a values file" : reason));
            line.raw = l.raw;
        }
        lines->push_back(std::move(line));
    }
    return PLAT_REG_OK;
}

// Writes the lines to a temporary file in dir that then replaces values.reg.
int storeValues(const std::string &dir, const std::vector<Line> &lines) {
    std::string out;
    for (const auto &l : lines) {
        out += l.parsed ? formatValueLine(l.value) : l.raw;
        out += "\n";
    }
    std::string tmpl = dir + "/.values.reg.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return PLAT_REG_IO;
    size_t off = 0;
    while (off < out.size()) {
        ssize_t n = write(fd, out.data() + off, out.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    bool ok = off == out.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(name.data(), (dir + "/" + kValuesFile).c_str()) != 0) {
        unlink(name.data());
        return PLAT_REG_IO;
    }
    return PLAT_REG_OK;
}

// Finds key `path` (creating it first when `create`) and reads its values.
// `dir` gets the key's folder, for storeValues. Returns the code of
// resolve/resolveOrCreate or loadValues.
int openValues(Root root, const std::string &path, bool create, std::string *dir,
               std::vector<Line> *lines) {
    int rc = create ? resolveOrCreate(root, path, dir) : resolve(root, path, dir);
    if (rc != PLAT_REG_OK) return rc;
    return loadValues(*dir, lines);
}

}  // namespace

// ---------------------------------------------------------------- Value

Value Value::text(std::string name, const std::string &s) {
    Value v;
    v.name = std::move(name);
    v.type = String;
    v.data.assign(s.begin(), s.end());
    return v;
}

Value Value::dword(std::string name, uint32_t x) {
    Value v;
    v.name = std::move(name);
    v.type = Dword;
    v.data = {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x >> 16),
              static_cast<uint8_t>(x >> 24)};
    return v;
}

Value Value::binary(std::string name, std::vector<uint8_t> bytes) {
    Value v;
    v.name = std::move(name);
    v.type = Binary;
    v.data = std::move(bytes);
    return v;
}

std::string Value::asText() const {
    std::string s(data.begin(), data.end());
    size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

uint32_t Value::asDword() const {
    if (data.size() != 4) return 0;
    return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

std::vector<uint8_t> Value::windowsData() const {
    if (!isTextType(type)) return data;
    std::vector<uint8_t> w = utf8ToUtf16le(std::string(data.begin(), data.end()));
    if (type != MultiString || w.size() < 2 || w[w.size() - 1] != 0 || w[w.size() - 2] != 0) {
        w.push_back(0);
        w.push_back(0);
    }
    return w;
}

// ---------------------------------------------------------------- syntax

bool parseValueLine(const std::string &line, Value *out, bool *isDelete, std::string *reason) {
    *isDelete = false;
    std::string t = trim(line);
    Value v;
    size_t pos = 0;
    if (!t.empty() && t[0] == '@') {
        pos = 1;
    } else if (!readQuoted(t, &pos, &v.name)) {
        *reason = "expected \"name\"= or @=";
        return false;
    } else if (v.name.empty()) {
        *reason = "empty value name (use @ for the default value)";
        return false;
    }
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
    if (pos >= t.size() || t[pos] != '=') {
        *reason = "missing \"=\" after the value name";
        return false;
    }
    std::string data = trim(t.substr(pos + 1));
    if (data == "-") {
        *out = v;
        *isDelete = true;
        return true;
    }
    if (!data.empty() && data[0] == '"') {
        size_t p = 0;
        std::string s;
        if (!readQuoted(data, &p, &s) || !trim(data.substr(p)).empty()) {
            *reason = "bad string value";
            return false;
        }
        v.type = String;
        v.data.assign(s.begin(), s.end());
    } else if (startsWithNoCase(data, "dword:")) {
        std::string h = data.substr(6);
        if (h.empty() || h.size() > 8) {
            *reason = "bad dword value";
            return false;
        }
        uint32_t x = 0;
        for (char c : h) {
            int d;
            if (!hexDigit(c, &d)) {
                *reason = "bad dword value";
                return false;
            }
            x = x * 16 + static_cast<uint32_t>(d);
        }
        v = Value::dword(v.name, x);
    } else if (startsWithNoCase(data, "hex")) {
        uint32_t type = Binary;
        size_t colon;
        if (data.size() > 3 && data[3] == '(') {
            size_t close = data.find(')');
            if (close == std::string::npos || close == 4 || close > 12) {
                *reason = "bad hex(type)";
                return false;
            }
            type = 0;
            for (size_t i = 4; i < close; ++i) {
                int d;
                if (!hexDigit(data[i], &d)) {
                    *reason = "bad hex(type)";
                    return false;
                }
                type = type * 16 + static_cast<uint32_t>(d);
            }
            colon = close + 1;
        } else {
            colon = 3;
        }
        if (colon >= data.size() || data[colon] != ':') {
            *reason = "missing \":\" after hex";
            return false;
        }
        std::vector<uint8_t> bytes;
        if (!parseHexBytes(data.substr(colon + 1), &bytes, reason)) return false;
        std::string name = v.name;
        fromRegBytes(type, std::move(bytes), &v);
        v.name = name;
    } else {
        *reason = "unknown value type";
        return false;
    }
    *out = std::move(v);
    return true;
}

std::string formatValueLine(const Value &v) {
    std::string line = v.name.empty() ? "@" : quote(v.name);
    line += "=";
    if (v.type == String) {
        std::string s = v.asText();
        bool plain = s.size() == v.data.size() &&
                     std::none_of(s.begin(), s.end(), [](char c) { return c == '\n' || c == '\r'; });
        if (plain) return line + quote(s);
    }
    if (v.type == Dword && v.data.size() == 4) {
        char buf[16];
        snprintf(buf, sizeof buf, "dword:%08x", v.asDword());
        return line + buf;
    }
    std::vector<uint8_t> bytes = v.data;
    if (isTextType(v.type)) bytes = v.windowsData();
    if (v.type == Binary) return line + "hex:" + hexList(bytes);
    char type[24];
    snprintf(type, sizeof type, "hex(%x):", v.type);
    return line + type + hexList(bytes);
}

const char *rootName(Root root) { return root == LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"; }

bool splitKeyName(const std::string &fullName, Root *root, std::string *path) {
    std::string t = trim(fullName);
    size_t slash = t.find('\\');
    std::string head = t.substr(0, slash);
    if (equalNoCase(head, "HKEY_LOCAL_MACHINE") || equalNoCase(head, "HKLM")) *root = LocalMachine;
    else if (equalNoCase(head, "HKEY_CURRENT_USER") || equalNoCase(head, "HKCU")) *root = CurrentUser;
    else return false;
    *path = slash == std::string::npos ? std::string() : t.substr(slash + 1);
    return true;
}

// ---------------------------------------------------------------- store

void setWarningHandler(WarningHandler handler) { g_warn = handler; }

std::string rootDir(Root root) {
    std::string base = root == LocalMachine ? machineDir() : userDir();
    return base.empty() ? std::string() : base + "/registry";
}

std::string keyDir(Root root, const std::string &path) {
    std::string dir;
    return resolve(root, path, &dir) == PLAT_REG_OK ? dir : std::string();
}

bool keyExists(Root root, const std::string &path) { return !keyDir(root, path).empty(); }

int createKey(Root root, const std::string &path) {
    std::string dir;
    return resolveOrCreate(root, path, &dir);
}

int deleteKey(Root root, const std::string &path) {
    std::vector<std::string> names;
    if (!splitPath(path, &names)) return PLAT_REG_BAD_ARG;
    if (names.empty()) return PLAT_REG_BAD_ARG;  // a root cannot go
    std::string dir;
    int rc = resolve(root, path, &dir);
    if (rc != PLAT_REG_OK) return rc;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return ec ? PLAT_REG_IO : PLAT_REG_OK;
}

int getValue(Root root, const std::string &path, const std::string &name, Value *out) {
    std::string dir;
    std::vector<Line> lines;
    if (int rc = openValues(root, path, false, &dir, &lines); rc != PLAT_REG_OK) return rc;
    for (auto &l : lines) {
        if (l.parsed && equalNoCase(l.value.name, name)) {
            if (out) *out = l.value;
            return PLAT_REG_OK;
        }
    }
    return PLAT_REG_NO_VALUE;
}

int setValue(Root root, const std::string &path, const Value &value) {
    std::string dir;
    std::vector<Line> lines;
    if (int rc = openValues(root, path, true, &dir, &lines); rc != PLAT_REG_OK) return rc;
    bool replaced = false;
    for (auto it = lines.begin(); it != lines.end();) {
        if (it->parsed && equalNoCase(it->value.name, value.name)) {
            if (replaced) {  // a duplicate further down would shadow nothing; drop it
                it = lines.erase(it);
                continue;
            }
            std::string keepName = it->value.name;
            it->value = value;
            it->value.name = keepName;
            replaced = true;
        }
        ++it;
    }
    if (!replaced) {
        Line l;
        l.parsed = true;
        l.value = value;
        lines.push_back(std::move(l));
    }
    return storeValues(dir, lines);
}

int deleteValue(Root root, const std::string &path, const std::string &name) {
    std::string dir;
    std::vector<Line> lines;
    if (int rc = openValues(root, path, false, &dir, &lines); rc != PLAT_REG_OK) return rc;
    size_t before = lines.size();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const Line &l) { return l.parsed && equalNoCase(l.value.name, name); }),
                lines.end());
    if (lines.size() == before) return PLAT_REG_NO_VALUE;
    return storeValues(dir, lines);
}

int listSubkeys(Root root, const std::string &path, std::vector<std::string> *out) {
    out->clear();
    std::string dir;
    int rc = resolve(root, path, &dir);
    if (rc != PLAT_REG_OK) return rc;
    DIR *d = opendir(dir.c_str());
    if (!d) return errno == ENOENT ? PLAT_REG_OK : PLAT_REG_IO;  // an untouched root is empty
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        struct stat st;
        if (stat((dir + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out->push_back(n);
    }
    closedir(d);
    std::sort(out->begin(), out->end(), lessNoCase);
    return PLAT_REG_OK;
}

int listValues(Root root, const std::string &path, std::vector<Value> *out) {
    out->clear();
    std::string dir;
    std::vector<Line> lines;
    if (int rc = openValues(root, path, false, &dir, &lines); rc != PLAT_REG_OK) return rc;
    for (auto &l : lines) {
        if (!l.parsed) continue;
        bool dup = std::any_of(out->begin(), out->end(),
                               [&](const Value &v) { return equalNoCase(v.name, l.value.name); });
        if (!dup) out->push_back(l.value);  // the first line of a name wins, as in getValue
    }
    return PLAT_REG_OK;
}

int importFile(const std::string &regFile, std::vector<std::string> *errors) {
    std::string content;
    if (!readWhole(regFile, &content)) return PLAT_REG_IO;
    auto report = [&](int line, const std::string &why) {
        if (errors) errors->push_back(regFile + ":" + std::to_string(line) + ": " + why);
    };
    if (content.size() >= 2 && static_cast<uint8_t>(content[0]) == 0xFF && static_cast<uint8_t>(content[1]) == 0xFE) {
        content = utf16leToUtf8(reinterpret_cast<const uint8_t *>(content.data()) + 2, content.size() - 2);
    } else if (content.size() >= 3 && content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        content.erase(0, 3);
    }
    std::vector<LogicalLine> lines = logicalLines(content);
    size_t i = 0;
    while (i < lines.size() && trim(lines[i].text).empty()) ++i;
    if (i == lines.size() || trim(lines[i].text) != "Windows Registry Editor Version 5.00") {
        report(i < lines.size() ? lines[i].number : 1, "missing header \"Windows Registry Editor Version 5.00\"");
        return PLAT_REG_BAD_FILE;
    }
    int changes = 0;
    bool haveKey = false;
    Root root = LocalMachine;
    std::string path;
    for (++i; i < lines.size(); ++i) {
        const LogicalLine &l = lines[i];
        std::string t = trim(l.text);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            haveKey = false;
            if (t.back() != ']') {
                report(l.number, "bad key line");
                continue;
            }
            std::string name = t.substr(1, t.size() - 2);
            bool del = !name.empty() && name[0] == '-';
            if (del) name.erase(0, 1);
            if (!splitKeyName(name, &root, &path)) {
                report(l.number, "unsupported root key: " + name);
                continue;
            }
            if (del) {
                int rc = deleteKey(root, path);
                if (rc != PLAT_REG_OK && rc != PLAT_REG_NO_KEY) report(l.number, "cannot delete key " + name);
                continue;
            }
            int rc = createKey(root, path);
            if (rc != PLAT_REG_OK) {
                report(l.number, "cannot create key " + name);
                continue;
            }
            haveKey = true;
            continue;
        }
        Value v;
        bool isDelete = false;
        std::string reason;
        if (!parseValueLine(t, &v, &isDelete, &reason)) {
            report(l.number, reason);
            continue;
        }
        if (!haveKey) {
            report(l.number, "value outside a usable key section");
            continue;
        }
        int rc = isDelete ? deleteValue(root, path, v.name) : setValue(root, path, v);
        if (rc == PLAT_REG_OK) ++changes;
        else if (!(isDelete && rc == PLAT_REG_NO_VALUE)) report(l.number, "cannot write the value");
    }
    return changes;
}

}  // namespace plat::reg
