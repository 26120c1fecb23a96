#include "tasn1/tasn1.h"

#include "tcore/tcore_errors.h"
#include "tcore/tcore_mem.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// ---- length octets ----

int tasn1_len_encode(unsigned char *out, int room, int n) {
    if (n < 0) return TCORE_ERR_ARG;
    if (n < 0x80) {
        if (out && room > 0) out[0] = static_cast<unsigned char>(n);
        return 1;
    }
    int k = 0;
    for (unsigned v = static_cast<unsigned>(n); v; v >>= 8) ++k;
    if (!out || room <= 0) return 1 + k;
    if (room < 1 + k) return TCORE_ERR_BUFFER_SMALL;
    out[0] = static_cast<unsigned char>(0x80 | k);
    for (int i = 0; i < k; ++i) out[1 + i] = static_cast<unsigned char>(n >> (8 * (k - 1 - i)));
    return 1 + k;
}

int tasn1_len_decode(const unsigned char *in, int room, int *n) {
    if (!in || !n || room <= 0) return TCORE_ERR_ARG;
    if (in[0] < 0x80) {
        *n = in[0];
        return 1;
    }
    int k = in[0] & 0x7f;
    if (k == 0) {  // indefinite form: read as length 0
        *n = 0;
        return 1;
    }
    if (k > 4) return TASN1_ERR_LENGTH;
    if (room <= k) return TCORE_ERR_BUFFER_SMALL;
    uint32_t v = 0;
    for (int i = 1; i <= k; ++i) v = (v << 8) | in[i];
    if (v > INT_MAX) return TASN1_ERR_LENGTH;
    *n = static_cast<int>(v);
    return 1 + k;
}

// ---- reading ----

namespace {

// One TLV header at `p` with `room` octets left: the tag octet, length
// octets and a content length that fits inside room.
struct Header {
    int lenOctets;
    int contentLength;
    int64_t total() const { return 1 + static_cast<int64_t>(lenOctets) + contentLength; }
};

// 0 and *h filled, or -210003 when the length octets cannot be read or the
// element does not fit in room.
int readChild(const unsigned char *p, int room, Header *h) {
    if (room < 2) return TASN1_ERR_LENGTH;
    int r = tasn1_len_decode(p + 1, room - 1, &h->contentLength);
    if (r < 0) return TASN1_ERR_LENGTH;
    h->lenOctets = r;
    if (h->total() > room) return TASN1_ERR_LENGTH;
    return 0;
}

bool isConstructedTag(unsigned char t) { return t == 0x30 || t == 0x31 || t >= 0xA0; }

int findChild(const unsigned char *tlv, int room, int index, tasn1_item *out, bool complete) {
    if (!tlv || !out || room <= 0 || index < 0) return TCORE_ERR_ARG;
    if (!isConstructedTag(tlv[0])) return TASN1_ERR_NOT_CONSTRUCTED;
    if (room < 2) return TASN1_ERR_LENGTH;
    int outerLen = 0;
    int r = tasn1_len_decode(tlv + 1, room - 1, &outerLen);
    if (r < 0) return TASN1_ERR_LENGTH;

    int pos = 1 + r;
    for (int i = 0; pos < room; ++i) {
        Header h;
        int rc = readChild(tlv + pos, room - pos, &h);
        if (rc < 0) return rc;
        if (i == index) {
            out->tag = tlv[pos];
            out->kind = TASN1_KIND_PLAIN;
            out->ctxNum = 0;
            out->complete = complete ? 1 : 0;
            if (complete) {
                out->bytes = const_cast<unsigned char *>(tlv + pos);
                out->length = static_cast<int>(h.total());
            } else {
                out->bytes = const_cast<unsigned char *>(tlv + pos + 1 + h.lenOctets);
                out->length = h.contentLength;
            }
            return 0;
        }
        pos += static_cast<int>(h.total());
    }
    return TCORE_ERR_OFFSET;
}

}  // namespace

int tasn1_sequence_decode_getSize(const unsigned char *tlv, int room) {
    if (!tlv || room <= 0) return TCORE_ERR_ARG;
    if (room < 2) return TASN1_ERR_LENGTH;
    int outerLen = 0;
    int r = tasn1_len_decode(tlv + 1, room - 1, &outerLen);
    if (r < 0) return TASN1_ERR_LENGTH;
    if (1 + static_cast<int64_t>(r) + outerLen > room) return TASN1_ERR_LENGTH;
    if (outerLen == 0) return 0;

    int count = 0;
    for (int pos = 1 + r; pos < room; ++count) {
        Header h;
        int rc = readChild(tlv + pos, room - pos, &h);
        if (rc < 0) return rc;
        pos += static_cast<int>(h.total());
    }
    return count;
}

int tasn1_sequence_decode_getTLV(const unsigned char *tlv, int room, int index, tasn1_item *out) {
    return findChild(tlv, room, index, out, true);
}

int tasn1_sequence_decode_getValue(const unsigned char *tlv, int room, int index, tasn1_item *out) {
    return findChild(tlv, room, index, out, false);
}

