// The library's own PKCS#7 SignedData encoder (attached and detached).
#include "tasn1/tasn1_p7sign.h"

#include <cstdlib>
#include <cstring>

#include "tasn1/tasn1_pkcs7.h"
#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"

namespace {

const unsigned char kIntOne[] = {0x02, 0x01, 0x01};
// 1.2.840.113549.1.7.1 (data) and 1.2.840.113549.1.7.2 (signedData)
const unsigned char kOidData[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const unsigned char kOidSignedData[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

const int kKidRsa = 201, kKidSm2 = 210, kKidSm3 = 110, kKidSm2Sign = 211;

tasn1_item plainItem(const unsigned char *bytes, int len, int complete, unsigned char tag) {
    tasn1_item it;
    tasn1_item_init(&it);
    it.bytes = const_cast<unsigned char *>(bytes);
    it.length = len;
    it.complete = complete;
    it.tag = tag;
    return it;
}

// contentInfo: SEQUENCE { data, [0] OCTET STRING content }; detached: the
// [0] holds an empty OCTET STRING.
tasn1_item *contentInfoNew(const unsigned char *content, int ncontent) {
    tasn1_sequence *seq = tasn1_sequence_new(0);
    tasn1_item oid = plainItem(kOidData, sizeof kOidData, 1, 0);
    tasn1_item octets = plainItem(content, content ? ncontent : 0, 0, 0x04);
    octets.kind = 1;  // explicit [0]
    octets.ctxNum = 0;
    tasn1_sequence_add(seq, &oid);
    tasn1_sequence_add(seq, &octets);
    tasn1_item *out = tasn1_sequence_encodeItem(seq);
    tasn1_sequence_free(seq);
    return out;
}

// certificates: SET { certificate } written as implicit [0] (tag A0).
tasn1_item *certificatesNew(const unsigned char *der, int nder) {
    tasn1_sequence *seq = tasn1_sequence_new(1);
    tasn1_item cert = plainItem(der, nder, 1, 0);
    tasn1_sequence_add(seq, &cert);
    tasn1_item *out = tasn1_sequence_encodeItem(seq);
    tasn1_sequence_free(seq);
    if (out) {
        out->kind = 2;  // implicit [0]
        out->ctxNum = 0;
    }
    return out;
}

int p7signEncode(int digestKid, const unsigned char *content, int ncontent,
                 const char *cert, int ncert, const unsigned char *sig, int nsig,
                 unsigned char **out) {
    unsigned char *converted = nullptr;
    const unsigned char *der = reinterpret_cast<const unsigned char *>(cert);
    int nder = ncert;
    if (der[0] != 0x30) {
        nder = tasn1_cert_toDer(cert, ncert, &converted);
        if (nder < 0) return nder;
        der = converted;
    }

    tasn1_item *signerInfo = nullptr, *contentInfo = nullptr, *certs = nullptr, *signedData = nullptr;
    tasn1_sequence *sd = nullptr, *ci = nullptr;
    const tasn1_item *digestAlg = nullptr;
    int signKid = 0;
    int rc = tasn1_cert_getPubKeyKid(reinterpret_cast<const char *>(der), nder);
    if (rc < 0) goto done;
    if (rc == kKidSm2) {
        digestKid = kKidSm3;
        signKid = kKidSm2Sign;
    } else if (rc == kKidRsa) {
        signKid = kKidRsa;
    } else {
        rc = TASN1_ERR_CERT;
        goto done;
    }

    digestAlg = tasn1_item_getByKid(digestKid);
    if (!digestAlg) {
        rc = TASN1_ERR_NO_ALGID;
        TCORE_LOG("tasn1_item_getByKid for %d failed %d", digestKid, rc);
        goto done;
    }
    signerInfo = tasn1_pkcs7_signerInfo_new(der, nder, sig, nsig, digestKid, signKid);
    if (!signerInfo) {
        rc = TASN1_ERR_NO_ALGID;
        TCORE_LOG("tasn1_pkcs7_signerInfo_new failed %d", rc);
        goto done;
    }
    contentInfo = contentInfoNew(content, ncontent);
    certs = certificatesNew(der, nder);
    if (!contentInfo || !certs) {
        rc = TASN1_ERR_NO_ALGID;
        goto done;
    }

    {
        sd = tasn1_sequence_new(0);
        tasn1_item version = plainItem(kIntOne, sizeof kIntOne, 1, 0);
        tasn1_item digestAlgs = plainItem(digestAlg->bytes, digestAlg->length, 0, 0x31);
        tasn1_item signerInfos = plainItem(signerInfo->bytes, signerInfo->length, 0, 0x31);
        tasn1_sequence_add(sd, &version);
        tasn1_sequence_add(sd, &digestAlgs);
        tasn1_sequence_add(sd, contentInfo);
        tasn1_sequence_add(sd, certs);
        tasn1_sequence_add(sd, &signerInfos);
        signedData = tasn1_sequence_encodeItem(sd);
        if (!signedData) {
            rc = TASN1_ERR_NO_ALGID;
            goto done;
        }
        signedData->kind = 1;  // explicit [0] around the complete SignedData
        signedData->ctxNum = 0;

        ci = tasn1_sequence_new(0);
        tasn1_item oid = plainItem(kOidSignedData, sizeof kOidSignedData, 1, 0);
        tasn1_sequence_add(ci, &oid);
        tasn1_sequence_add(ci, signedData);
        int size = tasn1_sequence_size(ci);
        if (size <= 0) {
            rc = size < 0 ? size : TASN1_ERR_NO_ALGID;
            goto done;
        }
        unsigned char *buf = static_cast<unsigned char *>(tcore_zalloc(size));
        rc = tasn1_sequence_encode(ci, buf, size);
        if (rc != size) {
            free(buf);
            if (rc >= 0) rc = TASN1_ERR_NO_ALGID;
            goto done;
        }
        *out = buf;
    }

done:
    if (ci) tasn1_sequence_free(ci);
    if (sd) tasn1_sequence_free(sd);
    tasn1_item_free(signedData);
    tasn1_item_free(certs);
    tasn1_item_free(contentInfo);
    tasn1_item_free(signerInfo);
    free(converted);
    return rc;
}

}  // namespace

int tasn1_p7sign_encode_attach(int digestKid, const unsigned char *content, int ncontent,
                               const char *cert, int ncert,
                               const unsigned char *sig, int nsig, unsigned char **out) {
    TCORE_CHECK_NULL(content);
    TCORE_CHECK_POSITIVE(ncontent);
    TCORE_CHECK_NULL(cert);
    TCORE_CHECK_POSITIVE(ncert);
    TCORE_CHECK_NULL(sig);
    TCORE_CHECK_POSITIVE(nsig);
    TCORE_CHECK_NULL(out);
    return p7signEncode(digestKid, content, ncontent, cert, ncert, sig, nsig, out);
}

int tasn1_p7sign_encode_detach(int digestKid, const char *cert, int ncert,
                               const unsigned char *sig, int nsig, unsigned char **out) {
    TCORE_CHECK_NULL(cert);
    TCORE_CHECK_POSITIVE(ncert);
    TCORE_CHECK_NULL(sig);
    TCORE_CHECK_POSITIVE(nsig);
    TCORE_CHECK_NULL(out);
    return p7signEncode(digestKid, nullptr, 0, cert, ncert, sig, nsig, out);
}
