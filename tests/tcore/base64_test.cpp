#include "tcore/tcore_base64.h"
#include "tcore/tcore_errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct EncodeCase {
    const char *in;
    const char *out;
};

TEST(Base64, EncodesWithPadding) {
    const EncodeCase cases[] = {{"A", "QQ=="}, {"AB", "QUI="}, {"ABC", "QUJD"}, {"ABCD", "QUJDRA=="}};
    for (const auto &c : cases) {
        char out[16];
        memset(out, 'x', sizeof out);
        int n = tcore_base64_encode(out, c.in, 0, sizeof out);
        EXPECT_EQ(n, static_cast<int>(strlen(c.out))) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
    }
}

TEST(Base64, EncodeRefusesShortOutputAndNulls) {
    char out[4];
    EXPECT_EQ(tcore_base64_encode(out, "ABCD", 4, 4), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(tcore_base64_encode(nullptr, "A", 1, 4), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_base64_encode(out, nullptr, 1, 4), TCORE_ERR_ARG);
    // Exactly four characters fit without a terminator.
    EXPECT_EQ(tcore_base64_encode(out, "ABC", 3, 4), 4);
    EXPECT_EQ(std::string(out, 4), "QUJD");
}

struct DecodeCase {
    const char *in;
    int result;
    const char *bytes;  // expected leading bytes of out (result > 0)
    int written;
};

TEST(Base64, DecodeTable) {
    const DecodeCase cases[] = {
        {"QUJD\r\nQUJD", 6, "ABCABC", 6},
        {"QQ==", 1, "A\0\0", 3},
        {"QUJD-", 3, "ABC", 3},
        {"QUJD---", 3, "ABC", 3},
        {"QUJ", TCORE_ERR_BUFFER_SMALL, "", 0},
        {"QU*D", TCORE_ERR_B64_CHAR, "", 0},
        {"QUJD\x80QUJ", TCORE_ERR_B64_CHAR, "", 0},
        {" \t", 0, "", 0},
    };
    for (const auto &c : cases) {
        unsigned char out[32];
        memset(out, 0xee, sizeof out);
        int n = tcore_base64_decode(out, c.in, 0, sizeof out);
        EXPECT_EQ(n, c.result) << c.in;
        if (c.written) {
            EXPECT_EQ(memcmp(out, c.bytes, c.written), 0) << c.in;
        }
    }
}

TEST(Base64, DecodeCapacityAndShortOutput) {
    EXPECT_EQ(tcore_base64_decode(nullptr, "QUJDQUJD", 0, 0), 6);
    unsigned char out[5];
    EXPECT_EQ(tcore_base64_decode(out, "QUJDQUJD", 0, sizeof out), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(tcore_base64_decode(out, nullptr, 0, sizeof out), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_base64_decode(out, "", 0, sizeof out), 0);
}

TEST(Base64, RoundTripsEveryByteValue) {
    std::string in;
    for (int i = 0; i < 256; ++i) in.push_back(static_cast<char>(i));
    for (size_t len = 1; len <= in.size(); len += 17) {
        char enc[400];
        int n = tcore_base64_encode(enc, in.data(), static_cast<int>(len), sizeof enc);
        ASSERT_GT(n, 0);
        unsigned char dec[400];
        int m = tcore_base64_decode(dec, enc, n, sizeof dec);
        ASSERT_EQ(m, static_cast<int>(len));
        EXPECT_EQ(memcmp(dec, in.data(), len), 0);
    }
}

TEST(Hex, UpperCaseAndBounds) {
    const unsigned char in[] = {10, 255};
    char out[5];
    EXPECT_EQ(tcore_bytesToHexString(sizeof out, out, 2, in), 4);
    EXPECT_STREQ(out, "0AFF");
    EXPECT_EQ(tcore_bytesToHexString(0, nullptr, 2, in), 4);
    EXPECT_EQ(tcore_bytesToHexString(4, out, 2, in), -1);
    EXPECT_EQ(tcore_bytesToHexString(sizeof out, out, 0, in), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_bytesToHexString(sizeof out, out, 2, nullptr), TCORE_ERR_ARG);
}

TEST(ReverseBytes, OddEvenAndBadArgs) {
    unsigned char a[] = {1, 2, 3};
    unsigned char b[] = {1, 2, 3, 4};
    EXPECT_EQ(tcore_reverseBytes(3, a), 0);
    EXPECT_EQ(tcore_reverseBytes(4, b), 0);
    EXPECT_EQ(a[0], 3);
    EXPECT_EQ(a[2], 1);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(b[1], 3);
    EXPECT_EQ(tcore_reverseBytes(0, a), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_reverseBytes(1, nullptr), TCORE_ERR_ARG);
}

}  // namespace
