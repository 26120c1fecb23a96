#include "tasn1/tasn1.h"
#include "tcore/tcore_errors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string hex(const unsigned char *p, int n) {
    static const char k[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += k[p[i] >> 4];
        s += k[p[i] & 15];
    }
    return s;
}
std::string hex(const Bytes &b) { return hex(b.data(), static_cast<int>(b.size())); }

TEST(Tasn1Len, EncodeTable) {
    struct Case {
        int n;
        const char *octets;
    } cases[] = {{0, "00"}, {127, "7F"}, {128, "81 80"}, {255, "81 FF"}, {256, "82 01 00"},
                 {65535, "82 FF FF"}, {1 << 24, "84 01 00 00 00"}, {INT_MAX, "84 7F FF FF FF"}};
    for (const auto &c : cases) {
        unsigned char out[8] = {};
        int need = tasn1_len_encode(nullptr, 0, c.n);
        int n = tasn1_len_encode(out, sizeof out, c.n);
        EXPECT_EQ(n, need) << c.n;
        EXPECT_EQ(hex(out, n), c.octets) << c.n;
    }
    unsigned char small[2];
    EXPECT_EQ(tasn1_len_encode(small, 2, 256), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(tasn1_len_encode(small, 0, 256), 3);  // no room: size only
    EXPECT_EQ(tasn1_len_encode(small, 2, -1), TCORE_ERR_ARG);
}

TEST(Tasn1Len, DecodeTable) {
    struct Case {
        Bytes in;
        int room;
        int result;
        int n;
    } cases[] = {
        {{0x05}, 1, 1, 5},
        {{0x7F}, 1, 1, 127},
        {{0x80}, 1, 1, 0},                          // indefinite form reads as 0
        {{0x81, 0x80}, 2, 2, 128},
        {{0x82, 0x01, 0x00}, 3, 3, 256},
        {{0x84, 0x01, 0x00, 0x00, 0x00}, 5, 5, 1 << 24},
        {{0x85, 0x01, 0x00, 0x00, 0x00, 0x00}, 6, TASN1_ERR_LENGTH, -1},  // five length octets
        {{0xFF, 0, 0, 0}, 4, TASN1_ERR_LENGTH, -1},
        {{0x84, 0x80, 0x00, 0x00, 0x00}, 5, TASN1_ERR_LENGTH, -1},        // above INT_MAX
        {{0x82, 0x01}, 2, TCORE_ERR_BUFFER_SMALL, -1},                   // octets missing
        {{0x81}, 1, TCORE_ERR_BUFFER_SMALL, -1},
        {{0x05}, 0, TCORE_ERR_ARG, -1},
    };
    for (const auto &c : cases) {
        int n = -1;
        EXPECT_EQ(tasn1_len_decode(c.in.data(), c.room, &n), c.result) << hex(c.in);
        if (c.result > 0) {
            EXPECT_EQ(n, c.n) << hex(c.in);
        }
    }
    int n;
    EXPECT_EQ(tasn1_len_decode(nullptr, 1, &n), TCORE_ERR_ARG);
    unsigned char one = 1;
    EXPECT_EQ(tasn1_len_decode(&one, 1, nullptr), TCORE_ERR_ARG);
}

TEST(Tasn1Read, ChildrenByIndex) {
    const Bytes seq = {0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0x41};
    const int room = static_cast<int>(seq.size());
    tasn1_item it{};
    ASSERT_EQ(tasn1_sequence_decode_getTLV(seq.data(), room, 1, &it), 0);
    EXPECT_EQ(hex(it.bytes, it.length), "04 01 41");
    EXPECT_EQ(it.complete, 1);
    EXPECT_EQ(it.tag, 0x04);
    EXPECT_EQ(it.bytes, seq.data() + 5);  // points into the caller's bytes

    ASSERT_EQ(tasn1_sequence_decode_getValue(seq.data(), room, 1, &it), 0);
    EXPECT_EQ(hex(it.bytes, it.length), "41");
    EXPECT_EQ(it.complete, 0);
    EXPECT_EQ(it.tag, 0x04);

    ASSERT_EQ(tasn1_sequence_decode_getValue(seq.data(), room, 0, &it), 0);
    EXPECT_EQ(hex(it.bytes, it.length), "05");
    EXPECT_EQ(tasn1_sequence_decode_getTLV(seq.data(), room, 2, &it), TCORE_ERR_OFFSET);
    EXPECT_EQ(tasn1_sequence_decode_getSize(seq.data(), room), 2);

    ASSERT_EQ(tasn1_decode_tlv(seq.data() + 5, 3, &it), 0);
    EXPECT_EQ(hex(it.bytes, it.length), "41");
    EXPECT_EQ(it.tag, 0x04);
    const Bytes empty = {0x05, 0x00};
    ASSERT_EQ(tasn1_decode_tlv(empty.data(), 2, &it), 0);
    EXPECT_EQ(it.bytes, nullptr);
    EXPECT_EQ(it.length, 0);
}

TEST(Tasn1Read, TagsAndArguments) {
    const Bytes prim = {0x04, 0x03, 0x30, 0x01, 0x00};
    tasn1_item it{};
    EXPECT_EQ(tasn1_sequence_decode_getTLV(prim.data(), 5, 0, &it), TASN1_ERR_NOT_CONSTRUCTED);
    // SET, context and private-class tags are walked like SEQUENCE.
    for (unsigned char tag : {0x31, 0xA0, 0xA3, 0xE1}) {
        const Bytes b = {tag, 0x03, 0x02, 0x01, 0x07};
        ASSERT_EQ(tasn1_sequence_decode_getValue(b.data(), 5, 0, &it), 0) << int(tag);
        EXPECT_EQ(it.bytes[0], 0x07);
    }
    const Bytes seq = {0x30, 0x03, 0x02, 0x01, 0x07};
    EXPECT_EQ(tasn1_sequence_decode_getTLV(nullptr, 5, 0, &it), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_sequence_decode_getTLV(seq.data(), 5, 0, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_sequence_decode_getTLV(seq.data(), 0, 0, &it), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_sequence_decode_getTLV(seq.data(), 5, -1, &it), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_sequence_decode_getSize(nullptr, 5), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_decode_tlv(nullptr, 5, &it), TCORE_ERR_ARG);
    // Empty SEQUENCE: no children.
    const Bytes none = {0x30, 0x00};
    EXPECT_EQ(tasn1_sequence_decode_getSize(none.data(), 2), 0);
    EXPECT_EQ(tasn1_sequence_decode_getTLV(none.data(), 2, 0, &it), TCORE_ERR_OFFSET);
}

// Inputs whose length octets lie: every read must stay inside room and
// report an error. Each buffer is copied to an exactly sized heap block so
// the sanitizer build catches any read past it.
TEST(Tasn1Read, LyingLengthsStayInsideTheBuffer) {
    struct Case {
        const char *what;
        Bytes in;
        int getSize;
        int getTLV0;
        int decodeTlv;
    } cases[] = {
        {"outer claims more than there is", {0x30, 0x10, 0x02, 0x01, 0x05}, TASN1_ERR_LENGTH, 0, TCORE_ERR_BUFFER_SMALL},
        {"child runs past its parent", {0x30, 0x03, 0x04, 0x7F, 0x41}, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH, 0},
        {"child long-form length past the end", {0x30, 0x03, 0x04, 0x84, 0x7F}, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH, 0},
        {"five-octet outer length", {0x30, 0x85, 0, 0, 0, 0, 1, 0x05}, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH},
        {"five-octet child length", {0x30, 0x07, 0x04, 0x85, 0, 0, 0, 0, 1}, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH, 0},
        {"tag only", {0x30}, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH},
        {"truncated child header", {0x30, 0x01, 0x04}, TASN1_ERR_LENGTH, TASN1_ERR_LENGTH, 0},
        {"huge outer length", {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x05, 0x00}, TASN1_ERR_LENGTH, 0, TCORE_ERR_BUFFER_SMALL},
        {"indefinite outer, definite child", {0x30, 0x80, 0x05, 0x00}, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const int room = static_cast<int>(c.in.size());
        auto *buf = new unsigned char[room];
        memcpy(buf, c.in.data(), room);
        tasn1_item it{};
        EXPECT_EQ(tasn1_sequence_decode_getSize(buf, room), c.getSize) << c.what;
        EXPECT_EQ(tasn1_sequence_decode_getTLV(buf, room, 0, &it), c.getTLV0) << c.what;
        EXPECT_EQ(tasn1_decode_tlv(buf, room, &it), c.decodeTlv) << c.what;
        for (int i = 0; i < 4; ++i) {
            if (tasn1_sequence_decode_getTLV(buf, room, i, &it) == 0) {
                EXPECT_GE(it.bytes, buf) << c.what;
                EXPECT_LE(it.bytes + it.length, buf + room) << c.what;
            }
        }
        delete[] buf;
    }
}

tasn1_item plainComplete(const Bytes &b) {
    tasn1_item it{};
    it.bytes = const_cast<unsigned char *>(b.data());
    it.length = static_cast<int>(b.size());
    it.complete = 1;
    return it;
}

Bytes encode(tasn1_sequence *seq) {
    int n = tasn1_sequence_size(seq);
    Bytes out(n > 0 ? n : 0);
    EXPECT_EQ(tasn1_sequence_encode(seq, out.data(), n), n);
    return out;
}

TEST(Tasn1Write, SequenceAndSet) {
    const Bytes one = {0x02, 0x01, 0x01};
    const Bytes ab = {'A', 'B'};
    for (int set : {0, 1}) {
        tasn1_sequence *seq = tasn1_sequence_new(set);
        tasn1_item i1 = plainComplete(one);
        tasn1_item i2{};
        i2.bytes = const_cast<unsigned char *>(ab.data());
        i2.length = 2;
        i2.tag = 0x04;
        ASSERT_EQ(tasn1_sequence_add(seq, &i1), 0);
        ASSERT_EQ(tasn1_sequence_add(seq, &i2), 0);
        EXPECT_EQ(tasn1_sequence_size(seq), 9);
        EXPECT_EQ(hex(encode(seq)), set ? "31 07 02 01 01 04 02 41 42" : "30 07 02 01 01 04 02 41 42");
        tasn1_item *item = tasn1_sequence_encodeItem(seq);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->complete, 1);
        EXPECT_EQ(hex(item->bytes, item->length), set ? "31 07 02 01 01 04 02 41 42" : "30 07 02 01 01 04 02 41 42");
        tasn1_item_free(item);
        unsigned char small[8];
        EXPECT_EQ(tasn1_sequence_encode(seq, small, 8), TCORE_ERR_ARG);
        tasn1_sequence_free(seq);
    }
}

TEST(Tasn1Write, ItemKinds) {
    const Bytes empty30 = {0x30, 0x00};
    const Bytes set3 = {0x31, 0x03, 0x02, 0x01, 0x01};
    const Bytes ab = {'A', 'B'};
    struct Case {
        const char *what;
        tasn1_item item;
        const char *out;
    } cases[] = {
        {"explicit [0] complete", {const_cast<unsigned char *>(empty30.data()), 2, 1, 1, 0, 0}, "A0 02 30 00"},
        {"implicit [0] complete", {const_cast<unsigned char *>(set3.data()), 5, 1, 2, 0, 0}, "A0 03 02 01 01"},
        {"explicit [1] contents", {const_cast<unsigned char *>(ab.data()), 2, 0, 1, 1, 0x04}, "A1 04 04 02 41 42"},
        {"implicit [2] contents", {const_cast<unsigned char *>(ab.data()), 2, 0, 2, 2, 0x04}, "A2 02 41 42"},
        {"empty plain octet string", {nullptr, 0, 0, 0, 0, 0x04}, "04 00"},
        {"empty explicit octet string", {nullptr, 0, 0, 1, 0, 0x04}, "A0 02 04 00"},
    };
    for (const auto &c : cases) {
        int n = tasn1_item_size(&c.item);
        Bytes out(n);
        EXPECT_EQ(tasn1_item_encode(&c.item, out.data(), n), n) << c.what;
        EXPECT_EQ(hex(out), c.out) << c.what;
        if (n > 1) {
            EXPECT_EQ(tasn1_item_encode(&c.item, out.data(), n - 1), TCORE_ERR_BUFFER_SMALL) << c.what;
        }
    }
    tasn1_item bad{};
    bad.kind = 3;
    unsigned char out[4];
    EXPECT_EQ(tasn1_item_size(&bad), TCORE_ERR_OFFSET);
    EXPECT_EQ(tasn1_item_encode(&bad, out, 4), TCORE_ERR_OFFSET);
    EXPECT_EQ(tasn1_item_encode(nullptr, out, 4), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_item_init(nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_item_init(&bad), 0);
    EXPECT_EQ(bad.kind, 0);
}

// A long content uses the long length form, and the sequence grows past its
// first 16 slots; a size query between adds does not freeze a stale size.
TEST(Tasn1Write, GrowsAndRecomputesSize) {
    const Bytes one = {0x02, 0x01, 0x01};
    tasn1_sequence *seq = tasn1_sequence_new(0);
    tasn1_item it = plainComplete(one);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(tasn1_sequence_add(seq, &it), 0);
        EXPECT_EQ(tasn1_sequence_size(seq), 2 + (i + 1) * 3 + ((i + 1) * 3 >= 128 ? 1 : 0));
    }
    Bytes out = encode(seq);
    ASSERT_EQ(out.size(), 153u);
    EXPECT_EQ(hex(out.data(), 3), "30 81 96");
    tasn1_item child{};
    EXPECT_EQ(tasn1_sequence_decode_getSize(out.data(), 153), 50);
    ASSERT_EQ(tasn1_sequence_decode_getTLV(out.data(), 153, 49, &child), 0);
    EXPECT_EQ(hex(child.bytes, child.length), "02 01 01");
    tasn1_sequence_free(seq);

    // freeAll also releases the items' octets.
    tasn1_sequence *owning = tasn1_sequence_new(0);
    tasn1_item own{};
    own.bytes = static_cast<unsigned char *>(malloc(3));
    memcpy(own.bytes, one.data(), 3);
    own.length = 3;
    own.complete = 1;
    tasn1_sequence_add(owning, &own);
    tasn1_sequence_freeAll(owning);
    EXPECT_EQ(tasn1_sequence_add(nullptr, &it), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_sequence_size(nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tasn1_sequence_encodeItem(nullptr), nullptr);
}

TEST(Tasn1AlgIds, ItemsByKid) {
    struct Case {
        int kid;
        const char *der;
    } cases[] = {
        {101, "30 0C 06 08 2A 86 48 86 F7 0D 02 05 05 00"},
        {102, "30 09 06 05 2B 0E 03 02 1A 05 00"},
        {103, "30 0D 06 09 60 86 48 01 65 03 04 02 01 05 00"},
        {104, "30 0D 06 09 60 86 48 01 65 03 04 02 03 05 00"},
        {105, "30 0D 06 09 60 86 48 01 65 03 04 02 02 05 00"},
        {110, "30 0C 06 08 2A 81 1C CF 55 01 83 11 05 00"},
        {201, "30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00"},
        {210, "30 13 06 07 2A 86 48 CE 3D 02 01 06 08 2A 81 1C CF 55 01 82 2D"},
        {211, "30 0D 06 09 2A 81 1C CF 55 01 82 2D 01 05 00"},
    };
    for (const auto &c : cases) {
        const tasn1_item *it = tasn1_item_getByKid(c.kid);
        ASSERT_NE(it, nullptr) << c.kid;
        EXPECT_EQ(it->complete, 1);
        EXPECT_EQ(it->kind, TASN1_KIND_PLAIN);
        EXPECT_EQ(hex(it->bytes, it->length), c.der) << c.kid;
        // Each is a well-formed TLV of its own.
        EXPECT_EQ(tasn1_sequence_decode_getSize(it->bytes, it->length), 2) << c.kid;
    }
    for (int kid : {0, 108, 111, 202, 610, 999}) EXPECT_EQ(tasn1_item_getByKid(kid), nullptr) << kid;
}

}  // namespace