int tasn1_decode_tlv(const unsigned char *tlv, int room, tasn1_item *out) {
    if (!tlv || !out || room <= 0) return TCORE_ERR_ARG;
    if (room < 2) return TASN1_ERR_LENGTH;
    int len = 0;
    int r = tasn1_len_decode(tlv + 1, room - 1, &len);
    if (r < 0) return TASN1_ERR_LENGTH;
    if (1 + static_cast<int64_t>(r) + len > room) return TCORE_ERR_BUFFER_SMALL;
    out->tag = tlv[0];
    out->bytes = len > 0 ? const_cast<unsigned char *>(tlv + 1 + r) : nullptr;
    out->length = len;
    out->complete = 0;
    out->kind = TASN1_KIND_PLAIN;
    out->ctxNum = 0;
    return 0;
}

// ---- writing ----

namespace {

int lenOctets(int n) { return tasn1_len_encode(nullptr, 0, n); }

// 1 + L(n) + n, or -10003 when it does not fit an int.
int tlvSize(int n) {
    int64_t s = 1 + static_cast<int64_t>(lenOctets(n)) + n;
    return s > INT_MAX ? TCORE_ERR_BUFFER_SMALL : static_cast<int>(s);
}

// Writes a header (tag, length octets); returns octets written.
int putHeader(unsigned char *out, unsigned char tag, int n) {
    out[0] = tag;
    return 1 + tasn1_len_encode(out + 1, 5, n);
}

// Copies n content octets, zeros when the item has no bytes.
void putContents(unsigned char *out, const unsigned char *bytes, int n) {
    if (n <= 0) return;
    if (bytes) memcpy(out, bytes, static_cast<size_t>(n));
    else memset(out, 0, static_cast<size_t>(n));
}

}  // namespace

int tasn1_item_init(tasn1_item *item) {
    if (!item) return TCORE_ERR_ARG;
    memset(item, 0, sizeof *item);
    return 0;
}

int tasn1_item_size(const tasn1_item *item) {
    if (!item || item->length < 0) return TCORE_ERR_ARG;
    int len = item->length;
    switch (item->kind) {
    case TASN1_KIND_PLAIN:
    case TASN1_KIND_IMPLICIT:
        return item->complete ? len : tlvSize(len);
    case TASN1_KIND_EXPLICIT: {
        int inner = item->complete ? len : tlvSize(len);
        return inner < 0 ? inner : tlvSize(inner);
    }
    default:
        return TCORE_ERR_OFFSET;
    }
}

int tasn1_item_encode(const tasn1_item *item, unsigned char *out, int room) {
    if (!item || !out || room <= 0) return TCORE_ERR_ARG;
    int size = tasn1_item_size(item);
    if (size < 0) return size;
    if (room < size) return TCORE_ERR_BUFFER_SMALL;

    const int len = item->length;
    const unsigned char ctxTag = static_cast<unsigned char>(0xA0 + item->ctxNum);
    int pos = 0;
    switch (item->kind) {
    case TASN1_KIND_PLAIN:
        if (!item->complete) pos += putHeader(out, item->tag, len);
        putContents(out + pos, item->bytes, len);
        break;
    case TASN1_KIND_EXPLICIT: {
        int inner = item->complete ? len : tlvSize(len);
        pos += putHeader(out, ctxTag, inner);
        if (!item->complete) pos += putHeader(out + pos, item->tag, len);
        putContents(out + pos, item->bytes, len);
        break;
    }
    case TASN1_KIND_IMPLICIT:
        if (item->complete) {
            if (len > 0) {
                out[0] = ctxTag;
                putContents(out + 1, item->bytes ? item->bytes + 1 : nullptr, len - 1);
            }
        } else {
            pos += putHeader(out, ctxTag, len);
            putContents(out + pos, item->bytes, len);
        }
        break;
    }
    return size;
}

void tasn1_item_free(tasn1_item *item) {
    if (!item) return;
    free(item->bytes);
    free(item);
}

tasn1_sequence *tasn1_sequence_new(int isSet) {
    auto *seq = static_cast<tasn1_sequence *>(tcore_zalloc(sizeof(tasn1_sequence)));
    seq->capacity = 16;
    seq->items = static_cast<tasn1_item **>(tcore_zcalloc(16, sizeof(tasn1_item *)));
    seq->isSet = isSet;
    return seq;
}

int tasn1_sequence_add(tasn1_sequence *seq, const tasn1_item *item) {
    if (!seq || !item) return TCORE_ERR_ARG;
    if (seq->count == seq->capacity) {
        auto **grown = static_cast<tasn1_item **>(
            tcore_zcalloc(static_cast<size_t>(seq->capacity) * 2, sizeof(tasn1_item *)));
        memcpy(grown, seq->items, static_cast<size_t>(seq->count) * sizeof(tasn1_item *));
        free(seq->items);
        seq->items = grown;
        seq->capacity *= 2;
    }
    auto *copy = static_cast<tasn1_item *>(tcore_zalloc(sizeof(tasn1_item)));
    *copy = *item;
    seq->items[seq->count++] = copy;
    // A size computed before this item was added would be too small for the
    // encoder's bounds check.
    seq->contentLength = 0;
    return 0;
}

