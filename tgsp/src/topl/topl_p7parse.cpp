// PKCS#7 SignedData parser and the extractors of content and signer
// certificate. Index reads straight on the caller's octets; every child is
// checked to lie inside the bytes it was read from.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tasn1/tasn1.h"
#include "tcore/tcore_base64.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"
#include "topl/topl_p7internal.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_x509.h"

namespace {

struct X509Free {
    void operator()(X509 *p) const { X509_free(p); }
};
struct IntFree {
    void operator()(ASN1_INTEGER *p) const { ASN1_INTEGER_free(p); }
};
struct ObjFree {
    void operator()(ASN1_OBJECT *p) const { ASN1_OBJECT_free(p); }
};

// Child `index` of the constructed TLV (p, n), complete or contents only.
// Fails with -151101 for a failing read or a child that does not lie inside
// (p, n).
int child(const unsigned char *p, int n, int index, bool complete, tasn1_item *out) {
    int rc = complete ? tasn1_sequence_decode_getTLV(p, n, index, out)
                      : tasn1_sequence_decode_getValue(p, n, index, out);
    if (rc < 0) return TOPL_ERR_P7_MALFORMED;
    if (out->length < 0) return TOPL_ERR_P7_MALFORMED;
    if (out->length > 0) {
        if (!out->bytes || out->bytes < p || out->bytes > p + n ||
            out->length > (p + n) - out->bytes)
            return TOPL_ERR_P7_MALFORMED;
    }
    return 0;
}

int childCount(const unsigned char *p, int n) {
    int c = tasn1_sequence_decode_getSize(p, n);
    return c < 0 ? TOPL_ERR_P7_MALFORMED : c;
}

// The OID of an AlgorithmIdentifier TLV as dotted text.
int algOidText(const tasn1_item &alg, char *text, int room) {
    tasn1_item oid;
    if (child(alg.bytes, alg.length, 0, true, &oid) < 0) return TOPL_ERR_P7_MALFORMED;
    const unsigned char *q = oid.bytes;
    std::unique_ptr<ASN1_OBJECT, ObjFree> obj(d2i_ASN1_OBJECT(nullptr, &q, oid.length));
    if (!obj) return TOPL_ERR_P7_MALFORMED;
    int n = OBJ_obj2txt(text, room, obj.get(), 1);
    if (n <= 0 || n >= room) return TOPL_ERR_P7_MALFORMED;
    return 0;
}

// Content: contentInfo = SignedData child 2; its [0] holds one TLV (the
// OCTET STRING, tag not checked) whose contents are the content.
void readContent(const tasn1_item &sd, topl_p7_info *info) {
    tasn1_item ci, wrapped, octets;
    if (child(sd.bytes, sd.length, 2, true, &ci) < 0) return;
    if (child(ci.bytes, ci.length, 1, false, &wrapped) < 0 || wrapped.length <= 0) return;
    if (tasn1_decode_tlv(wrapped.bytes, wrapped.length, &octets) < 0) return;
    if (!octets.bytes || octets.length <= 0) return;
    if (octets.bytes < wrapped.bytes || octets.length > wrapped.bytes + wrapped.length - octets.bytes)
        return;
    info->content = octets.bytes;
    info->ncontent = octets.length;
}

int readSignerInfo(const tasn1_item &si, topl_p7_info *info, ASN1_INTEGER **serial) {
    int k = childCount(si.bytes, si.length);
    if (k < 5) return TOPL_ERR_P7_MALFORMED;

    // Signature: the last child, or the one before unsigned attributes [1].
    tasn1_item last;
    if (child(si.bytes, si.length, k - 1, true, &last) < 0) return TOPL_ERR_P7_MALFORMED;
    int sigIndex = (last.tag == 0xA1) ? k - 2 : k - 1;
    tasn1_item sig;
    if (child(si.bytes, si.length, sigIndex, false, &sig) < 0) return TOPL_ERR_P7_MALFORMED;
    info->sign = sig.length > 0 ? sig.bytes : nullptr;
    info->nsign = sig.length;

    // Digest id: RSA signature OIDs first, then the general table.
    char text[256];
    tasn1_item alg;
    if (child(si.bytes, si.length, 2, true, &alg) < 0) return TOPL_ERR_P7_MALFORMED;
    if (algOidText(alg, text, sizeof text) < 0) return TOPL_ERR_P7_MALFORMED;
    int kid = topl_alg_sigOid2kid(text);
    if (kid < 0) kid = topl_alg_oid2kid(text);
    if (kid < 0) return TOPL_ERR_ALG;
    info->digestKid = kid;

    // Signed attributes [0] at child 3 shift the signature algorithm to 4.
    tasn1_item third;
    if (child(si.bytes, si.length, 3, true, &third) < 0) return TOPL_ERR_P7_MALFORMED;
    int signAlgIndex = 3;
    if (third.tag == 0xA0) {
        signAlgIndex = 4;
        if (k >= 6) {
            tasn1_item inner;
            if (child(si.bytes, si.length, 3, false, &inner) == 0) {
                if (inner.length <= 0) return TOPL_ERR_P7_ATTRS_EMPTY;
                info->signedAttrs = third.bytes;
                info->nsignedAttrs = third.length;
            }
        }
    }
    if (child(si.bytes, si.length, signAlgIndex, true, &alg) < 0) return TOPL_ERR_P7_MALFORMED;
    if (algOidText(alg, text, sizeof text) < 0) return TOPL_ERR_P7_MALFORMED;
    kid = topl_alg_oid2kid(text);
    if (kid < 0) return TOPL_ERR_ALG;
    info->signKid = kid;

    // Serial of the signer, for finding its certificate.
    tasn1_item ias, sn;
    if (child(si.bytes, si.length, 1, true, &ias) < 0) return TOPL_ERR_P7_MALFORMED;
    if (child(ias.bytes, ias.length, 1, true, &sn) < 0) return TOPL_ERR_P7_MALFORMED;
    const unsigned char *q = sn.bytes;
    *serial = d2i_ASN1_INTEGER(nullptr, &q, sn.length);
    if (!*serial) return TOPL_ERR_P7_MALFORMED;
    return 0;
}

// Certificates [0]: at most 256 examined; the one with the signer's serial
// (the last such) is the signer certificate, the others are listed.
int readCertificates(const tasn1_item &sd, const ASN1_INTEGER *serial, topl_p7_info *info) {
    tasn1_item certs;
    if (child(sd.bytes, sd.length, 3, true, &certs) < 0 || certs.tag != 0xA0) return 0;
    int count = childCount(certs.bytes, certs.length);
    if (count < 0) return count;
    if (count > TOPL_P7_MAX_CERTS) count = TOPL_P7_MAX_CERTS;
    for (int i = 0; i < count; i++) {
        tasn1_item c;
        if (child(certs.bytes, certs.length, i, true, &c) < 0) return TOPL_ERR_P7_MALFORMED;
        const unsigned char *q = c.bytes;
        std::unique_ptr<X509, X509Free> x(d2i_X509(nullptr, &q, c.length));
        if (!x) return TOPL_ERR_P7_MALFORMED;
        if (ASN1_INTEGER_cmp(X509_get0_serialNumber(x.get()), serial) == 0) {
            info->signCert = c.bytes;
            info->nsignCert = c.length;
        } else {
            info->certs[info->ncerts] = c.bytes;
            info->ncertsLen[info->ncerts] = c.length;
            info->ncerts++;
        }
    }
    return 0;
}

}  // namespace

