#include "tcore/tcore_datanode.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"
#include "zebctl/zebctl_errors.h"
#include "zebctl/zebctl_request.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class Parser : public ::testing::Test {
protected:
    void TearDown() override {
        tcore_kvlist_clear(fields_);
        tcore_list_free(fields_);
        tcore_datanode_free(node_);
    }
    int parse(const std::string &request) {
        tcore_kvlist_clear(fields_);
        tcore_datanode_reset(node_);
        tcore_datanode_append(node_, request.data(), static_cast<int>(request.size()));
        return ParseReqContent_Ex(node_, fields_);
    }
    Pairs pairs() {
        Pairs out;
        for (int i = 0; i < tcore_list_count(fields_); i++) {
            auto *f = static_cast<TiiReqField *>(tcore_list_get(fields_, i));
            out.emplace_back(f->name, f->value ? f->value : "(null)");
        }
        return out;
    }
    tcore_datanode *node_ = tcore_datanode_new();
    tcore_list *fields_ = tcore_list_new(free);
};

const std::string kHead = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 99\r\n\r\n";

TEST_F(Parser, BodiesBecomeFields) {
    struct Case {
        std::string body;
        Pairs expected;
    } cases[] = {
        {"oriData=YWJj&algType=ALL&method=Tii_Sign&",
         {{"oriData", "YWJj"}, {"algType", "ALL"}, {"method", "Tii_Sign"}}},
        {"method=Tii_Sign", {}},                        // no closing "&"
        {"a=1&tail-without-amp", {{"a", "1"}}},          // text after the last "&" is ignored
        {"sig=QUJD==&", {{"sig", "QUJD=="}}},            // "=" inside a value
        {"x=1&x=2&", {{"x", "1"}}},                      // first value wins
        {"=lost&a=1&", {{"a", "1"}}},                    // empty name skipped
        {"a=&b=2&", {{"a", ""}, {"b", "2"}}},            // empty value kept
        {"a&b=c&", {}},                                  // "&" before "=" ends the parse
        {"abc&", {}},                                    // no "=" at all
        {"v=\xe4\xb8\xad%41+&", {{"v", "\xe4\xb8\xad%41+"}}},  // bytes, no decoding
        {"Method=Tii_GetVersion&", {{"Method", "Tii_GetVersion"}}},
        {"", {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(parse(kHead + c.body), 0) << c.body;
        EXPECT_EQ(pairs(), c.expected) << c.body;
    }
}

TEST_F(Parser, RefusesWhatIsNotAPostWithHeaders) {
    struct Case {
        std::string request;
        int rc;
    } cases[] = {
        {"GET / HTTP/1.1\r\n\r\nmethod=x&", TII_ERR_NOT_POST},
        {"post / HTTP/1.1\r\n\r\nmethod=x&", TII_ERR_NOT_POST},
        {"", TII_ERR_NOT_POST},
        {std::string("\x00\xff\x10garbage", 10), TII_ERR_NOT_POST},
        {"POST / HTTP/1.1\r\nContent-Length: 9\r\nmethod=x&", TII_ERR_NO_HEADER_END},
        {"\r\n\r\nPOST / HTTP/1.1\r\n\r\nmethod=x&", TII_ERR_NO_HEADER_END},  // blank line at 0
        {" \t\r\nPOST / HTTP/1.1\r\n\r\nmethod=x&", 0},  // leading white space is skipped
        {"POST\r\n\r\n", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(parse(c.request), c.rc) << c.request;
    EXPECT_EQ(ParseReqContent_Ex(nullptr, fields_), TII_ERR_ARG);
    EXPECT_EQ(ParseReqContent_Ex(node_, nullptr), TII_ERR_ARG);
}

TEST_F(Parser, HugeNamesAndValuesAcrossChunks) {
    std::string hugeName(1 << 20, 'N');
    std::string value(20000, 'v');
    std::string body = hugeName + "=x&data=" + value + "&method=Tii_GetVersion&";
    ASSERT_EQ(parse(kHead + body), 0);
    Pairs got = pairs();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].first, std::string(63, 'N'));
    EXPECT_EQ(got[1].second, value);
    EXPECT_STREQ(tcore_kvlist_get(fields_, "method"), "Tii_GetVersion");
}

TEST_F(Parser, FieldCountIsBounded) {
    std::string body;
    for (int i = 0; i < 100000; i++) body += "f" + std::to_string(i) + "=&";
    body += "method=Tii_GetVersion&";
    ASSERT_EQ(parse(kHead + body), 0);
    EXPECT_EQ(tcore_list_count(fields_), TII_REQUEST_MAX_FIELDS);
    EXPECT_STREQ(tcore_kvlist_get(fields_, "f255"), "");
    EXPECT_EQ(tcore_kvlist_get(fields_, "f256"), nullptr);
    EXPECT_EQ(tcore_kvlist_get(fields_, "method"), nullptr);
}

TEST_F(Parser, BinaryBytesDoNotBreakIt) {
    std::string body("a\0b=1&c=\0\xff&\xfe\xfd=2&", 16);
    EXPECT_EQ(parse(kHead + body), 0);
    // Names and values are C texts: a NUL byte ends them.
    EXPECT_STREQ(tcore_kvlist_get(fields_, "a"), "1");
    EXPECT_STREQ(tcore_kvlist_get(fields_, "c"), "");
    EXPECT_STREQ(tcore_kvlist_get(fields_, "\xfe\xfd"), "2");
}

TEST(AppendItem, WritesQuotedItemsUnescaped) {
    tcore_datanode *node = tcore_datanode_new();
    EXPECT_EQ(TiiAppendItem(node, "version", "4.0.0"), 0);
    EXPECT_EQ(TiiAppendItem(node, "q", "a\"b"), 0);
    EXPECT_EQ(TiiAppendItem(nullptr, "a", "b"), TII_ERR_ARG);
    EXPECT_EQ(TiiAppendItem(node, nullptr, "b"), TII_ERR_ARG);
    EXPECT_EQ(TiiAppendItem(node, "a", nullptr), TII_ERR_ARG);
    int len = tcore_datanode_length(node);
    std::string out(static_cast<size_t>(len), '\0');
    tcore_datanode_copyOut(node, out.data(), len);
    EXPECT_EQ(out, "\"version\":\"4.0.0\",\"q\":\"a\"b\",");
    tcore_datanode_free(node);
}

}  // namespace
