// The last-error value of the certificate and provider stand-ins.
//
// A failing call of plat_certstore.h or plat_crypt.h sets a per-thread
// error code before it returns; callers read it for their log lines. The
// codes keep the numbers the Windows services use, so that a log line means
// the same everywhere. Setting the value also stores it in errno, so the
// library's system-error log line shows it.
#pragma once
#include <cstdint>

namespace plat {

enum : uint32_t {
    PLAT_ERROR_SUCCESS = 0,
    PLAT_ERROR_FILE_NOT_FOUND = 2,
    PLAT_ERROR_ACCESS_DENIED = 5,
    PLAT_ERROR_INVALID_PARAMETER = 87,
    PLAT_ERROR_MORE_DATA = 234,        // output buffer too small; size reported
    PLAT_ERROR_NO_MORE_ITEMS = 259,    // end of an enumeration

    PLAT_NTE_BAD_HASH = 0x80090002,
    PLAT_NTE_BAD_LEN = 0x80090004,
    PLAT_NTE_BAD_DATA = 0x80090005,
    PLAT_NTE_BAD_ALGID = 0x80090008,
    PLAT_NTE_BAD_FLAGS = 0x80090009,
    PLAT_NTE_BAD_HASH_STATE = 0x8009000C,
    PLAT_NTE_NO_KEY = 0x8009000D,
    PLAT_NTE_EXISTS = 0x8009000F,      // key container already exists
    PLAT_NTE_NOT_FOUND = 0x80090011,
    PLAT_NTE_BAD_PUBLIC_KEY = 0x80090015,
    PLAT_NTE_BAD_KEYSET = 0x80090016,  // key container does not exist
    PLAT_NTE_PROV_TYPE_ENTRY_BAD = 0x80090018,
    PLAT_NTE_KEYSET_NOT_DEF = 0x80090019,  // provider not installed
    PLAT_NTE_PROV_TYPE_NO_MATCH = 0x8009001B,
    PLAT_NTE_FAIL = 0x80090020,

    PLAT_E_NOT_FOUND = 0x80092004,      // no such certificate, store or property
    PLAT_E_EXISTS = 0x80092005,         // certificate already in the store
    PLAT_E_NO_KEY_PROPERTY = 0x8009200B,
    PLAT_E_ASN1_BAD = 0x80093102,       // bytes that do not decode
    PLAT_E_WRITE = 0x8009200E,          // a store or container cannot be written
};

uint32_t lastError();
void setLastError(uint32_t code);

}  // namespace plat
