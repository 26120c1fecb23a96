// IssuerAndSerialNumber and SignerInfo of the library's own PKCS#7 encoder.
#include "tasn1/tasn1_pkcs7.h"

#include <cstdlib>

#include "tasn1/tasn1.h"
#include "tcore/tcore_log.h"

namespace {

const unsigned char kIntOne[] = {0x02, 0x01, 0x01};

tasn1_item completeItem(const unsigned char *bytes, int len) {
    tasn1_item it;
    tasn1_item_init(&it);
    it.bytes = const_cast<unsigned char *>(bytes);
    it.length = len;
    it.complete = 1;
    return it;
}

}  // namespace

tasn1_item *tasn1_pkcs7_issuerAndSn_new(const unsigned char *cert, int ncert) {
    if (!cert || ncert <= 0) return nullptr;
    tasn1_item tbs, serial, issuer;
    if (tasn1_sequence_decode_getTLV(cert, ncert, 0, &tbs) < 0) return nullptr;
    if (tasn1_sequence_decode_getTLV(tbs.bytes, tbs.length, 1, &serial) < 0) return nullptr;
    if (tasn1_sequence_decode_getTLV(tbs.bytes, tbs.length, 3, &issuer) < 0) return nullptr;

    tasn1_sequence *seq = tasn1_sequence_new(0);
    tasn1_item a = completeItem(issuer.bytes, issuer.length);
    tasn1_item b = completeItem(serial.bytes, serial.length);
    tasn1_sequence_add(seq, &a);
    tasn1_sequence_add(seq, &b);
    tasn1_item *out = tasn1_sequence_encodeItem(seq);
    tasn1_sequence_free(seq);
    return out;
}

tasn1_item *tasn1_pkcs7_signerInfo_new(const unsigned char *cert, int ncert,
                                       const unsigned char *sig, int nsig,
                                       int digestKid, int signKid) {
    tasn1_item *ias = tasn1_pkcs7_issuerAndSn_new(cert, ncert);
    if (!ias) {
        TCORE_LOG("tasn1_pkcs7_issuerAndSn_new failed %d", TASN1_ERR_NO_ALGID);
        return nullptr;
    }
    const tasn1_item *digestAlg = tasn1_item_getByKid(digestKid);
    const tasn1_item *signAlg = digestAlg ? tasn1_item_getByKid(signKid) : nullptr;
    if (!digestAlg || !signAlg) {
        TCORE_LOG("tasn1_item_getByKid for %d failed %d", digestAlg ? signKid : digestKid,
                  TASN1_ERR_NO_ALGID);
        tasn1_item_free(ias);
        return nullptr;
    }

    tasn1_sequence *seq = tasn1_sequence_new(0);
    tasn1_item version = completeItem(kIntOne, sizeof kIntOne);
    tasn1_item encDigest;
    tasn1_item_init(&encDigest);
    encDigest.bytes = const_cast<unsigned char *>(sig);
    encDigest.length = sig ? nsig : 0;
    encDigest.tag = 0x04;
    tasn1_sequence_add(seq, &version);
    tasn1_sequence_add(seq, ias);
    tasn1_sequence_add(seq, digestAlg);
    tasn1_sequence_add(seq, signAlg);
    tasn1_sequence_add(seq, &encDigest);
    tasn1_item *out = tasn1_sequence_encodeItem(seq);
    tasn1_sequence_free(seq);
    tasn1_item_free(ias);
    return out;
}
