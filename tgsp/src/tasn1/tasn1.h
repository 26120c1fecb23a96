// tasn1: the library's small DER toolkit.
//
// Reading never builds a tree: the children of one constructed TLV are found
// by index, straight in the caller's bytes, and every returned item points
// into those bytes (which must outlive the item). Every read stays inside the
// `room` octets the caller hands in, whatever the length octets claim.
//
// Writing collects items into sequences and encodes them in one pass.
//
// DER as read and written here: one tag octet (no multi-octet tags), then the
// length in short form (< 0x80) or long form (0x80 | k, then k = 1..4 octets
// big-endian). The octet 0x80 alone (indefinite form) reads as length 0.
//
// Allocation failure ends the process (exit status 111).
#pragma once

// Result codes of this module (besides -10002 missing argument, -10003 too
// little room or data, -10004 child index beyond the last child / bad kind).
#define TASN1_ERR_NOT_CONSTRUCTED (-210002)  // first octet not 0x30, 0x31 or >= 0xA0
#define TASN1_ERR_LENGTH          (-210003)  // bad length octets, or lengths that exceed the data
#define TASN1_ERR_CERT            (-210011)  // certificate cannot be read or classified
#define TASN1_ERR_NO_ALGID        (-210021)  // no AlgorithmIdentifier for a kid (used by callers)

// Item kinds.
#define TASN1_KIND_PLAIN    0
#define TASN1_KIND_EXPLICIT 1   // element wrapped in [n]
#define TASN1_KIND_IMPLICIT 2   // element's own tag replaced by [n]

// One element, for reading and writing.
struct tasn1_item {
    unsigned char *bytes;  // the item's octets; not owned (see tasn1_sequence_freeAll).
                           // Readers store pointers into the caller's (const) input
                           // here and never write through them.
    int length;            // number of octets at bytes
    int complete;          // 1: bytes are a complete TLV; 0: contents only
    int kind;              // TASN1_KIND_*
    int ctxNum;            // n of the [n] tag (kinds 1 and 2); written as 0xA0 + n
    unsigned char tag;     // writing: tag of a contents-only plain item / inner tag of a
                           // contents-only explicit item. Reading: the tag octet found.
};

// An ordered list of item copies, encoded as one SEQUENCE (0x30) or SET
// (0x31, not sorted). The sequence owns the copies, not the octets they
// point to; those must outlive the encoding.
struct tasn1_sequence {
    tasn1_item **items;
    int capacity;       // starts at 16, doubles when full
    int count;
    int contentLength;  // cached sum of the items' encoded sizes, 0 = not computed
    int isSet;          // 0 SEQUENCE, else SET
};

// ---- length octets ----

// Number of length octets for n (1 below 0x80, else 1 + octets of n). With
// out null or room <= 0 only that number is returned; otherwise the octets
// are written. -10003 when room is too small; -10002 for n < 0.
int tasn1_len_encode(unsigned char *out, int room, int n);

// Reads length octets at `in` (room octets available) into *n.
// Returns the number of length octets (1, or 1 + k for the long form);
// -10002 missing argument or room <= 0; -210003 for k > 4 or a length above
// INT_MAX; -10003 when room <= k.
int tasn1_len_decode(const unsigned char *in, int room, int *n);

// ---- reading ----

// Number of children of the constructed TLV `tlv` (room octets).
// -10002 missing argument / room <= 0; -210003 unreadable outer or child
// length, outer TLV longer than room, or a child that runs past room.
int tasn1_sequence_decode_getSize(const unsigned char *tlv, int room);

// Child number `index` (from 0) of `tlv`, as a complete TLV (complete = 1).
// The walk over children is bounded by room (pass exactly one TLV).
// Returns 0; -10002 missing argument, room <= 0 or index < 0; -210002 first
// octet not 0x30, 0x31 or >= 0xA0; -210003 bad length octets or a child
// that runs past room; -10004 fewer than index + 1 children.
int tasn1_sequence_decode_getTLV(const unsigned char *tlv, int room, int index, tasn1_item *out);

// Same child, contents only (bytes behind its length octets, complete = 0).
int tasn1_sequence_decode_getValue(const unsigned char *tlv, int room, int index, tasn1_item *out);

