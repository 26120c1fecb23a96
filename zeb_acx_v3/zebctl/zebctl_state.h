// The API state: what API methods keep between requests. One instance for
// the process, used by the server thread alone (no lock; the desktop shell
// touches it only on its exit path).
//
// Fixed result fields hold NUL-terminated text of at most size - 1
// characters; results that do not fit are refused by TiiStateSetText, never
// written past the field. Heap texts (signData, p7oriData, p7B64oriData,
// cspList) are owned by the state, freed after every connection
// (TiiReleaseRequestResults) and by the clearing of the results.
#pragma once
#include <cstddef>

struct certinfo;  // certificate record of the signing engine

#define TII_ALG_SHA1 102  // default digest algorithm

#define TII_SIGNCERT_SIZE 4096
#define TII_HASHDATA_SIZE 1024
#define TII_CERTDN_SIZE 1024
#define TII_CERTRDN_SIZE 1024
#define TII_CERTSN_SIZE 256
#define TII_CERTDATA_SIZE 4096
#define TII_VALIDDATE_SIZE 512
#define TII_FILEPATH_SIZE 512
#define TII_NUMBER_SIZE 16  // a signed 32-bit decimal and its NUL

struct TiiApiState {
    int lastError;              // result of the latest API work; 0 = success
    certinfo *selectedCert;     // certificate the next signing call uses, or null
    int hashAlg;                // engine digest id: 101 MD5, 102 SHA-1, 103 SHA-256, 104 SHA-512, 105 SHA-384, 110 SM3

    char *signData;             // heap text or null
    int signDataLen;
    char signCert[TII_SIGNCERT_SIZE];  // URL-safe base64 of the latest certificate
    int signCertLen;
    char hashData[TII_HASHDATA_SIZE];
    char certDn[TII_CERTDN_SIZE];
    char certSn[TII_CERTSN_SIZE];
    char certRdn[TII_CERTRDN_SIZE];
    char certData[TII_CERTDATA_SIZE];
    char *p7oriData;            // heap text or null
    char *p7B64oriData;         // heap text or null
    char *cspList;              // heap text or null
    char validFrom[TII_VALIDDATE_SIZE];
    char validTo[TII_VALIDDATE_SIZE];
    char filePath[TII_FILEPATH_SIZE];

    // Values of the items errCode and cspErrcode of the call being answered.
    char errCode[TII_NUMBER_SIZE];
    char cspErrcode[TII_NUMBER_SIZE];
};

extern TiiApiState g_tiiState;

// Releases a selected certificate record. Set by the certificate selection
// code when it exists; while it is null nothing can be selected.
typedef void (*TiiCertFreeFn)(certinfo *cert);
extern TiiCertFreeFn g_tiiCertFree;

// Copies `text` into a fixed result field of `size` bytes.
// Returns the text's length; -10003 (field emptied) when the text needs
// more than size - 1 characters; -1001 for a null field or text.
int TiiStateSetText(char *field, size_t size, const char *text);

// Frees the selected certificate and every result (heap texts freed, fixed
// fields zeroed) except filePath. The digest algorithm and the last error
// stay as they are.
void TiiClearResults(void);

// Frees the heap texts signData (length 0), p7oriData, p7B64oriData and
// cspList. Run after every connection.
void TiiReleaseRequestResults(void);

// Back to the initial state: everything cleared (filePath included), last
// error 0, digest algorithm SHA-1. For process start-up and exit.
void TiiStateReset(void);
