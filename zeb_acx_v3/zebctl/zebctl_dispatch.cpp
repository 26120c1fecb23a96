#include "zebctl/zebctl_dispatch.h"

#include "tcore/tcore_codepage.h"
#include "tcore/tcore_kvlist.h"
#include "zeb_acx_log.h"
#include "zebctl/zebctl_errors.h"
#include "zebctl/zebctl_method.h"
#include "zebctl/zebctl_hash.h"
#include "zebctl/zebctl_request.h"
#include "zebctl/zebctl_state.h"
#include "zebctl/zebctl_urlb64.h"
#include "zebctl/zebctl_verify.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Rows in match order. A later method is provided by naming its function
// in place of the null.
const TiiMethodRow g_tiiMethods[TII_METHOD_COUNT] = {
    {"Tii_Init", Tii_Init, {}, false},
    {"Tii_InitEx", Tii_InitEx, {}, false},
    {"Tii_Clean", Tii_Clean, {}, false},
    {"Tii_SelectCertByDn", nullptr, {TII_ITEM_SIGNCERT}, false},
    {"Tii_SelectCertBySn", nullptr, {TII_ITEM_SIGNCERT}, false},
    {"Tii_SelectCertByRdn", nullptr, {TII_ITEM_SIGNCERT}, false},
    {"Tii_SelectCertByCspProvider", nullptr, {TII_ITEM_SIGNCERT}, false},
    {"Tii_SetAlgType", Tii_SetAlgType, {}, false},
    {"Tii_SetSignHash", Tii_SetSignHash, {}, false},
    {"Tii_CreatHash", Tii_CreatHash, {TII_ITEM_HASHDATA}, false},
    {"Tii_CreatHashEx", Tii_CreatHashEx, {TII_ITEM_HASHDATA}, false},
    {"Tii_CreateHashData", Tii_CreateHashData, {TII_ITEM_HASHDATA}, false},
    {"Tii_CreateHashDataEx", Tii_CreateHashDataEx, {TII_ITEM_HASHDATA}, false},
    {"Tii_Sign", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_P7_Sign", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_Verify", Tii_Verify, {}, true},
    {"Tii_P7_Verify", Tii_P7_Verify, {}, true},
    {"Tii_FileSign", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_FileHashSign", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_FileHashSignEx", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_P7_FileSign", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_P7_FileHashSign", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_P7_FileHashSignEx", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_Sign_Hash", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_P7_Sign_Hash", nullptr, {TII_ITEM_SIGNDATA, TII_ITEM_SIGNCERT}, false},
    {"Tii_GetCertSubject", Tii_GetCertSubject, {TII_ITEM_CERTDN}, false},
    {"Tii_GetSerialNumber", Tii_GetSerialNumber, {TII_ITEM_CERTSN}, false},
    {"Tii_GetCertSubjectInfo", Tii_GetCertSubjectInfo, {TII_ITEM_CERTRDN}, false},
    {"Tii_P7_GetCert", Tii_P7_GetCert, {TII_ITEM_CERTDATA}, false},
    {"Tii_P7_GetOriData", Tii_P7_GetOriData, {TII_ITEM_P7ORIDATA}, false},
    {"Tii_P7_GetB64OriData", Tii_P7_GetB64OriData, {TII_ITEM_P7B64ORIDATA}, false},
    {"Tii_GetLastError", Tii_GetLastError, {TII_ITEM_ERRCODE}, false},
    {"Tii_GetCspLastError", Tii_GetCspLastError, {TII_ITEM_CSPERRCODE}, false},
    {"Tii_SetLog", Tii_SetLog, {}, false},
    {"Tii_UnSetLog", Tii_UnSetLog, {}, true},
    {"Tii_ListCSP", Tii_ListCSP, {TII_ITEM_CSPLIST}, false},
    {"Tii_GetServerValidDate", nullptr, {TII_ITEM_VALIDFROM, TII_ITEM_VALIDTO}, false},
    {"Tii_GetUUID", Tii_GetUUID, {TII_ITEM_UUID}, false},
    {"Tii_GetVersion", Tii_GetVersion, {TII_ITEM_VERSION}, false},
    {"Tii_GetFilePath", nullptr, {TII_ITEM_FILEPATH}, false},
};

namespace {

// ASCII-only, whatever the locale says.
bool equalsIgnoreCase(const char *a, const char *b) {
    for (;; a++, b++) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

struct ItemValue {
    const char *name;
    const char *value;  // null: not written
};

ItemValue itemValue(TiiItem item) {
    const TiiApiState &s = g_tiiState;
    switch (item) {
    case TII_ITEM_SIGNDATA: return {"signData", s.signData};
    case TII_ITEM_SIGNCERT: return {"signCert", s.signCert};
    case TII_ITEM_HASHDATA: return {"hashData", s.hashData};
    case TII_ITEM_CERTDN: return {"certDn", s.certDn};
    case TII_ITEM_CERTSN: return {"certSn", s.certSn};
    case TII_ITEM_CERTRDN: return {"certRdn", s.certRdn};
    case TII_ITEM_CERTDATA: return {"certData", s.certData};
    case TII_ITEM_P7ORIDATA: return {"p7oriData", s.p7oriData};
    case TII_ITEM_P7B64ORIDATA: return {"p7B64oriData", s.p7B64oriData};
    case TII_ITEM_ERRCODE: return {"errCode", s.errCode};
    case TII_ITEM_CSPERRCODE: return {"cspErrcode", s.cspErrcode};
    case TII_ITEM_CSPLIST: return {"cspList", s.cspList};
    case TII_ITEM_VALIDFROM: return {"validFrom", s.validFrom};
    case TII_ITEM_VALIDTO: return {"validTo", s.validTo};
    case TII_ITEM_UUID: return {"UUID", TII_UUID};
    case TII_ITEM_VERSION: return {"version", TII_VERSION};
    case TII_ITEM_FILEPATH: return {"filePath", s.filePath};
    case TII_ITEM_NONE: break;
    }
    return {nullptr, nullptr};
}

void appendItems(tcore_datanode *jsondata, const TiiMethodRow &row) {
    for (TiiItem item : row.items) {
        ItemValue v = itemValue(item);
        if (v.name && v.value) TiiAppendItem(jsondata, v.name, v.value);
    }
}

// Leading decimal digits as atoi reads them (blanks, one sign), but
// clamped to the int range instead of overflowing.
int leadingInt(const char *s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') s++;
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        v = v * 10 + (*s - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace

const TiiMethodRow *TiiFindMethod(const char *method) {
    if (!method) return nullptr;
    for (const TiiMethodRow &row : g_tiiMethods) {
        if (equalsIgnoreCase(row.name, method)) return &row;
    }
    return nullptr;
}

int CreateResponse(tcore_datanode *jsondata, tcore_list *fields) {
    zeb_acx_log_info("----------CreateResponse start-------------\n");
    const char *method = tcore_kvlist_get(fields, "method");
    if (!method) {
        g_tiiState.lastError = TII_ERR_NO_METHOD;
    } else {
        zeb_acx_log_info("----------CreateResponse method=%s-------------\n", method);
        const TiiMethodRow *row = TiiFindMethod(method);
        if (!row || !row->run) {
            g_tiiState.lastError = TII_ERR_NO_METHOD;
        } else {
            int rc = row->run(fields);
            if (row->always) g_tiiState.lastError = rc;
            if (rc >= 0) appendItems(jsondata, *row);
        }
    }
    zeb_acx_log_info("----------CreateResponse end-------------\n");
    return g_tiiState.lastError;
}

int Tii_Init(tcore_list *) {
    g_tiiState.lastError = 0;
    TiiMethodLogMark("Tii_Init", "start");
    TiiClearResults();
    g_tiiState.hashAlg = TII_ALG_SHA1;
    TiiMethodLogMark("Tii_Init", "end");
    return 0;
}

int Tii_Clean(tcore_list *) {
    g_tiiState.lastError = 0;
    TiiMethodLogMark("Tii_Clean", "start");
    TiiClearResults();
    TiiMethodLogMark("Tii_Clean", "end");
    return 0;
}

int Tii_SetAlgType(tcore_list *fields) {
    // Numeric codes of "algType", in code order.
    static const int algIds[] = {102 /*SHA1*/, 103 /*SHA256*/, 101 /*MD5*/,
                                 105 /*SHA384*/, 104 /*SHA512*/, 110 /*SM3*/};
    TiiMethodLogMark("Tii_SetAlgType", "start");
    int rc = 0;
    const char *algType = TiiMethodField(fields, "algType");
    if (!algType) {
        zeb_acx_log_error("Tii_SetAlgType algType is missing or empty\n");
        rc = TII_ERR_ARG;
    } else {
        zeb_acx_log_info("------------Tii_SetAlgType algType=%s-------------------\n", algType);
        int code = leadingInt(algType);
        if (code < 0 || code >= static_cast<int>(sizeof algIds / sizeof algIds[0])) {
            zeb_acx_log_error("Tii_SetAlgType unknown algType %d\n", code);
            rc = TII_ERR_ALG;
        } else {
            g_tiiState.hashAlg = algIds[code];
        }
    }
    g_tiiState.lastError = rc;
    TiiMethodLogMark("Tii_SetAlgType", "end");
    return rc;
}

int Tii_GetLastError(tcore_list *) {
    snprintf(g_tiiState.errCode, sizeof g_tiiState.errCode, "%d", g_tiiState.lastError);
    g_tiiState.lastError = 0;
    return 0;
}

int Tii_GetCspLastError(tcore_list *) {
    int err = errno;  // the thread's last system error, as the system left it
    snprintf(g_tiiState.cspErrcode, sizeof g_tiiState.cspErrcode, "%d", err);
    return 0;
}

int Tii_GetUUID(tcore_list *) {
    g_tiiState.lastError = 0;
    return 0;
}

int Tii_GetVersion(tcore_list *) {
    g_tiiState.lastError = 0;
    return 0;
}

int Tii_SetLog(tcore_list *fields) {
    g_tiiState.lastError = 0;
    char *filePath = TiiMethodField(fields, "filePath");
    const char *fileSize = TiiMethodField(fields, "fileSize");
    if (!filePath || !fileSize) {
        g_tiiState.lastError = TII_ERR_ARG;
        return TII_ERR_ARG;
    }

    char *utf8Path = TiiUrlB64Decode(filePath);  // sets the last error on failure
    if (!utf8Path) return g_tiiState.lastError;
    char *path = nullptr;
    int rc = tcore_utf8ToAnsi(utf8Path, static_cast<int>(strlen(utf8Path)), &path);
    free(utf8Path);
    if (rc < 0 || !path) {
        free(path);
        g_tiiState.lastError = TII_ERR_TEXT_CONVERT;
        return TII_ERR_TEXT_CONVERT;
    }

    int megabytes = leadingInt(fileSize);
    if (megabytes > TII_SETLOG_MAX_MB) megabytes = TII_SETLOG_MAX_MB;
    if (megabytes < -TII_SETLOG_MAX_MB) megabytes = -TII_SETLOG_MAX_MB;
    rc = zeb_acx_log_init(path, megabytes * 1024);
    free(path);
    g_tiiState.lastError = rc;
    return rc;
}

int Tii_UnSetLog(tcore_list *) {
    return zeb_acx_log_close();
}
