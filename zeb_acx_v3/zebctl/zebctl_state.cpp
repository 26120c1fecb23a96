#include "zebctl/zebctl_state.h"

#include "tcore/tcore_errors.h"
#include "zebctl/zebctl_errors.h"

#include <cstdlib>
#include <cstring>

// Constant-initialised: usable before any constructor of the program runs.
TiiApiState g_tiiState = {0, nullptr, TII_ALG_SHA1, nullptr, 0, {}, 0, {}, {}, {}, {}, {},
                          nullptr, nullptr, nullptr, {}, {}, {}, {}, {}};

TiiCertFreeFn g_tiiCertFree = nullptr;

int TiiStateSetText(char *field, size_t size, const char *text) {
    if (!field || !text || size == 0) return TII_ERR_ARG;
    size_t n = strlen(text);
    if (n >= size) {
        memset(field, 0, size);
        return TCORE_ERR_BUFFER_SMALL;
    }
    memset(field, 0, size);
    memcpy(field, text, n);
    return static_cast<int>(n);
}

static void freeText(char **p) {
    free(*p);
    *p = nullptr;
}

void TiiReleaseRequestResults(void) {
    freeText(&g_tiiState.signData);
    g_tiiState.signDataLen = 0;
    freeText(&g_tiiState.p7oriData);
    freeText(&g_tiiState.p7B64oriData);
    freeText(&g_tiiState.cspList);
}

void TiiClearResults(void) {
    TiiApiState &s = g_tiiState;
    if (s.selectedCert && g_tiiCertFree) g_tiiCertFree(s.selectedCert);
    s.selectedCert = nullptr;
    TiiReleaseRequestResults();
    memset(s.signCert, 0, sizeof s.signCert);
    s.signCertLen = 0;
    memset(s.certDn, 0, sizeof s.certDn);
    memset(s.certSn, 0, sizeof s.certSn);
    memset(s.certRdn, 0, sizeof s.certRdn);
    memset(s.hashData, 0, sizeof s.hashData);
    memset(s.certData, 0, sizeof s.certData);
    memset(s.validFrom, 0, sizeof s.validFrom);
    memset(s.validTo, 0, sizeof s.validTo);
}

void TiiStateReset(void) {
    TiiClearResults();
    memset(g_tiiState.filePath, 0, sizeof g_tiiState.filePath);
    memset(g_tiiState.errCode, 0, sizeof g_tiiState.errCode);
    memset(g_tiiState.cspErrcode, 0, sizeof g_tiiState.cspErrcode);
    g_tiiState.lastError = 0;
    g_tiiState.hashAlg = TII_ALG_SHA1;
}
