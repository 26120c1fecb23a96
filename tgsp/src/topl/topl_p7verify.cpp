// Verification of PKCS#7 SignedData: over the content directly, or over the
// signed attributes with the content's digest in messageDigest.
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "topl/topl_errors.h"
#include "topl/topl_evp_digest.h"
#include "topl/topl_p7attr.h"
#include "topl/topl_p7internal.h"
#include "topl/topl_p7sign.h"
#include "topl/topl_x509.h"

namespace {

const int kKidSm3 = 110, kKidSm2Sm3 = 610;

struct X509Free {
    void operator()(X509 *p) const { X509_free(p); }
};
struct AttrFree {
    void operator()(X509_ATTRIBUTE *p) const { X509_ATTRIBUTE_free(p); }
};
struct BufFree {
    void operator()(unsigned char *p) const { free(p); }
};
using Bytes = std::vector<unsigned char>;

// Signature check with the certificate's key; the signature is copied so the
// caller's octets are never touched. digestKid 0: no expectation.
int verifyOver(X509 *cert, const unsigned char *data, int ndata,
               const unsigned char *sig, int nsig, int digestKid) {
    Bytes sigCopy(sig, sig + nsig);
    int kid = digestKid;
    return topl_x509cert_verify(cert, nullptr, &kid, data, ndata, sigCopy.data(), nsig);
}

// The signed attributes re-encoded as a DER SET OF: each attribute encoded
// and the encodings sorted octet by octet, a prefix before the longer one.
int sortedAttributes(const unsigned char *attrs, int nattrs, Bytes *out) {
    int count = tasn1_sequence_decode_getSize(attrs, nattrs);
    if (count < 0) return TOPL_ERR_P7_ATTR_READ;
    std::vector<Bytes> encoded;
    for (int i = 0; i < count; i++) {
        tasn1_item it;
        if (tasn1_sequence_decode_getTLV(attrs, nattrs, i, &it) < 0 || !it.bytes || it.length <= 0 ||
            it.bytes < attrs || it.length > attrs + nattrs - it.bytes)
            return TOPL_ERR_P7_ATTR_READ;
        const unsigned char *q = it.bytes;
        std::unique_ptr<X509_ATTRIBUTE, AttrFree> a(d2i_X509_ATTRIBUTE(nullptr, &q, it.length));
        if (!a) return TOPL_ERR_P7_ATTR_READ;
        int n = i2d_X509_ATTRIBUTE(a.get(), nullptr);
        if (n <= 0) return TOPL_ERR_P7_ATTR_ENCODE;
        Bytes der(n);
        unsigned char *p = der.data();
        if (i2d_X509_ATTRIBUTE(a.get(), &p) != n) return TOPL_ERR_P7_ATTR_ENCODE;
        encoded.push_back(std::move(der));
    }
    // Lexicographic order of the octets is exactly the DER SET OF order.
    std::sort(encoded.begin(), encoded.end());

    tasn1_sequence *set = tasn1_sequence_new(1);
    for (const Bytes &e : encoded) {
        tasn1_item it;
        tasn1_item_init(&it);
        it.bytes = const_cast<unsigned char *>(e.data());
        it.length = static_cast<int>(e.size());
        it.complete = 1;
        tasn1_sequence_add(set, &it);
    }
    int size = tasn1_sequence_size(set);
    int rc = TOPL_ERR_P7_ATTR_ENCODE;
    if (size > 0) {
        out->assign(size, 0);
        if (tasn1_sequence_encode(set, out->data(), size) == size) rc = 0;
    }
    tasn1_sequence_free(set);
    return rc;
}

int checkMessageDigest(X509 *cert, const topl_p7_info &info, const unsigned char *content, int ncontent) {
    int kid = info.digestKid == kKidSm2Sm3 ? kKidSm3 : info.digestKid;
    unsigned char digest[64];
    int ndigest = topl_evp_digest_once(kid, content, ncontent, digest, sizeof digest);
    if (ndigest < 0) return ndigest;

    unsigned char *attrRaw = nullptr;
    int nattr = topl_p7attr_find(info.signedAttrs, info.nsignedAttrs, TOPL_OID_MESSAGE_DIGEST, &attrRaw);
    std::unique_ptr<unsigned char, BufFree> attr(attrRaw);
    if (nattr == TOPL_ERR_ATTR_NOT_FOUND) return TOPL_ERR_P7_MD_MISSING;
    if (nattr < 0) return nattr;
    unsigned char *mdRaw = nullptr;
    int nmd = topl_p7attr_getMessageDigest(attr.get(), nattr, &mdRaw);
    std::unique_ptr<unsigned char, BufFree> md(mdRaw);
    if (nmd < 0) return nmd;
    if (nmd != ndigest) return TOPL_ERR_P7_MD_LENGTH;
    if (memcmp(md.get(), digest, ndigest) == 0) return 0;
    if (kid != kKidSm3) return TOPL_ERR_P7_MD_DIFFERS;

    // SM2 signers may put SM3(Z || content) into messageDigest.
    topl_keystore *store = topl_keystore_new();
    X509_up_ref(cert);
    store->pCert = cert;
    int n = topl_sm3WithSm2_digest_once(store, content, ncontent, nullptr, 0, digest, sizeof digest);
    topl_keystore_free(store);
    if (n == ndigest && memcmp(md.get(), digest, ndigest) == 0) return 0;
    return TOPL_ERR_P7_MD_DIFFERS;
}

int verifyAttributes(X509 *cert, const topl_p7_info &info, const unsigned char *content, int ncontent) {
    Bytes set;
    int rc = sortedAttributes(info.signedAttrs, info.nsignedAttrs, &set);
    if (rc < 0) return rc;
    rc = verifyOver(cert, set.data(), static_cast<int>(set.size()), info.sign, info.nsign, info.digestKid);
    if (rc != 0) {
        // Some signers sign the attributes in the order they send them.
        Bytes received(info.signedAttrs, info.signedAttrs + info.nsignedAttrs);
        received[0] = 0x31;
        rc = verifyOver(cert, received.data(), static_cast<int>(received.size()), info.sign, info.nsign,
                        info.digestKid);
    }
    if (rc != 0) return rc;
    return checkMessageDigest(cert, info, content, ncontent);
}

}  // namespace

