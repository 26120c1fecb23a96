#include "zebctl/zebctl_state.h"
#include "zebctl/zebctl_urlb64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct Free {
    void operator()(char *p) const { free(p); }
};
using Text = std::unique_ptr<char, Free>;

class UrlB64Test : public ::testing::Test {
protected:
    void SetUp() override { g_tiiState.lastError = 7; }  // untouched on success
};

TEST_F(UrlB64Test, EncodeUsesTheUrlAlphabet) {
    struct Case {
        std::string in;
        const char *out;
    };
    const Case cases[] = {
        {"A", "QQ~~"},
        {"AB", "QUI~"},
        {"ABC", "QUJD"},
        {"\xfb\xff", "-_8~"},        // "+/8=" in the standard alphabet
        {"\xfb\xef\xbe", "----"},
        {"\xff\xff\xff", "____"},
        {"", ""},
        {"/usr/lib/\xE6\x97\xA5.so", "L3Vzci9saWIv5pel LnNv"},
    };
    for (const auto &c : cases) {
        Text out(TiiUrlB64Encode(c.in.c_str()));
        ASSERT_NE(out, nullptr) << c.in;
        std::string expect = c.out;
        expect.erase(std::remove(expect.begin(), expect.end(), ' '), expect.end());
        EXPECT_EQ(std::string(out.get()), expect) << c.in;
    }
    EXPECT_EQ(g_tiiState.lastError, 7);
}

TEST_F(UrlB64Test, DecodeRoundTripsAndConvertsInPlace) {
    for (std::string in : {"A", "AB", "ABC", "\xfb\xff", "\xff\xfe\xfd\xfc", "text with spaces"}) {
        Text enc(TiiUrlB64Encode(in.c_str()));
        ASSERT_NE(enc, nullptr);
        std::string sent = enc.get();
        Text dec(TiiUrlB64Decode(enc.get()));
        ASSERT_NE(dec, nullptr) << sent;
        EXPECT_EQ(std::string(dec.get()), in);
        // The argument now holds the standard alphabet.
        EXPECT_EQ(std::string(enc.get()).find_first_of("-_~"), std::string::npos);
    }
    char standard[] = "QUI=";  // the standard alphabet is accepted as well
    Text dec(TiiUrlB64Decode(standard));
    ASSERT_NE(dec, nullptr);
    EXPECT_STREQ(dec.get(), "AB");
    char empty[] = "";
    Text none(TiiUrlB64Decode(empty));
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none.get(), "");
    EXPECT_EQ(g_tiiState.lastError, 7);
}

TEST_F(UrlB64Test, FailuresSetTheLastError) {
    struct Case {
        const char *in;
        int err;
    };
    const Case cases[] = {{"QUJ", -1011}, {"QU*D", -1011}, {"QQ~~Q", -1011}, {"\x80\x80\x80\x80", -1011}};
    for (const auto &c : cases) {
        g_tiiState.lastError = 0;
        std::string buf = c.in;
        EXPECT_EQ(TiiUrlB64Decode(buf.data()), nullptr) << c.in;
        EXPECT_EQ(g_tiiState.lastError, c.err) << c.in;
    }
    g_tiiState.lastError = 0;
    EXPECT_EQ(TiiUrlB64Decode(nullptr), nullptr);
    EXPECT_EQ(g_tiiState.lastError, -1001);
    g_tiiState.lastError = 0;
    EXPECT_EQ(TiiUrlB64Encode(nullptr), nullptr);
    EXPECT_EQ(g_tiiState.lastError, -1001);
    g_tiiState.lastError = 0;
    EXPECT_EQ(TiiUrlToB64(nullptr), -1001);
    EXPECT_EQ(g_tiiState.lastError, -1001);
    g_tiiState.lastError = 0;
    EXPECT_EQ(TiiB64ToUrl(nullptr), -1001);
    EXPECT_EQ(g_tiiState.lastError, -1001);
}

TEST_F(UrlB64Test, AlphabetSwapsAreInverse) {
    char text[] = "a+b/c=d-e_f~";
    EXPECT_EQ(TiiB64ToUrl(text), 0);
    EXPECT_STREQ(text, "a-b_c~d-e_f~");
    EXPECT_EQ(TiiUrlToB64(text), 0);
    EXPECT_STREQ(text, "a+b/c=d+e/f=");
}

}  // namespace
