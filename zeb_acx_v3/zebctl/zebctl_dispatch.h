// The API dispatcher: the method table and CreateResponse.
//
// A request names its API method in the field "method"; the name is matched
// against the table below in its order, without regard to ASCII letter
// case, and the first match runs. Field names themselves are case-sensitive.
//
// An API method reads its fields from the request field list, leaves its
// results in the API state (zebctl_state.h) and returns its result (0 or
// more on success, a negative code on failure). It sets the last error
// itself, except in rows marked `always`, where the dispatcher sets the
// last error from the method's result. When the result is 0 or more, the
// dispatcher appends the row's items, taking each value from the API state;
// an item whose value is absent (a null heap text) is not written.
//
// A row without a function belongs to a method this build does not provide
// yet; it answers like an unknown method (-2036). Providing it means
// writing the function and naming it in its row.
#pragma once

struct tcore_datanode;
struct tcore_list;

typedef int (*TiiMethodFn)(tcore_list *fields);

// Result items a method may append, in the response's spelling.
enum TiiItem {
    TII_ITEM_NONE = 0,
    TII_ITEM_SIGNDATA,      // "signData"      heap text signData
    TII_ITEM_SIGNCERT,      // "signCert"
    TII_ITEM_HASHDATA,      // "hashData"
    TII_ITEM_CERTDN,        // "certDn"
    TII_ITEM_CERTSN,        // "certSn"
    TII_ITEM_CERTRDN,       // "certRdn"
    TII_ITEM_CERTDATA,      // "certData"
    TII_ITEM_P7ORIDATA,     // "p7oriData"     heap text
    TII_ITEM_P7B64ORIDATA,  // "p7B64oriData"  heap text
    TII_ITEM_ERRCODE,       // "errCode"
    TII_ITEM_CSPERRCODE,    // "cspErrcode"
    TII_ITEM_CSPLIST,       // "cspList"       heap text
    TII_ITEM_VALIDFROM,     // "validFrom"
    TII_ITEM_VALIDTO,       // "validTo"
    TII_ITEM_UUID,          // "UUID"          fixed identifier
    TII_ITEM_VERSION,       // "version"       fixed version "4.0.0"
    TII_ITEM_FILEPATH,      // "filePath"
};

struct TiiMethodRow {
    const char *name;       // as pages spell it, e.g. "Tii_GetVersion"
    TiiMethodFn run;        // null: not provided by this build (-2036)
    TiiItem items[2];       // appended in this order when run returns >= 0
    bool always;            // the last error is set from run's result
};

#define TII_METHOD_COUNT 40
extern const TiiMethodRow g_tiiMethods[TII_METHOD_COUNT];

#define TII_VERSION "4.0.0"
#define TII_UUID "35EF7549-2477-46ec-9770-A50C9D94FC8C"

// The row whose name equals `method` without regard to ASCII case (the
// first in table order), or null for a null or unknown name.
const TiiMethodRow *TiiFindMethod(const char *method);

// Runs the method named by the field "method" and appends its items to
// `jsondata`. Returns the last error after the method has run; -2036 (also
// the last error) when the field is missing or names no provided method.
int CreateResponse(tcore_datanode *jsondata, tcore_list *fields);

// The methods of the dispatcher itself and of the log switch.
int Tii_Init(tcore_list *fields);             // clear the results, digest SHA-1
int Tii_Clean(tcore_list *fields);            // clear the results
int Tii_SetAlgType(tcore_list *fields);       // "algType": 0 SHA1 1 SHA256 2 MD5 3 SHA384 4 SHA512 5 SM3
int Tii_GetLastError(tcore_list *fields);     // errCode = last error, then last error 0
int Tii_GetCspLastError(tcore_list *fields);  // cspErrcode = the thread's system error (errno)
int Tii_GetUUID(tcore_list *fields);
int Tii_GetVersion(tcore_list *fields);
int Tii_SetLog(tcore_list *fields);           // "filePath" (URL-safe base64, UTF-8), "fileSize" (MB)
int Tii_UnSetLog(tcore_list *fields);

// Largest log size Tii_SetLog accepts, in megabytes (the size in bytes must
// fit a signed 32-bit value); larger requests are capped to it.
#define TII_SETLOG_MAX_MB 2047
