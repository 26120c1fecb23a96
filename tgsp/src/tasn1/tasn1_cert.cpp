// Quick certificate inspections on DER, by index reads.
#include "tasn1/tasn1.h"

#include "tcore/tcore_base64.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

const char *findIn(const char *from, const char *to, const char *what) {
    size_t n = strlen(what);
    if (to - from < static_cast<ptrdiff_t>(n)) return nullptr;
    return static_cast<const char *>(memmem(from, static_cast<size_t>(to - from), what, n));
}

// Decodes count base64 characters into a new buffer of count / 4 * 3 octets.
int decodeInto(const char *text, int count, unsigned char **out) {
    int cap = count / 4 * 3;
    auto *buf = static_cast<unsigned char *>(tcore_zalloc(static_cast<size_t>(cap)));
    int n = tcore_base64_decode(buf, text, count, cap);
    if (n <= 0) {
        free(buf);
        return n < 0 ? n : TASN1_ERR_CERT;
    }
    *out = buf;
    return n;
}

struct FreeDeleter {
    void operator()(unsigned char *p) const { free(p); }
};

// The certificate's DER: the caller's bytes when they start with 0x30,
// else a converted copy held in `keep`. Returns the length or a code.
int certDer(const char *cert, int length, const unsigned char **der,
            std::unique_ptr<unsigned char, FreeDeleter> &keep) {
    if (static_cast<unsigned char>(cert[0]) == 0x30) {
        *der = reinterpret_cast<const unsigned char *>(cert);
        return length;
    }
    unsigned char *buf = nullptr;
    int n = tasn1_cert_toDer(cert, length, &buf);
    if (n < 0) return n;
    keep.reset(buf);
    *der = buf;
    return n;
}

const unsigned char kKeyUsageOid[] = {0x06, 0x03, 0x55, 0x1D, 0x0F};

}  // namespace

int tasn1_cert_toDer(const char *text, int length, unsigned char **out) {
    if (!out) return TCORE_ERR_ARG;
    *out = nullptr;
    if (!text || length <= 0) return TCORE_ERR_ARG;

    if (text[0] == 'M') return decodeInto(text, length, out);
    if (static_cast<unsigned char>(text[0]) == 0x30) {
        *out = reinterpret_cast<unsigned char *>(tcore_memdup(text, static_cast<size_t>(length)));
        return length;
    }

    const char *end = text + length;
    const char *begin = findIn(text, end, kBegin);
    if (!begin) return TASN1_ERR_CERT;
    const char *body = begin + strlen(kBegin);
    const char *stop = findIn(body, end, kEnd);
    if (!stop) return TASN1_ERR_CERT;
    const char *m = static_cast<const char *>(memchr(body, 'M', static_cast<size_t>(stop - body)));
    if (!m) return TASN1_ERR_CERT;
    return decodeInto(m, static_cast<int>(stop - m), out);
}

int tasn1_cert_getKeyUsageKind(const char *cert, int length) {
    if (!cert || length <= 0) return TCORE_ERR_ARG;
    std::unique_ptr<unsigned char, FreeDeleter> keep;
    const unsigned char *der = nullptr;
    int derLen = certDer(cert, length, &der, keep);
    if (derLen < 0) return derLen;

    tasn1_item tbs{}, exts{}, ext{}, oid{}, value{}, bits{};
    int rc = tasn1_sequence_decode_getTLV(der, derLen, 0, &tbs);
    if (rc < 0) {
        TCORE_LOG("tasn1_sequence_decode_getTLV failed %d", rc);
        return TASN1_ERR_CERT;
    }
    int n = tasn1_sequence_decode_getSize(tbs.bytes, tbs.length);
    if (n < 0) {
        TCORE_LOG("tasn1_sequence_decode_getSize failed %d", n);
        return TASN1_ERR_CERT;
    }
    rc = tasn1_sequence_decode_getValue(tbs.bytes, tbs.length, n - 1, &exts);
    if (rc < 0) {
        TCORE_LOG("tasn1_sequence_decode_getValue failed %d", rc);
        return TASN1_ERR_CERT;
    }
    // Without the [3] extensions field the last child is another field
    // (subjectPublicKeyInfo): such a certificate has no keyUsage extension.
    if (exts.tag != 0xA3) return 0;
    int m = tasn1_sequence_decode_getSize(exts.bytes, exts.length);
    if (m < 0) {
        TCORE_LOG("tasn1_sequence_decode_getSize failed %d", m);
        return TASN1_ERR_CERT;
    }
    for (int i = 0; i < m; ++i) {
        if ((rc = tasn1_sequence_decode_getTLV(exts.bytes, exts.length, i, &ext)) < 0 ||
            (rc = tasn1_sequence_decode_getTLV(ext.bytes, ext.length, 0, &oid)) < 0) {
            TCORE_LOG("tasn1_sequence_decode_getTLV failed %d", rc);
            return TASN1_ERR_CERT;
        }
        if (oid.length != static_cast<int>(sizeof kKeyUsageOid) ||
            memcmp(oid.bytes, kKeyUsageOid, sizeof kKeyUsageOid) != 0)
            continue;
        int k = tasn1_sequence_decode_getSize(ext.bytes, ext.length);
        if (k < 0) {
            TCORE_LOG("tasn1_sequence_decode_getSize failed %d", k);
            return TASN1_ERR_CERT;
        }
        rc = tasn1_sequence_decode_getValue(ext.bytes, ext.length, k - 1, &value);
        if (rc == 0) rc = tasn1_decode_tlv(value.bytes, value.length, &bits);
        if (rc == 0 && bits.length < 2) rc = TCORE_ERR_BUFFER_SMALL;
        if (rc < 0) {
            TCORE_LOG("tasn1_sequence_decode_getValue failed %d", rc);
            return TASN1_ERR_CERT;
        }
        unsigned char b = bits.bytes[1];
        bool sign = b & 0x80, encipher = b & 0x10;
        if (sign && encipher) return 0;
        if (sign) return 1;
        if (encipher) return 2;
        return TASN1_ERR_CERT;
    }
    return 0;
}

int tasn1_cert_getPubKeyKid(const char *cert, int length) {
    if (!cert || length <= 0) return TCORE_ERR_ARG;
    std::unique_ptr<unsigned char, FreeDeleter> keep;
    const unsigned char *der = nullptr;
    int derLen = certDer(cert, length, &der, keep);
    if (derLen < 0) return derLen;

    tasn1_item tbs{}, spki{}, alg{};
    int rc = tasn1_sequence_decode_getTLV(der, derLen, 0, &tbs);
    if (rc == 0) rc = tasn1_sequence_decode_getTLV(tbs.bytes, tbs.length, 6, &spki);
    if (rc == 0) rc = tasn1_sequence_decode_getTLV(spki.bytes, spki.length, 0, &alg);
    if (rc < 0) {
        TCORE_LOG("tasn1_sequence_decode_getTLV failed %d", rc);
        return TASN1_ERR_CERT;
    }
    for (int kid : {201, 210}) {
        const tasn1_item *ref = tasn1_item_getByKid(kid);
        if (alg.length == ref->length && memcmp(alg.bytes, ref->bytes, static_cast<size_t>(ref->length)) == 0)
            return kid;
    }
    return TASN1_ERR_CERT;
}