int tasn1_sequence_size(tasn1_sequence *seq) {
    if (!seq) return TCORE_ERR_ARG;
    if (seq->contentLength == 0) {
        int64_t sum = 0;
        for (int i = 0; i < seq->count; ++i) {
            int s = tasn1_item_size(seq->items[i]);
            if (s < 0) return s;
            sum += s;
            if (sum > INT_MAX) return TCORE_ERR_BUFFER_SMALL;
        }
        seq->contentLength = static_cast<int>(sum);
    }
    return tlvSize(seq->contentLength);
}

int tasn1_sequence_encode(tasn1_sequence *seq, unsigned char *out, int room) {
    if (!seq || !out) return TCORE_ERR_ARG;
    int size = tasn1_sequence_size(seq);
    if (size < 0) return size;
    if (room < size) return TCORE_ERR_ARG;
    memset(out, 0, static_cast<size_t>(room));
    int pos = putHeader(out, seq->isSet ? 0x31 : 0x30, seq->contentLength);
    for (int i = 0; i < seq->count; ++i) {
        int n = tasn1_item_encode(seq->items[i], out + pos, size - pos);
        if (n < 0) return n;
        pos += n;
    }
    return pos;
}

tasn1_item *tasn1_sequence_encodeItem(tasn1_sequence *seq) {
    int size = tasn1_sequence_size(seq);
    if (size <= 0) return nullptr;
    auto *buf = static_cast<unsigned char *>(tcore_zalloc(static_cast<size_t>(size)));
    int n = tasn1_sequence_encode(seq, buf, size);
    if (n != size) {
        free(buf);
        return nullptr;
    }
    auto *item = static_cast<tasn1_item *>(tcore_zalloc(sizeof(tasn1_item)));
    item->bytes = buf;
    item->length = size;
    item->complete = 1;
    item->tag = buf[0];
    return item;
}

static void sequenceRelease(tasn1_sequence *seq, bool withBytes) {
    if (!seq) return;
    for (int i = 0; i < seq->count; ++i) {
        if (withBytes) free(seq->items[i]->bytes);
        free(seq->items[i]);
    }
    free(seq->items);
    free(seq);
}

void tasn1_sequence_free(tasn1_sequence *seq) { sequenceRelease(seq, false); }
void tasn1_sequence_freeAll(tasn1_sequence *seq) { sequenceRelease(seq, true); }

// ---- AlgorithmIdentifier constants ----

namespace {

unsigned char kAlgMd5[] = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00};
unsigned char kAlgSha1[] = {0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00};
unsigned char kAlgSha256[] = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                              0x03, 0x04, 0x02, 0x01, 0x05, 0x00};
unsigned char kAlgSha512[] = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                              0x03, 0x04, 0x02, 0x03, 0x05, 0x00};
unsigned char kAlgSha384[] = {0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                              0x03, 0x04, 0x02, 0x02, 0x05, 0x00};
unsigned char kAlgSm3[] = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x11, 0x05, 0x00};
unsigned char kAlgRsa[] = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                           0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
unsigned char kAlgSm2Key[] = {0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
                              0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};
unsigned char kAlgSm2Sig[] = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x81, 0x1C, 0xCF, 0x55,
                              0x01, 0x82, 0x2D, 0x01, 0x05, 0x00};

constexpr tasn1_item constItem(unsigned char *bytes, int n) { return {bytes, n, 1, TASN1_KIND_PLAIN, 0, 0x30}; }

const tasn1_item kItemMd5 = constItem(kAlgMd5, sizeof kAlgMd5);
const tasn1_item kItemSha1 = constItem(kAlgSha1, sizeof kAlgSha1);
const tasn1_item kItemSha256 = constItem(kAlgSha256, sizeof kAlgSha256);
const tasn1_item kItemSha512 = constItem(kAlgSha512, sizeof kAlgSha512);
const tasn1_item kItemSha384 = constItem(kAlgSha384, sizeof kAlgSha384);
const tasn1_item kItemSm3 = constItem(kAlgSm3, sizeof kAlgSm3);
const tasn1_item kItemRsa = constItem(kAlgRsa, sizeof kAlgRsa);
const tasn1_item kItemSm2Key = constItem(kAlgSm2Key, sizeof kAlgSm2Key);
const tasn1_item kItemSm2Sig = constItem(kAlgSm2Sig, sizeof kAlgSm2Sig);

}  // namespace

const tasn1_item *tasn1_item_getByKid(int kid) {
    switch (kid) {
    case 101: return &kItemMd5;
    case 102: return &kItemSha1;
    case 103: return &kItemSha256;
    case 104: return &kItemSha512;
    case 105: return &kItemSha384;
    case 110: return &kItemSm3;
    case 201: return &kItemRsa;
    case 210: return &kItemSm2Key;
    case 211: return &kItemSm2Sig;
    default: return nullptr;
    }
}