int topl_p7_parse(const unsigned char *der, int len, topl_p7_info *info) {
    TCORE_CHECK_NULL(info);
    memset(info, 0, sizeof *info);
    TCORE_CHECK_NULL(der);
    TCORE_CHECK_POSITIVE(len);
    if (der[0] == 'M') return TCORE_ERR_OFFSET;

    if (childCount(der, len) != 2) return TOPL_ERR_P7_MALFORMED;
    tasn1_item sd;
    if (child(der, len, 1, false, &sd) < 0 || sd.length <= 0) return TOPL_ERR_P7_MALFORMED;

    readContent(sd, info);

    int n = childCount(sd.bytes, sd.length);
    if (n < 4) return TOPL_ERR_P7_MALFORMED;
    tasn1_item sis, si;
    if (child(sd.bytes, sd.length, n - 1, true, &sis) < 0) return TOPL_ERR_P7_MALFORMED;
    if (child(sis.bytes, sis.length, 0, true, &si) < 0) return TOPL_ERR_P7_MALFORMED;

    ASN1_INTEGER *serialRaw = nullptr;
    int rc = readSignerInfo(si, info, &serialRaw);
    std::unique_ptr<ASN1_INTEGER, IntFree> serial(serialRaw);
    if (rc < 0) return rc;
    return readCertificates(sd, serial.get(), info);
}

