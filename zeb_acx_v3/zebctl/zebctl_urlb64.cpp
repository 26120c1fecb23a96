#include "zebctl/zebctl_urlb64.h"

#include "tcore/tcore_base64.h"
#include "tcore/tcore_mem.h"
#include "zebctl/zebctl_errors.h"
#include "zebctl/zebctl_state.h"

#include <climits>
#include <cstdlib>
#include <cstring>

static int failWith(int code) {
    g_tiiState.lastError = code;
    return code;
}

int TiiUrlToB64(char *text) {
    if (!text) return failWith(TII_ERR_ARG);
    for (char *p = text; *p; ++p) {
        if (*p == '-') *p = '+';
        else if (*p == '_') *p = '/';
        else if (*p == '~') *p = '=';
    }
    return 0;
}

int TiiB64ToUrl(char *text) {
    if (!text) return failWith(TII_ERR_ARG);
    for (char *p = text; *p; ++p) {
        if (*p == '+') *p = '-';
        else if (*p == '/') *p = '_';
        else if (*p == '=') *p = '~';
    }
    return 0;
}

char *TiiUrlB64Encode(const char *text) {
    if (!text) {
        failWith(TII_ERR_ARG);
        return nullptr;
    }
    size_t len = strlen(text);
    if (len > static_cast<size_t>(INT_MAX) / 4 * 3 - 3) {
        failWith(TII_ERR_URLB64_ENCODE);
        return nullptr;
    }
    size_t size = (len + 2) / 3 * 4 + 1;
    char *out = static_cast<char *>(tcore_zalloc(size));
    if (len > 0 &&
        tcore_base64_encode(out, text, static_cast<int>(len), static_cast<int>(size)) < 0) {
        free(out);
        failWith(TII_ERR_URLB64_ENCODE);
        return nullptr;
    }
    TiiB64ToUrl(out);
    return out;
}

char *TiiUrlB64Decode(char *text) {
    if (!text) {
        failWith(TII_ERR_ARG);
        return nullptr;
    }
    TiiUrlToB64(text);
    size_t len = strlen(text);
    if (len > INT_MAX) {
        failWith(TII_ERR_URLB64_DECODE);
        return nullptr;
    }
    size_t capacity = len / 4 * 3;
    auto *out = static_cast<unsigned char *>(tcore_zalloc(capacity + 1));
    if (len > 0 &&
        tcore_base64_decode(out, text, static_cast<int>(len), static_cast<int>(capacity)) < 0) {
        free(out);
        failWith(TII_ERR_URLB64_DECODE);
        return nullptr;
    }
    return reinterpret_cast<char *>(out);
}