int topl_p7sign_verify(const unsigned char *p7, int len,
                       const unsigned char *content, int ncontent, int mode) {
    TCORE_CHECK_NULL(p7);
    TCORE_CHECK_POSITIVE(len);
    Bytes owned;
    const unsigned char *der = nullptr;
    int nder = topl_p7_toDer(p7, len, &owned, &der);
    if (nder < 0) return nder;
    auto info = std::make_unique<topl_p7_info>();
    int rc = topl_p7_parse(der, nder, info.get());
    if (rc < 0) return rc;

    if (!info->signCert || info->nsignCert <= 0) return TOPL_ERR_P7_NO_SIGNCERT;
    std::unique_ptr<X509, X509Free> cert(
        topl_x509cert_load(reinterpret_cast<const char *>(info->signCert), info->nsignCert));
    if (!cert) return TOPL_ERR_P7_NO_SIGNCERT;

    bool carries = info->content && info->ncontent > 0;
    bool given = content && ncontent > 0;
    if (mode == TOPL_P7_VERIFY_ATTACHED && !carries) return TOPL_ERR_P7_CONTENT_MODE;
    if (mode == TOPL_P7_VERIFY_DETACHED && carries) return TOPL_ERR_P7_CONTENT_MODE;

    const unsigned char *data = nullptr;
    int ndata = 0;
    if (carries) {
        if (given && (ncontent != info->ncontent || memcmp(content, info->content, ncontent) != 0))
            return TOPL_ERR_P7_CONTENT_DIFFERS;
        data = info->content;
        ndata = info->ncontent;
    } else {
        if (!given) return TOPL_ERR_P7_CONTENT_MODE;
        data = content;
        ndata = ncontent;
    }
    if (!info->sign || info->nsign <= 0) return TOPL_ERR_P7_MALFORMED;

    if (!info->signedAttrs) return verifyOver(cert.get(), data, ndata, info->sign, info->nsign, 0);
    return verifyAttributes(cert.get(), *info, data, ndata);
}
