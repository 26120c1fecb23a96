// OpenSSL-based PKCS#7 SignedData encoder: the elements are encoded by
// OpenSSL, the SEQUENCE and SET frames by the tasn1 toolkit.
#include "topl/topl_p7sign.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_alg.h"
#include "topl/topl_errors.h"
#include "topl/topl_sm2.h"
#include "topl/topl_x509.h"

namespace {

template <typename T, void (*F)(T *)>
struct Deleter {
    void operator()(T *p) const { F(p); }
};
using AlgorPtr = std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR, X509_ALGOR_free>>;
using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, Deleter<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>>;
using ObjPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;

// Owned DER element made by an i2d call.
struct Der {
    std::vector<unsigned char> bytes;
};

template <typename T, typename I2d>
bool toDer(T *obj, I2d i2d, Der *out) {
    int n = i2d(obj, nullptr);
    if (n <= 0) return false;
    out->bytes.resize(n);
    unsigned char *p = out->bytes.data();
    return i2d(obj, &p) == n;
}

tasn1_item completeItem(const Der &d) {
    tasn1_item it;
    tasn1_item_init(&it);
    it.bytes = const_cast<unsigned char *>(d.bytes.data());
    it.length = static_cast<int>(d.bytes.size());
    it.complete = 1;
    return it;
}

// Encodes a sequence of complete elements (set: SET, else SEQUENCE) into out.
bool frame(int set, std::initializer_list<const Der *> parts, Der *out) {
    tasn1_sequence *seq = tasn1_sequence_new(set);
    for (const Der *d : parts) {
        tasn1_item it = completeItem(*d);
        tasn1_sequence_add(seq, &it);
    }
    int size = tasn1_sequence_size(seq);
    bool ok = size > 0;
    if (ok) {
        out->bytes.assign(size, 0);
        ok = tasn1_sequence_encode(seq, out->bytes.data(), size) == size;
    }
    tasn1_sequence_free(seq);
    return ok;
}

// [0] EXPLICIT around one complete element, or [0] IMPLICIT replacing its tag.
bool contextZero(const Der &inner, bool implicit, Der *out) {
    tasn1_item it = completeItem(inner);
    it.kind = implicit ? 2 : 1;
    it.ctxNum = 0;
    int size = tasn1_item_size(&it);
    if (size <= 0) return false;
    out->bytes.assign(size, 0);
    return tasn1_item_encode(&it, out->bytes.data(), size) == size;
}

bool oidDer(const char *text, Der *out) {
    ObjPtr obj(OBJ_txt2obj(text, 1));
    return obj && toDer(obj.get(), i2d_ASN1_OBJECT, out);
}

// {oid, NULL} or {oid, parameter OID}. False with *newFailed set when the
// object cannot be created.
bool algorithm(X509_ALGOR *alg, const char *oid, const char *paramOid) {
    ASN1_OBJECT *obj = OBJ_txt2obj(oid, 1);
    if (!obj) return false;
    if (paramOid) {
        ASN1_OBJECT *param = OBJ_txt2obj(paramOid, 1);
        if (!param) {
            ASN1_OBJECT_free(obj);
            return false;
        }
        if (!X509_ALGOR_set0(alg, obj, V_ASN1_OBJECT, param)) {
            ASN1_OBJECT_free(obj);
            ASN1_OBJECT_free(param);
            return false;
        }
        return true;
    }
    if (!X509_ALGOR_set0(alg, obj, V_ASN1_NULL, nullptr)) {
        ASN1_OBJECT_free(obj);
        return false;
    }
    return true;
}

int signerInfoDer(X509 *cert, const topl_p7oids &oids, const unsigned char *sig, int nsig, Der *out) {
    SignerInfoPtr si(PKCS7_SIGNER_INFO_new());
    if (!si) return TOPL_ERR_P7_NEW;
    if (!ASN1_INTEGER_set(si->version, 1)) return TOPL_ERR_P7_ENCODE;
    if (!X509_NAME_set(&si->issuer_and_serial->issuer, X509_get_issuer_name(cert)))
        return TOPL_ERR_P7_ENCODE;
    ASN1_INTEGER *serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert));
    if (!serial) return TOPL_ERR_P7_ENCODE;
    ASN1_INTEGER_free(si->issuer_and_serial->serial);
    si->issuer_and_serial->serial = serial;
    if (!algorithm(si->digest_alg, oids.digestOid, nullptr)) return TOPL_ERR_P7_ENCODE;
    if (!algorithm(si->digest_enc_alg, oids.sigAlgOid, oids.sigParamOid)) return TOPL_ERR_P7_ENCODE;
    if (!ASN1_OCTET_STRING_set(si->enc_digest, sig, nsig)) return TOPL_ERR_P7_ENCODE;
    if (!toDer(si.get(), i2d_PKCS7_SIGNER_INFO, out)) return TOPL_ERR_P7_ENCODE;
    return 0;
}

}  // namespace

