// Result codes of the request service. API methods report them in the
// response item "err"; codes of the engine and the library pass through
// unchanged.
#pragma once

#define TII_ERR_ARG               (-1001)  // required field missing or empty, or a null argument
#define TII_ERR_SELECT_CANCELLED  (-1005)  // certificate-selection dialog cancelled
#define TII_ERR_TEXT_CONVERT      (-1008)  // UTF-8 / ANSI / UTF-16 conversion failed
#define TII_ERR_URLB64_ENCODE     (-1010)  // URL-safe base64 encoding failed
#define TII_ERR_URLB64_DECODE     (-1011)  // URL-safe base64 decoding failed
#define TII_ERR_FILE_EMPTY        (-1013)  // file to be signed unreadable or empty
#define TII_ERR_NOT_POST          (-1051)  // request does not begin with "POST"
#define TII_ERR_NO_HEADER_END     (-1052)  // request has no "\r\n\r\n" after its start
#define TII_ERR_NO_CREDENTIAL     (-1054)  // embedded server credential cannot be loaded
#define TII_ERR_OID_NAME          (-1055)  // oidName not one of DN CN OU O U C
#define TII_ERR_FILE_CANCELLED    (-1056)  // open-file dialog cancelled
#define TII_ERR_KEY_ALG           (-2034)  // selected certificate has another key algorithm
#define TII_ERR_ALG               (-2035)  // unknown digest name or numeric algorithm code
#define TII_ERR_NO_METHOD         (-2036)  // no "method" field, or no method of that name
#define TII_ERR_VALIDITY          (-3013)  // server certificate validity unreadable
#define TII_ERR_ALG_KEY_MISMATCH  (-3030)  // digest does not suit the certificate's key
