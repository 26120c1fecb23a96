// Result codes shared by the general library.
//
// Every function of the general library returns a 32-bit signed int: a
// length or count (0 or more) on success, one of these negative codes (or a
// module's own, documented in its header) on failure. Codes of lower layers
// pass upward unchanged.
#pragma once

#define TCORE_ERR_ARG            (-10002)  // null, empty or out-of-range argument
#define TCORE_ERR_BUFFER_SMALL   (-10003)  // output buffer too small
#define TCORE_ERR_OFFSET         (-10004)  // offset not inside the content
#define TCORE_ERR_FILE_OPEN      (-10010)  // file cannot be opened for reading
#define TCORE_ERR_FILE_READ      (-10011)  // fewer bytes read than the file holds
#define TCORE_ERR_LIB_PATH       (-10014)  // driver library path does not exist

#define TCORE_ERR_B64_CHAR       (-110004) // invalid base64 character
#define TCORE_ERR_ANSI_TO_WIDE   (-110005)
#define TCORE_ERR_WIDE_TO_ANSI   (-110006)
#define TCORE_ERR_UTF8_TO_WIDE   (-110007)
#define TCORE_ERR_WIDE_TO_UTF8   (-110008)
#define TCORE_ERR_KV_DUPLICATE   (-110011) // field name (hash) already present
#define TCORE_ERR_REG_OPEN       (-110021) // registry key cannot be opened
#define TCORE_ERR_REG_READ       (-110027) // registry value cannot be read
