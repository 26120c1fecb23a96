// Attributes of a PKCS#7 SignerInfo (a DER SET or [0] of Attribute).
#pragma once

#define TOPL_ERR_ATTR_READ     (-150126)  // an attribute or its value cannot be read
#define TOPL_ERR_ATTR_NO_OID   (-150127)  // an attribute without type OID
#define TOPL_ERR_ATTR_VALUE    (-150128)  // the first value cannot be taken
#define TOPL_ERR_ATTR_EMPTY    (-150129)  // the value set is empty
#define TOPL_ERR_ATTR_NOT_FOUND (-1)      // no attribute of that type

#define TOPL_OID_MESSAGE_DIGEST "1.2.840.113549.1.9.4"

// Finds the first attribute whose type is the dotted OID text `oid`.
// Return the length of the attribute's DER, *out a new copy (free());
// -1 none; -10002 missing argument; -150126, -150127, -152730 (the type OID
// cannot be written as text); the codes of the child count.
int topl_p7attr_find(const unsigned char *attrs, int nattrs, const char *oid, unsigned char **out);

// The octets of the first value of one attribute (DER), *out a new copy
// (free()). Return their length; -10002; -150126 unreadable or a value without
// octets; -150129 empty value set; -150128 the value cannot be taken.
int topl_p7attr_getMessageDigest(const unsigned char *attr, int nattr, unsigned char **out);