// The TLV `tlv` itself, contents only: tag in out->tag, bytes null when the
// content length is 0. Returns 0; -10002 missing argument / room <= 0;
// -210003 unreadable length; -10003 contents longer than room.
int tasn1_decode_tlv(const unsigned char *tlv, int room, tasn1_item *out);

// ---- writing ----

// Zeroes all fields. 0, or -10002 without an item.
int tasn1_item_init(tasn1_item *item);

// Encoded size of the item (see tasn1_item_encode). -10002 missing item or
// negative length; -10004 unknown kind.
int tasn1_item_size(const tasn1_item *item);

// Writes the item: a plain complete item unchanged; a plain contents-only
// item as tag, length, contents; an explicit item as 0xA0+n, length, then the
// complete bytes or tag, length, contents; an implicit item as 0xA0+n then
// the complete bytes without their first octet, or length and contents.
// Returns the octets written; -10002 missing item/out or room <= 0; -10003
// room below the encoded size; -10004 unknown kind.
int tasn1_item_encode(const tasn1_item *item, unsigned char *out, int room);

// Releases an item made by tasn1_sequence_encodeItem: its bytes and itself.
// Null is ignored.
void tasn1_item_free(tasn1_item *item);

// New empty sequence (isSet != 0: SET). Never null; free with
// tasn1_sequence_free or tasn1_sequence_freeAll.
tasn1_sequence *tasn1_sequence_new(int isSet);

// Appends a copy of the item record (not of its octets). 0; -10002 missing
// argument. Adding forgets a cached size, so it is recomputed on demand.
int tasn1_sequence_add(tasn1_sequence *seq, const tasn1_item *item);

// Encoded size of the whole SEQUENCE/SET. -10002 missing sequence; an item's
// negative size code; -10003 when the size would exceed INT_MAX.
int tasn1_sequence_size(tasn1_sequence *seq);

// Zeroes out[0..room) and writes the encoding. Returns the octets written;
// -10002 missing argument or room below the encoded size; an item's code.
int tasn1_sequence_encode(tasn1_sequence *seq, unsigned char *out, int room);

// A new complete item (free with tasn1_item_free) whose newly allocated
// bytes hold exactly the encoding. Null on failure.
tasn1_item *tasn1_sequence_encodeItem(tasn1_sequence *seq);

// Frees the item copies and the array (null ignored).
void tasn1_sequence_free(tasn1_sequence *seq);
// Like tasn1_sequence_free, and also free()s each item's bytes.
void tasn1_sequence_freeAll(tasn1_sequence *seq);

// ---- AlgorithmIdentifier constants ----

// The constant DER AlgorithmIdentifier (complete, plain) for kid 101-105,
// 110, 201, 210 or 211; null for any other kid (callers report -210021).
// The item and its bytes are shared constants: never modify or free them.
const tasn1_item *tasn1_item_getByKid(int kid);

// ---- certificates ----

// Certificate text -> DER. The first character chooses: "M" base64 of DER;
// 0x30 DER (copied); anything else PEM (the first "-----BEGIN CERTIFICATE-----"
// ... "-----END CERTIFICATE-----" block within `length`; no NUL needed).
// Returns the DER length (> 0) and *out = new buffer the caller frees with
// free(); on failure *out is null and the result is -10002 (missing argument,
// length <= 0), -210011 (no PEM block / empty result) or the base64 decoder's
// code (-10003 bad length, -110004 invalid character).
int tasn1_cert_toDer(const char *text, int length, unsigned char **out);

// Which key usage a certificate (DER, base64 or PEM) has, from the first
// octet of its keyUsage bits: digitalSignature and dataEncipherment -> 0;
// digitalSignature -> 1; dataEncipherment -> 2; neither -> -210011; no
// keyUsage extension -> 0. Unreadable certificates: -210011 (or the code of
// tasn1_cert_toDer); -10002 missing argument.
int tasn1_cert_getKeyUsageKind(const char *cert, int length);

// Public-key algorithm of a (version 3) certificate, by comparing its
// subjectPublicKeyInfo AlgorithmIdentifier byte for byte with the items of
// kid 201 (rsaEncryption, NULL) and 210 (EC key on the SM2 curve).
// Returns 201 or 210; -210011 otherwise (or tasn1_cert_toDer's code);
// -10002 missing argument.
int tasn1_cert_getPubKeyKid(const char *cert, int length);
