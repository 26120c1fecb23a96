// Lookup of SignerInfo attributes by type OID.
#include "topl/topl_p7attr.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_mem.h"
#include "topl/topl_errors.h"

namespace {

struct AttrFree {
    void operator()(X509_ATTRIBUTE *p) const { X509_ATTRIBUTE_free(p); }
};
using AttrPtr = std::unique_ptr<X509_ATTRIBUTE, AttrFree>;

AttrPtr readAttr(const unsigned char *p, int n) {
    const unsigned char *q = p;
    AttrPtr a(d2i_X509_ATTRIBUTE(nullptr, &q, n));
    return a;
}

}  // namespace

int topl_p7attr_find(const unsigned char *attrs, int nattrs, const char *oid, unsigned char **out) {
    TCORE_CHECK_NULL(attrs);
    TCORE_CHECK_POSITIVE(nattrs);
    TCORE_CHECK_NULL(oid);
    TCORE_CHECK_NULL(out);
    int count = tasn1_sequence_decode_getSize(attrs, nattrs);
    if (count < 0) return count;
    size_t want = strlen(oid);
    for (int i = 0; i < count; i++) {
        tasn1_item it;
        int rc = tasn1_sequence_decode_getTLV(attrs, nattrs, i, &it);
        if (rc < 0) return rc;
        if (!it.bytes || it.length <= 0 || it.bytes < attrs || it.length > attrs + nattrs - it.bytes)
            return TOPL_ERR_ATTR_READ;
        AttrPtr a = readAttr(it.bytes, it.length);
        if (!a) return TOPL_ERR_ATTR_READ;
        ASN1_OBJECT *obj = X509_ATTRIBUTE_get0_object(a.get());
        if (!obj) return TOPL_ERR_ATTR_NO_OID;
        char text[1024];
        int n = OBJ_obj2txt(text, sizeof text, obj, 1);
        if (n <= 0 || n >= static_cast<int>(sizeof text)) return TOPL_ERR_P8_OID_TEXT;
        if (static_cast<size_t>(n) == want && memcmp(text, oid, want) == 0) {
            unsigned char *copy = static_cast<unsigned char *>(tcore_zalloc(it.length));
            memcpy(copy, it.bytes, it.length);
            *out = copy;
            return it.length;
        }
    }
    return TOPL_ERR_ATTR_NOT_FOUND;
}

int topl_p7attr_getMessageDigest(const unsigned char *attr, int nattr, unsigned char **out) {
    TCORE_CHECK_NULL(attr);
    TCORE_CHECK_POSITIVE(nattr);
    TCORE_CHECK_NULL(out);
    AttrPtr a = readAttr(attr, nattr);
    if (!a) return TOPL_ERR_ATTR_READ;
    if (X509_ATTRIBUTE_count(a.get()) <= 0) return TOPL_ERR_ATTR_EMPTY;
    ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(a.get(), 0);
    if (!value) return TOPL_ERR_ATTR_VALUE;
    switch (value->type) {
    case V_ASN1_BOOLEAN:
    case V_ASN1_NULL:
    case V_ASN1_OBJECT:
        return TOPL_ERR_ATTR_READ;  // no octets to take
    default:
        break;
    }
    const ASN1_STRING *s = value->value.asn1_string;
    if (!s || ASN1_STRING_length(s) <= 0 || !ASN1_STRING_get0_data(s)) return TOPL_ERR_ATTR_READ;
    int n = ASN1_STRING_length(s);
    unsigned char *copy = static_cast<unsigned char *>(tcore_zalloc(n));
    memcpy(copy, ASN1_STRING_get0_data(s), n);
    *out = copy;
    return n;
}
