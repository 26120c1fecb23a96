#include "tcore/tcore_wreg.h"

#include "tcore/tcore_codepage.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"

#include "plat_registry.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool toRoot(int root, plat::reg::Root *out) {
    if (root == TCORE_HKEY_LOCAL_MACHINE) *out = plat::reg::LocalMachine;
    else if (root == TCORE_HKEY_CURRENT_USER) *out = plat::reg::CurrentUser;
    else return false;
    return true;
}

// UTF-16 name (null or empty: "") as UTF-8; false when not valid text.
bool wideName(const char16_t *w, std::string *out) {
    out->clear();
    if (!w || !*w) return true;
    char *s = nullptr;
    if (tcore_wideToUtf8(w, 0, &s) < 0) return false;
    *out = s;
    free(s);
    return true;
}

}  // namespace

int tcore_wreg_queryValue(unsigned char *out, const char16_t *subKey, int capacity, int root,
                          const char16_t *valueName) {
    plat::reg::Root r;
    std::string path, name;
    if (!toRoot(root, &r) || !wideName(subKey, &path)) return TCORE_ERR_REG_OPEN;
    if (!plat::reg::keyExists(r, path)) return TCORE_ERR_REG_OPEN;
    plat::reg::Value v;
    int rc = wideName(valueName, &name) ? plat::reg::getValue(r, path, name, &v) : plat::reg::PLAT_REG_NO_VALUE;
    if (rc == plat::reg::PLAT_REG_NO_KEY || rc == plat::reg::PLAT_REG_BAD_ARG) return TCORE_ERR_REG_OPEN;
    if (rc != plat::reg::PLAT_REG_OK) {
        errno = rc == plat::reg::PLAT_REG_NO_VALUE ? ENOENT : EIO;
        TCORE_LOG_SYSERR("RegQueryValueEx");
        return TCORE_ERR_REG_READ;
    }
    std::vector<uint8_t> data = v.windowsData();
    if (data.size() > INT_MAX) return TCORE_ERR_BUFFER_SMALL;
    int size = static_cast<int>(data.size());
    if (!out) return size;
    if (size > capacity) return TCORE_ERR_BUFFER_SMALL;
    if (size) memcpy(out, data.data(), data.size());
    return size;
}

int tcore_wreg_getValue(const char *valueName, const char *subKey, int root, char *out) {
    char16_t *wSub = nullptr;
    char16_t *wName = nullptr;
    int rc = 0;
    if (subKey && *subKey) rc = tcore_ansiToWide(subKey, &wSub);
    if (rc >= 0 && valueName && *valueName) rc = tcore_ansiToWide(valueName, &wName);
    if (rc < 0) {
        free(wSub);
        return rc;
    }

    int size = tcore_wreg_queryValue(nullptr, wSub, 0, root, wName);
    char *text = nullptr;
    if (size >= 0) {
        // Room for the data plus a whole zero unit, whatever the size's parity.
        auto *buf = static_cast<unsigned char *>(tcore_zalloc(static_cast<size_t>(size) + 4));
        rc = tcore_wreg_queryValue(buf, wSub, size, root, wName);
        if (rc >= 0) rc = tcore_wideToAnsi(reinterpret_cast<const char16_t *>(buf), 0, &text);
        free(buf);
    } else {
        rc = size;
    }
    free(wSub);
    free(wName);
    if (rc < 0) return rc;

    int len = rc;
    if (out && len <= 255) {
        memset(out, 0, 255);
        memcpy(out, text, static_cast<size_t>(len) + 1);
    }
    free(text);
    if (!out) return len + 1;
    return len > 255 ? TCORE_ERR_BUFFER_SMALL : len;
}

int tcore_wreg_getKeys(const char *subKey, tcore_list **result) {
    if (!result) return TCORE_ERR_ARG;
    std::string path = subKey ? subKey : "";
    std::vector<std::string> names;
    if (plat::reg::listSubkeys(plat::reg::LocalMachine, path, &names) != plat::reg::PLAT_REG_OK)
        return TCORE_ERR_REG_OPEN;
    int count = 0;
    for (const auto &n : names) {
        char16_t *wide = nullptr;
        char *ansi = nullptr;
        int units = n.empty() ? -1 : tcore_utf8ToWide(n.c_str(), 0, &wide);
        if (units > 0 && units <= 255 && tcore_wideToAnsi(wide, units, &ansi) >= 0) {
            if (!*result) *result = tcore_list_new(free);
            if (tcore_list_append(*result, ansi) == 0) {
                ansi = nullptr;
                ++count;
            }
        }
        free(ansi);
        free(wide);
    }
    return count;
}
