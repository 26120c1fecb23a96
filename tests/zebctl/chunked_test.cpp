#include "tcore/tcore_datanode.h"
#include "zebctl/zebctl_chunked.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHead = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";

std::string contents(tcore_datanode *node) {
    int len = tcore_datanode_length(node);
    std::string s(static_cast<size_t>(len), '\0');
    if (len > 0) tcore_datanode_copyOut(node, s.data(), len);
    return s;
}

struct Case {
    const char *what;
    std::string request;
    int complete;         // TiiDisposeChunkedData
    int trimmed;          // TiiTrimChunkedData
    std::string body;     // body after trimming (when trimmed)
};

TEST(Chunked, DisposeAndTrimTable) {
    const std::string big(9000, 'b');  // data that spans two node chunks
    char bigSize[16];
    snprintf(bigSize, sizeof bigSize, "%zX", big.size());
    const Case cases[] = {
        {"one chunk", kHead + "5\r\nhello\r\n0\r\n\r\n", 1, 1, "hello"},
        {"several chunks", kHead + "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n", 1, 1, "abcdefg"},
        {"upper-case size", kHead + "A\r\n0123456789\r\n0\r\n\r\n", 1, 1, "0123456789"},
        {"lower-case size", kHead + "a\r\n0123456789\r\n0\r\n\r\n", 1, 1, "0123456789"},
        {"big chunk", kHead + bigSize + "\r\n" + big + "\r\n0\r\n\r\n", 1, 1, big},
        {"only the last chunk", kHead + "0\r\n\r\n", 1, 1, ""},
        {"last chunk still missing", kHead + "3\r\nabc\r\n", 0, 1, "abc"},
        {"data still arriving", kHead + "5\r\nhel", 0, 0, ""},
        {"size line still arriving", kHead + "3\r\nabc\r\n1", 0, 1, "abc"},
        {"chunk not closed by CRLF", kHead + "3\r\nabcX\r\n0\r\n\r\n", 0, 1, "abc"},
        {"bad size character", kHead + "zz\r\nab\r\n0\r\n\r\n", 0, 0, ""},
        {"size with extension", kHead + "3;x=y\r\nabc\r\n0\r\n\r\n", 0, 0, ""},
        {"empty size line", kHead + "\r\nabc\r\n0\r\n\r\n", 0, 0, ""},
        {"size line over 31 characters", kHead + std::string(32, '0') + "3\r\nabc\r\n0\r\n\r\n", 0, 0, ""},
        {"endless size line", kHead + std::string(40, '1'), 0, 0, ""},
        {"huge size", kHead + "FFFFFFFFFFFFFFFFFFFF\r\nabc\r\n0\r\n\r\n", 0, 0, ""},
        {"size beyond the data", kHead + "FFFF\r\nabc\r\n0\r\n\r\n", 0, 0, ""},
        {"no body yet", kHead, 0, 0, ""},
        {"not chunked", "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 0, 0, ""},
        {"NUL byte ends the text", kHead + std::string("3\r\na\0c\r\n0\r\n\r\n", 13), 1, 1, "a"},
    };
    for (const auto &c : cases) {
        tcore_datanode *node = tcore_datanode_new();
        tcore_datanode_append(node, c.request.data(), static_cast<int>(c.request.size()));
        EXPECT_EQ(TiiDisposeChunkedData(node), c.complete) << c.what;
        EXPECT_EQ(TiiTrimChunkedData(node), c.trimmed) << c.what;
        std::string expected = c.trimmed ? kHead + c.body : c.request;  // else untouched
        EXPECT_EQ(contents(node), expected) << c.what;
        tcore_datanode_free(node);
    }
    EXPECT_EQ(TiiDisposeChunkedData(nullptr), 0);
    EXPECT_EQ(TiiTrimChunkedData(nullptr), 0);
}

}  // namespace
