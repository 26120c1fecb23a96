#include "tcore/tcore_errors.h"
#include "tcore/tcore_strlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> items(const tcore_strlist *l) {
    std::vector<std::string> v;
    for (int i = 0; i < tcore_strlist_count(l); ++i) v.emplace_back(tcore_strlist_get(l, i));
    return v;
}

TEST(StrList, OwnsCopiesAndGrows) {
    tcore_strlist *l = tcore_strlist_new();
    EXPECT_EQ(l->capacity, 256);
    char buf[8] = "one";
    ASSERT_EQ(tcore_strlist_append(l, buf), 0);
    buf[0] = 'X';  // the list holds its own copy
    EXPECT_STREQ(tcore_strlist_get(l, 0), "one");
    for (int i = 1; i < 300; ++i) ASSERT_EQ(tcore_strlist_append(l, std::to_string(i).c_str()), 0);
    EXPECT_EQ(tcore_strlist_count(l), 300);
    EXPECT_EQ(l->capacity, 512);
    EXPECT_STREQ(tcore_strlist_get(l, 299), "299");
    EXPECT_EQ(tcore_strlist_get(l, 300), nullptr);
    EXPECT_EQ(tcore_strlist_get(l, -1), nullptr);
    EXPECT_EQ(tcore_strlist_append(l, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_strlist_append(nullptr, "x"), TCORE_ERR_ARG);
    tcore_strlist_clear(l);
    EXPECT_EQ(tcore_strlist_count(l), 0);
    tcore_strlist_free(l);
    tcore_strlist_free(nullptr);
    EXPECT_EQ(tcore_strlist_count(nullptr), 0);
    EXPECT_EQ(tcore_strlist_get(nullptr, 0), nullptr);
}

TEST(StrList, SplitComma) {
    struct Case {
        const char *in;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        {"a,,b,", {"a", "", "b"}},
        {",a", {"", "a"}},
        {"a", {"a"}},
        {",", {""}},
        {"RSA,SM2", {"RSA", "SM2"}},
        {"a,b,,", {"a", "b", ""}},
    };
    for (const auto &c : cases) {
        std::string text = c.in;
        tcore_strlist *l = tcore_strlist_splitComma(text.data());
        ASSERT_NE(l, nullptr) << c.in;
        EXPECT_EQ(items(l), c.out) << c.in;
        tcore_strlist_free(l);
    }
    std::string cut = "x,y";
    tcore_strlist_free(tcore_strlist_splitComma(cut.data()));
    EXPECT_EQ(cut, std::string("x\0y", 3));  // cut in place
    char empty[] = "";
    EXPECT_EQ(tcore_strlist_splitComma(empty), nullptr);
    EXPECT_EQ(tcore_strlist_splitComma(nullptr), nullptr);
}

TEST(StrList, SplitOnSeparator) {
    struct Case {
        const char *in;
        const char *sep;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        {"a||b||", "||", {"a", "b", ""}},
        {"||a", "||", {"", "a"}},
        {"abc", ",", {"abc"}},
        {"a,b,,c", ",", {"a", "b", "", "c"}},
        {"CN=x, O=y", ", ", {"CN=x", "O=y"}},
        {"|||", "||", {"", "|"}},
    };
    for (const auto &c : cases) {
        tcore_strlist *l = nullptr;
        const std::string before = c.in;
        EXPECT_EQ(tcore_strlist_split(c.in, c.sep, &l), static_cast<int>(c.out.size())) << c.in;
        EXPECT_EQ(items(l), c.out) << c.in;
        EXPECT_EQ(before, c.in);  // the input is left alone
        tcore_strlist_free(l);
    }
    // Appends to an existing list.
    tcore_strlist *l = tcore_strlist_new();
    tcore_strlist_append(l, "first");
    EXPECT_EQ(tcore_strlist_split("a;b", ";", &l), 2);
    EXPECT_EQ(items(l), (std::vector<std::string>{"first", "a", "b"}));
    tcore_strlist_free(l);

    l = nullptr;
    EXPECT_EQ(tcore_strlist_split("", ",", &l), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_strlist_split(nullptr, ",", &l), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_strlist_split("a", nullptr, &l), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_strlist_split("a", "", &l), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_strlist_split("a", ",", nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(l, nullptr);
}

}  // namespace
