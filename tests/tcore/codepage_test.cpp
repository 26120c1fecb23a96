#include "tcore/tcore_codepage.h"
#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_lines;
void captureSink(const char *text) { g_lines.emplace_back(text); }

class CodePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        tcore_log_sink = captureSink;
    }
    void TearDown() override { tcore_log_sink = nullptr; }
};

struct Utf8Case {
    const char *utf8;
    std::u16string wide;
};

const Utf8Case kValid[] = {
    {"A", u"A"},
    {"/usr/lib/x.so", u"/usr/lib/x.so"},
    {"\xC3\xA9", u"\u00E9"},                  // two bytes
    {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},  // three bytes each
    {"\xEF\xBF\xBF", u"\uFFFF"},
    {"\xF0\x9F\x98\x80", u"\U0001F600"},      // a surrogate pair
    {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
};

TEST_F(CodePageTest, ValidTextRoundTripsInEveryDirection) {
    for (const auto &c : kValid) {
        char16_t *w = nullptr;
        ASSERT_EQ(tcore_utf8ToWide(c.utf8, 0, &w), static_cast<int>(c.wide.size())) << c.utf8;
        EXPECT_EQ(std::u16string(w), c.wide);
        EXPECT_EQ(w[c.wide.size()], 0);
        free(w);
        ASSERT_EQ(tcore_ansiToWide(c.utf8, &w), static_cast<int>(c.wide.size()));
        free(w);

        char *s = nullptr;
        ASSERT_EQ(tcore_wideToUtf8(c.wide.c_str(), 0, &s), static_cast<int>(strlen(c.utf8)));
        EXPECT_STREQ(s, c.utf8);
        free(s);
        ASSERT_EQ(tcore_wideToAnsi(c.wide.c_str(), static_cast<int>(c.wide.size()), &s),
                  static_cast<int>(strlen(c.utf8)));
        EXPECT_STREQ(s, c.utf8);
        free(s);
        ASSERT_EQ(tcore_ansiToUtf8(c.utf8, &s), static_cast<int>(strlen(c.utf8)));
        EXPECT_STREQ(s, c.utf8);
        free(s);
        ASSERT_EQ(tcore_utf8ToAnsi(c.utf8, 0, &s), static_cast<int>(strlen(c.utf8)));
        EXPECT_STREQ(s, c.utf8);
        free(s);
    }
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(CodePageTest, LengthsAndCountsLimitTheInput) {
    char16_t *w = nullptr;
    EXPECT_EQ(tcore_utf8ToWide("abcdef", 3, &w), 3);
    EXPECT_EQ(std::u16string(w), u"abc");
    free(w);
    char *s = nullptr;
    EXPECT_EQ(tcore_wideToUtf8(u"abcdef", 2, &s), 2);
    EXPECT_STREQ(s, "ab");
    free(s);
    // Up to the terminator: an empty wide string is an empty result.
    EXPECT_EQ(tcore_wideToAnsi(u"", 0, &s), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    free(s);
}

TEST_F(CodePageTest, InvalidAndEmptyInputFailWithTheDirectionsCode) {
    const char *invalid[] = {
        "\x80",              // lone continuation byte
        "\xC3",              // truncated
        "a\xE4\xB8",         // truncated three-byte sequence
        "\xC0\xAF",          // overlong "/"
        "\xE0\x80\xAF",      // overlong
        "\xED\xA0\x80",      // surrogate encoded in UTF-8
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xFF",
        "",                  // empty input
    };
    for (const char *in : invalid) {
        char16_t *w = reinterpret_cast<char16_t *>(1);
        EXPECT_EQ(tcore_ansiToWide(in, &w), TCORE_ERR_ANSI_TO_WIDE) << in;
        EXPECT_EQ(w, nullptr);
        EXPECT_EQ(tcore_utf8ToWide(in, 0, &w), TCORE_ERR_UTF8_TO_WIDE) << in;
        char *s = nullptr;
        EXPECT_EQ(tcore_ansiToUtf8(in, &s), TCORE_ERR_ANSI_TO_WIDE) << in;
        EXPECT_EQ(tcore_utf8ToAnsi(in, 0, &s), TCORE_ERR_UTF8_TO_WIDE) << in;
        EXPECT_EQ(s, nullptr);
    }
    const std::u16string badWide[] = {
        std::u16string(1, char16_t(0xD800)),
        std::u16string(1, char16_t(0xDC00)),
        std::u16string{u'a', char16_t(0xD83D), u'b'},
    };
    for (const auto &in : badWide) {
        char *s = nullptr;
        EXPECT_EQ(tcore_wideToAnsi(in.c_str(), 0, &s), TCORE_ERR_WIDE_TO_ANSI);
        EXPECT_EQ(tcore_wideToUtf8(in.c_str(), static_cast<int>(in.size()), &s), TCORE_ERR_WIDE_TO_UTF8);
        EXPECT_EQ(s, nullptr);
    }
    // A pair cut by the count is invalid too.
    char *s = nullptr;
    EXPECT_EQ(tcore_wideToUtf8(u"\U0001F600", 1, &s), TCORE_ERR_WIDE_TO_UTF8);

    // Each failure names the system call it stands for, with its error.
    ASSERT_FALSE(g_lines.empty());
    EXPECT_NE(g_lines.front().find(std::to_string(EILSEQ) + ", MultiByteToWideChar"), std::string::npos)
        << g_lines.front();
    EXPECT_NE(g_lines.back().find(std::to_string(EILSEQ) + ", WideCharToMultiByte"), std::string::npos)
        << g_lines.back();
}

TEST_F(CodePageTest, NullArguments) {
    char16_t *w = nullptr;
    char *s = nullptr;
    EXPECT_EQ(tcore_ansiToWide(nullptr, &w), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_ansiToWide("a", nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_utf8ToWide(nullptr, 1, &w), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_wideToAnsi(nullptr, 1, &s), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_wideToUtf8(u"a", 1, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_ansiToUtf8(nullptr, &s), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_utf8ToAnsi("a", 1, nullptr), TCORE_ERR_ARG);
    ASSERT_FALSE(g_lines.empty());
    EXPECT_NE(g_lines[0].find("tcore_ansiToWide arg text is NULL"), std::string::npos) << g_lines[0];
}

}  // namespace
