#include "zebctl/zebctl_hash.h"

#include "tcore/tcore_codepage.h"
#include "tcore/tcore_kvlist.h"
#include "zeb_acx_hash.h"
#include "zeb_acx_log.h"
#include "zebctl/zebctl_errors.h"
#include "zebctl/zebctl_method.h"
#include "zebctl/zebctl_state.h"
#include "zebctl/zebctl_urlb64.h"

#include <cstdlib>
#include <cstring>

static_assert(TII_HASHDATA_SIZE == ZEB_ACX_HASH_OUT_SIZE, "hashData is the engine's digest buffer");

namespace {

void logEndErr(const char *method) {
    zeb_acx_log_info("------------%s end err=%d-------------------\n", method, g_tiiState.lastError);
}

// Decodes a URL-safe base64 file path. With `convert` the decoded bytes are
// UTF-8 and become the system's code page. Returns a new string (caller
// frees) or null with the last error set.
char *decodePath(char *field, bool convert) {
    char *decoded = TiiUrlB64Decode(field);  // sets -1011 itself
    if (!decoded || !convert) return decoded;
    char *path = nullptr;
    int rc = tcore_utf8ToAnsi(decoded, static_cast<int>(strlen(decoded)), &path);
    free(decoded);
    if (rc < 0 || !path) {
        free(path);
        TiiMethodFail(TII_ERR_TEXT_CONVERT);
        return nullptr;
    }
    return path;
}

// Hashes a file into hashData. Returns the last error.
int hashFile(char *filePathField, bool convert, int kid) {
    char *path = decodePath(filePathField, convert);
    if (!path) return g_tiiState.lastError;
    memset(g_tiiState.hashData, 0, sizeof g_tiiState.hashData);
    int rc = zeb_acx_hash_file(path, reinterpret_cast<unsigned char *>(g_tiiState.hashData), kid, 1);
    free(path);
    if (rc < 0) {
        memset(g_tiiState.hashData, 0, sizeof g_tiiState.hashData);
        zeb_acx_log_error("Tii_CreatHash zeb_acx_hash_file failed %d (%d)", rc, rc);
        return TiiMethodFail(rc);
    }
    TiiB64ToUrl(g_tiiState.hashData);
    return TiiMethodFail(0);
}

// Hashes decoded data (up to its first NUL) into hashData. Returns the last
// error.
int hashData(char *oriDataField, int kid) {
    char *data = TiiUrlB64Decode(oriDataField);  // sets -1011 itself
    if (!data) return g_tiiState.lastError;
    memset(g_tiiState.hashData, 0, sizeof g_tiiState.hashData);
    int rc = zeb_acx_hash(reinterpret_cast<unsigned char *>(data), static_cast<int>(strlen(data)), kid,
                          g_tiiState.hashData);
    free(data);
    if (rc < 0) {
        memset(g_tiiState.hashData, 0, sizeof g_tiiState.hashData);
        zeb_acx_log_error("Tii_CreateHashData zeb_acx_hash failed %d (%d)", rc, rc);
        return TiiMethodFail(rc);
    }
    TiiB64ToUrl(g_tiiState.hashData);
    return TiiMethodFail(0);
}

}  // namespace

int TiiDigestIdOfCode(const char *code) {
    // Ids of the codes 0 to 5, in code order.
    static const int ids[] = {102 /*SHA1*/, 103 /*SHA256*/, 101 /*MD5*/,
                              105 /*SHA384*/, 104 /*SHA512*/, 110 /*SM3*/};
    if (!code) return TII_ERR_ARG;
    const char *s = code;
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') s++;
    long long v = 0;
    for (; *s >= '0' && *s <= '9' && v <= 1000; s++) v = v * 10 + (*s - '0');  // past 5 the size does not matter
    if (negative && v != 0) return TII_ERR_ALG;
    if (v >= static_cast<long long>(sizeof ids / sizeof ids[0])) return TII_ERR_ALG;
    return ids[v];
}

int Tii_CreatHash(tcore_list *fields) {
    TiiMethodLogMark("Tii_CreatHash", "start");
    char *filePath = TiiMethodField(fields, "filePath");
    if (!filePath) {
        zeb_acx_log_error("Tii_CreatHash filePath is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        hashFile(filePath, false, g_tiiState.hashAlg);
    }
    zeb_acx_log_info("------------Tii_CreatHash end  err=%d-------------------\n", g_tiiState.lastError);
    return g_tiiState.lastError;
}

int Tii_CreatHashEx(tcore_list *fields) {
    TiiMethodLogMark("Tii_CreatHashEx", "start");
    char *filePath = TiiMethodField(fields, "filePath");
    const char *algType = TiiMethodField(fields, "algType");
    if (!filePath || !algType) {
        zeb_acx_log_error("Tii_CreatHashEx filePath or algType is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        int kid = zeb_acx_setSignHashAlg(algType);
        hashFile(filePath, true, kid > 0 ? kid : g_tiiState.hashAlg);
    }
    logEndErr("Tii_CreatHashEx");
    return g_tiiState.lastError;
}

int Tii_CreateHashData(tcore_list *fields) {
    TiiMethodLogMark("Tii_CreateHashData", "start");
    char *oriData = TiiMethodField(fields, "oriData");
    if (!oriData) {
        zeb_acx_log_error("Tii_CreateHashData oriData is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        hashData(oriData, g_tiiState.hashAlg);
    }
    logEndErr("Tii_CreateHashData");
    return g_tiiState.lastError;
}

int Tii_CreateHashDataEx(tcore_list *fields) {
    TiiMethodLogMark("Tii_CreateHashDataEx", "start");
    char *oriData = TiiMethodField(fields, "oriData");
    const char *algType = TiiMethodField(fields, "algType");
    if (!oriData || !algType) {
        zeb_acx_log_error("Tii_CreateHashDataEx oriData or algType is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        int kid = TiiDigestIdOfCode(algType);
        if (kid < 0) {
            zeb_acx_log_error("Tii_CreateHashDataEx unknown algType %s", algType);
            TiiMethodFail(kid);
        } else {
            hashData(oriData, kid);
        }
    }
    logEndErr("Tii_CreateHashDataEx");
    return g_tiiState.lastError;
}

int Tii_InitEx(tcore_list *fields) {
    g_tiiState.lastError = 0;
    TiiMethodLogMark("Tii_InitEX", "start");
    TiiClearResults();
    const char *algType = TiiMethodField(fields, "algType");
    int kid = zeb_acx_setSignHashAlg(algType ? algType : "SHA1");
    if (kid > 0) g_tiiState.hashAlg = kid;  // an unknown name keeps the digest as it was
    TiiMethodLogMark("Tii_InitEX", "end");
    return g_tiiState.lastError;
}

int Tii_SetSignHash(tcore_list *fields) {
    TiiMethodLogMark("Tii_SetSignHash", "start");
    const char *algType = TiiMethodField(fields, "algType");
    if (!algType) {
        zeb_acx_log_error("Tii_SetSignHash algType is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        zeb_acx_log_info("------------Tii_SetSignHash algType=%s-------------------\n", algType);
        int kid = zeb_acx_setSignHashAlg(algType);
        if (kid > 0) {
            g_tiiState.hashAlg = kid;
            TiiMethodFail(0);
        } else {
            zeb_acx_log_error("Tii_SetSignHash zeb_acx_setSignHashAlg failed %d", kid);
            TiiMethodFail(kid);
        }
    }
    TiiMethodLogMark("Tii_SetSignHash", "end");
    return g_tiiState.lastError;
}
