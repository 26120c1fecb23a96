#include "zebctl/zebctl_verify.h"

#include "tcore/tcore_base64.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_mem.h"
#include "tcore/tcore_strlist.h"
#include "twcyt/twcyt_sign.h"
#include "zeb_acx_log.h"
#include "zeb_acx_verify.h"
#include "zebctl/zebctl_errors.h"
#include "zebctl/zebctl_method.h"
#include "zebctl/zebctl_state.h"
#include "zebctl/zebctl_urlb64.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

static_assert(TII_CERTDATA_SIZE == ZEB_ACX_CERTDATA_SIZE, "certData is the engine's certificate buffer");

namespace {

// Releases a heap buffer of the method on every path.
struct FreeOnExit {
    explicit FreeOnExit(void *p) : p_(p) {}
    ~FreeOnExit() { free(p_); }
    FreeOnExit(const FreeOnExit &) = delete;
    FreeOnExit &operator=(const FreeOnExit &) = delete;
    void *p_;
};

// Stores the URL-safe base64 of `text` in a fixed result field. Returns the
// last error (0, -1010, or -10003 when it does not fit; the field stays
// empty then).
int publishText(char *field, size_t size, const char *text) {
    char *encoded = TiiUrlB64Encode(text);  // sets -1010 itself
    if (!encoded) return g_tiiState.lastError;
    int rc = TiiStateSetText(field, size, encoded);
    free(encoded);
    return TiiMethodFail(rc < 0 ? rc : 0);
}

// Replaces a heap result with the URL-safe base64 of `text`. Returns the
// last error (0 or -1010; the previous result is gone either way).
int publishHeap(char **slot, const char *text) {
    free(*slot);
    *slot = TiiUrlB64Encode(text);  // sets -1010 itself
    return *slot ? TiiMethodFail(0) : g_tiiState.lastError;
}

// The common shape of the certificate-information methods: check the
// field, convert it, empty the result field, read the attribute into a
// buffer of `bufSize` bytes with `read` (which returns > 0 on success), and
// publish it.
int certInfo(const char *method, const char *engineCall, char *certData, size_t bufSize,
             const std::function<int(const char *, char *)> &read, char *field, size_t fieldSize) {
    memset(field, 0, fieldSize);
    if (!certData) {
        zeb_acx_log_error("%s certData is missing or empty", method);
        return TiiMethodFail(TII_ERR_ARG);
    }
    TiiUrlToB64(certData);
    std::string buf(bufSize, '\0');
    int rc = read(certData, buf.data());
    if (rc <= 0) {
        if (rc == 0) rc = TII_ERR_ARG;  // the engine never hands out an empty success
        zeb_acx_log_error("%s %s failed %d (%d)", method, engineCall, rc, rc);
        return TiiMethodFail(rc);
    }
    return publishText(field, fieldSize, buf.c_str());
}

// The content of a PKCS#7 message (up to its first NUL) into *slot as
// URL-safe base64.
int p7OriData(const char *method, tcore_list *fields, char **slot) {
    char *p7Data = TiiMethodField(fields, "p7Data");
    if (!p7Data) {
        zeb_acx_log_error("%s p7Data is missing or empty", method);
        return TiiMethodFail(TII_ERR_ARG);
    }
    TiiUrlToB64(p7Data);
    int len = zeb_acx_p7_getOriDataLen(p7Data);
    if (len <= 0) {
        // A message without content answers success without a result.
        if (len < 0 || strcmp(method, "Tii_P7_GetOriData") == 0)
            zeb_acx_log_error("%s zeb_acx_p7_getOriDataLen failed %d (%d)", method, len, len);
        free(*slot);
        *slot = nullptr;
        return TiiMethodFail(len < 0 ? len : 0);
    }
    auto *content = static_cast<unsigned char *>(tcore_zalloc(static_cast<size_t>(len) + 1));
    FreeOnExit release(content);
    int rc = zeb_acx_p7_getOriData(p7Data, content, len);
    if (rc < 0) {
        zeb_acx_log_error("%s zeb_acx_p7_getOriData failed %d (%d)", method, rc, rc);
        return TiiMethodFail(rc);
    }
    return publishHeap(slot, reinterpret_cast<const char *>(content));
}

}  // namespace