int topl_p7sign_encode(const unsigned char *sig, int nsig, X509 *cert,
                       const unsigned char *content, int ncontent, int digestKid,
                       unsigned char **out) {
    TCORE_CHECK_NULL(cert);
    if (!sig) {
        TCORE_LOG("%s arg %s is NULL", "topl_p7sign_encode", "pSignData");
        return TCORE_ERR_ARG;
    }
    if (nsig <= 0) {
        TCORE_LOG("%s arg %s is <= 0", "topl_p7sign_encode", "nSignData");
        return TCORE_ERR_ARG;
    }
    TCORE_CHECK_NULL(out);

    topl_p7oids oids;
    if (topl_x509cert_isRsa(cert))
        topl_p7oids_setRsa(&oids, digestKid);
    else if (topl_x509cert_isSm2(cert))
        topl_p7oids_setSm2(&oids);
    else
        return TOPL_ERR_KEY_UNSUPPORTED;

    // version, digestAlgorithms
    Der version, digestAlg, digestAlgs;
    {
        ASN1_INTEGER *one = ASN1_INTEGER_new();
        if (!one) return TOPL_ERR_P7_ENCODE;  // -151102 is kept for X509_ALGOR / SIGNER_INFO
        bool ok = ASN1_INTEGER_set(one, 1) && toDer(one, i2d_ASN1_INTEGER, &version);
        ASN1_INTEGER_free(one);
        if (!ok) return TOPL_ERR_P7_ENCODE;
        AlgorPtr alg(X509_ALGOR_new());
        if (!alg) return TOPL_ERR_P7_NEW;
        if (!algorithm(alg.get(), oids.digestOid, nullptr) ||
            !toDer(alg.get(), i2d_X509_ALGOR, &digestAlg) ||
            !frame(1, {&digestAlg}, &digestAlgs))
            return TOPL_ERR_P7_ENCODE;
    }

    // contentInfo: the data OID and, with content, [0] OCTET STRING
    Der dataOid, octets, explicitOctets, contentInfo;
    if (!oidDer(oids.dataOid, &dataOid)) return TOPL_ERR_P7_ENCODE;
    if (content && ncontent > 0) {
        ASN1_OCTET_STRING *os = ASN1_OCTET_STRING_new();
        if (!os) return TOPL_ERR_P7_ENCODE;
        bool ok = ASN1_OCTET_STRING_set(os, content, ncontent) &&
                  toDer(os, i2d_ASN1_OCTET_STRING, &octets);
        ASN1_OCTET_STRING_free(os);
        if (!ok || !contextZero(octets, false, &explicitOctets) ||
            !frame(0, {&dataOid, &explicitOctets}, &contentInfo))
            return TOPL_ERR_P7_ENCODE;
    } else if (!frame(0, {&dataOid}, &contentInfo)) {
        return TOPL_ERR_P7_ENCODE;
    }

    // certificates: [0] IMPLICIT SET { certificate }
    Der certDer, certSet, certificates;
    if (!toDer(cert, i2d_X509, &certDer) || !frame(1, {&certDer}, &certSet) ||
        !contextZero(certSet, true, &certificates))
        return TOPL_ERR_P7_ENCODE;

    Der signerInfo, signerInfos;
    int rc = signerInfoDer(cert, oids, sig, nsig, &signerInfo);
    if (rc < 0) return rc;
    if (!frame(1, {&signerInfo}, &signerInfos)) return TOPL_ERR_P7_ENCODE;

    Der signedData, explicitSignedData, signedDataOid, outer;
    if (!frame(0, {&version, &digestAlgs, &contentInfo, &certificates, &signerInfos}, &signedData) ||
        !contextZero(signedData, false, &explicitSignedData) ||
        !oidDer(oids.signedDataOid, &signedDataOid) ||
        !frame(0, {&signedDataOid, &explicitSignedData}, &outer))
        return TOPL_ERR_P7_ENCODE;

    unsigned char *buf = static_cast<unsigned char *>(tcore_zalloc(outer.bytes.size()));
    memcpy(buf, outer.bytes.data(), outer.bytes.size());
    *out = buf;
    return static_cast<int>(outer.bytes.size());
}