// Decodes base64 text (first character "M") into *owned; otherwise uses the
// octets as they are. Returns the DER length or the decoder's code.
int topl_p7_toDer(const unsigned char *p7, int len, std::vector<unsigned char> *owned,
                  const unsigned char **der) {
    if (p7[0] != 'M') {
        *der = p7;
        return len;
    }
    int room = len / 4 * 3;
    if (room <= 0) return TCORE_ERR_BUFFER_SMALL;
    owned->assign(room, 0);
    int n = tcore_base64_decode(owned->data(), reinterpret_cast<const char *>(p7), len, room);
    if (n < 0) return n;
    if (n == 0) return TCORE_ERR_ARG;
    owned->resize(n);
    *der = owned->data();
    return n;
}

namespace {

// Parses a DER or base64 message into info; the decoded octets stay in owned.
int parseAny(const unsigned char *p7, int len, std::vector<unsigned char> *owned, topl_p7_info *info) {
    const unsigned char *der = nullptr;
    int n = topl_p7_toDer(p7, len, owned, &der);
    if (n < 0) return n;
    return topl_p7_parse(der, n, info);
}

}  // namespace

int topl_p7sign_parseData(const unsigned char *p7, int len, unsigned char *out, int room) {
    TCORE_CHECK_NULL(p7);
    TCORE_CHECK_POSITIVE(len);
    std::vector<unsigned char> owned;
    auto info = std::make_unique<topl_p7_info>();
    int rc = parseAny(p7, len, &owned, info.get());
    if (rc < 0) return rc;
    if (!out || room <= 0) return info->ncontent;
    memset(out, 0, room);
    if (info->ncontent > room) return TCORE_ERR_BUFFER_SMALL;
    if (info->ncontent > 0) memcpy(out, info->content, info->ncontent);
    return info->ncontent;
}

int topl_p7sign_parseSignCert(const unsigned char *p7, int len, char *out, int room) {
    TCORE_CHECK_NULL(p7);
    TCORE_CHECK_POSITIVE(len);
    std::vector<unsigned char> owned;
    auto info = std::make_unique<topl_p7_info>();
    int rc = parseAny(p7, len, &owned, info.get());
    if (rc < 0) return rc;
    if (!info->signCert || info->nsignCert <= 0) {
        if (out && room > 0) memset(out, 0, room);
        return 0;
    }
    int textLen = (info->nsignCert + 2) / 3 * 4;
    if (!out || room <= 0) return textLen;
    memset(out, 0, room);
    if (textLen > room) return TCORE_ERR_BUFFER_SMALL;
    std::vector<char> text(textLen + 1, 0);
    int n = tcore_base64_encode(text.data(), reinterpret_cast<const char *>(info->signCert),
                                info->nsignCert, textLen + 1);
    if (n < 0) return n;
    memcpy(out, text.data(), n);
    return n;
}

X509 *topl_p7sign_getSignCert(const unsigned char *p7, int len) {
    if (!p7 || len <= 0) return nullptr;
    int n = topl_p7sign_parseSignCert(p7, len, nullptr, 0);
    if (n <= 0) return nullptr;
    std::vector<char> text(n, 0);
    if (topl_p7sign_parseSignCert(p7, len, text.data(), n) != n) return nullptr;
    return topl_x509cert_load(text.data(), n);
}