int Tii_Verify(tcore_list *fields) {
    TiiMethodLogMark("Tii_Verify", "start");
    char *oriData = TiiMethodField(fields, "oriData");
    char *certData = TiiMethodField(fields, "certData");
    char *signData = TiiMethodField(fields, "signData");
    if (!oriData || !certData || !signData) {
        zeb_acx_log_error("Tii_Verify oriData, certData or signData is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
        TiiMethodLogMark("Tii_Verify", "end");
        return g_tiiState.lastError;
    }
    char *data = TiiUrlB64Decode(oriData);  // sets -1011 itself
    FreeOnExit releaseData(data);
    if (data) {
        TiiUrlToB64(certData);
        TiiUrlToB64(signData);
        int len = static_cast<int>(strlen(signData));
        int room = len / 4 * 3;
        auto *sig = static_cast<unsigned char *>(tcore_zalloc(static_cast<size_t>(room) + 1));
        FreeOnExit releaseSig(sig);
        int nsig = tcore_base64_decode(sig, signData, len, room);
        if (nsig < 0) {
            zeb_acx_log_error("Tii_Verify signData is not base64 %d", nsig);
            TiiMethodFail(TII_ERR_URLB64_DECODE);
        } else {
            int rc = zeb_acx_verify(certData, static_cast<int>(strlen(certData)),
                                    reinterpret_cast<unsigned char *>(data), static_cast<int>(strlen(data)), sig,
                                    nsig);
            if (rc < 0) zeb_acx_log_error("dmx_vs_Verify failed %d ", rc);
            TiiMethodFail(rc < 0 ? rc : 0);
        }
    }
    TiiMethodLogMark("Tii_Verify", "end");
    return g_tiiState.lastError;
}

int Tii_P7_Verify(tcore_list *fields) {
    TiiMethodLogMark("Tii_P7_Verify", "start");
    const char *isDetached = TiiMethodField(fields, "isDetached");
    char *oriData = TiiMethodField(fields, "oriData");
    char *p7Data = TiiMethodField(fields, "p7Data");
    if (!isDetached || !oriData || !p7Data) {
        zeb_acx_log_error("Tii_P7_Verify isDetached, oriData or p7Data is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
        TiiMethodLogMark("Tii_P7_Verify", "end");
        return g_tiiState.lastError;
    }
    char *data = TiiUrlB64Decode(oriData);  // sets -1011 itself
    FreeOnExit releaseData(data);
    if (data) {
        TiiUrlToB64(p7Data);
        int np7 = static_cast<int>(strlen(p7Data));
        auto content = reinterpret_cast<const unsigned char *>(data);
        int ncontent = static_cast<int>(strlen(data));
        if (strcmp(isDetached, "1") == 0) {
            int rc = zeb_acx_p7verifyDetached(p7Data, np7, content, ncontent);
            if (rc < 0) zeb_acx_log_error("dmx_vs_pkcs7DetachVerify failed %d ", rc);
            TiiMethodFail(rc < 0 ? rc : 0);
        } else {
            int rc = zeb_acx_p7verify(p7Data, np7, content, ncontent);
            if (rc < 0) zeb_acx_log_error("dmx_vs_pkcs7Verify failed %d ", rc);
            TiiMethodFail(rc < 0 ? rc : 0);
        }
    }
    TiiMethodLogMark("Tii_P7_Verify", "end");
    return g_tiiState.lastError;
}

int Tii_GetCertSubject(tcore_list *fields) {
    TiiMethodLogMark("Tii_GetCertSubject", "start");
    certInfo("Tii_GetCertSubject", "zeb_acx_cert_getSubjectDn", TiiMethodField(fields, "certData"),
             ZEB_ACX_DN_OUT_SIZE, zeb_acx_cert_getSubjectDn, g_tiiState.certDn, sizeof g_tiiState.certDn);
    TiiMethodLogMark("Tii_GetCertSubject", "end");
    return g_tiiState.lastError;
}

int Tii_GetSerialNumber(tcore_list *fields) {
    TiiMethodLogMark("Tii_GetSerialNumber", "start");
    certInfo("Tii_GetSerialNumber", "zeb_acx_cert_getHexSn", TiiMethodField(fields, "certData"),
             ZEB_ACX_SN_OUT_SIZE, zeb_acx_cert_getHexSn, g_tiiState.certSn, sizeof g_tiiState.certSn);
    TiiMethodLogMark("Tii_GetSerialNumber", "end");
    return g_tiiState.lastError;
}

int Tii_GetCertSubjectInfo(tcore_list *fields) {
    TiiMethodLogMark("Tii_GetCertSubjectInfo", "start");
    const char *rdnName = TiiMethodField(fields, "rdnName");
    char *certData = TiiMethodField(fields, "certData");
    if (!rdnName) {
        memset(g_tiiState.certRdn, 0, sizeof g_tiiState.certRdn);
        zeb_acx_log_error("Tii_GetCertSubjectInfo rdnName is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        auto read = [rdnName](const char *cert, char *out) { return zeb_acx_cert_getSubjectRdn(cert, rdnName, out); };
        certInfo("Tii_GetCertSubjectInfo", "zeb_acx_cert_getSubjectRdn", certData, ZEB_ACX_RDN_OUT_SIZE, read,
                 g_tiiState.certRdn, sizeof g_tiiState.certRdn);
    }
    TiiMethodLogMark("Tii_GetCertSubjectInfo", "end");
    return g_tiiState.lastError;
}

int Tii_P7_GetCert(tcore_list *fields) {
    TiiMethodLogMark("Tii_P7_GetCert", "start");
    memset(g_tiiState.certData, 0, sizeof g_tiiState.certData);
    char *p7Data = TiiMethodField(fields, "p7Data");
    if (!p7Data) {
        zeb_acx_log_error("Tii_P7_GetCert p7Data is missing or empty");
        TiiMethodFail(TII_ERR_ARG);
    } else {
        TiiUrlToB64(p7Data);
        int rc = zeb_acx_p7_getCertData(p7Data, g_tiiState.certData);
        if (rc < 0) {
            zeb_acx_log_error("Tii_P7_GetCert zeb_acx_p7_getCertData failed %d (%d)", rc, rc);
            TiiMethodFail(rc);
        } else {
            TiiB64ToUrl(g_tiiState.certData);
            TiiMethodFail(0);
        }
    }
    TiiMethodLogMark("Tii_P7_GetCert", "end");
    return g_tiiState.lastError;
}

int Tii_P7_GetOriData(tcore_list *fields) {
    TiiMethodLogMark("Tii_P7_GetOriData", "start");
    p7OriData("Tii_P7_GetOriData", fields, &g_tiiState.p7oriData);
    TiiMethodLogMark("Tii_P7_GetOriData", "end");
    return g_tiiState.lastError;
}

int Tii_P7_GetB64OriData(tcore_list *fields) {
    TiiMethodLogMark("Tii_P7_GetB64OriData", "start");
    p7OriData("Tii_P7_GetB64OriData", fields, &g_tiiState.p7B64oriData);
    TiiMethodLogMark("Tii_P7_GetB64OriData", "end");
    return g_tiiState.lastError;
}

int Tii_ListCSP(tcore_list *) {
    free(g_tiiState.cspList);
    g_tiiState.cspList = nullptr;
    TiiMethodLogMark("Tii_ListCSP", "start");
    tcore_strlist *providers = nullptr;
    int count = twcyt_csp_enumProviders(&providers);
    if (count < 0) {
        zeb_acx_log_error("Tii_ListCSP twcyt_csp_enumProviders failed %d", count);
        TiiMethodFail(count);
    } else {
        // Every name, however many there are: the text grows as needed.
        std::string text;
        for (int i = 0; i < tcore_strlist_count(providers); i++) {
            text += tcore_strlist_get(providers, i);
            text += '$';
        }
        publishHeap(&g_tiiState.cspList, text.c_str());
    }
    tcore_strlist_free(providers);
    TiiMethodLogMark("Tii_ListCSP", "end");
    return g_tiiState.lastError;
}
