#include "tcore/tcore_datanode.h"
#include "tcore/tcore_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct NodeDeleter {
    void operator()(tcore_datanode *n) const { tcore_datanode_free(n); }
};
using Node = std::unique_ptr<tcore_datanode, NodeDeleter>;

std::vector<int> chunkUse(const tcore_datanode *n) {
    std::vector<int> v;
    for (; n; n = n->next) v.push_back(n->capacity - n->free);
    return v;
}

std::string content(const tcore_datanode *n) {
    std::string s(static_cast<size_t>(tcore_datanode_length(n)), '\0');
    if (!s.empty()) tcore_datanode_copyOut(n, s.data(), static_cast<int>(s.size()));
    return s;
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

TEST(DataNode, NewNodeIsOneEmptyZeroedChunk) {
    Node n(tcore_datanode_new());
    EXPECT_EQ(chunkUse(n.get()), std::vector<int>{0});
    EXPECT_EQ(n->capacity, 8192);
    EXPECT_EQ(n->free, 8192);
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(n->data[i], 0);
}

TEST(DataNode, ChunkBoundaries) {
    struct Case {
        std::vector<int> appends;
        std::vector<int> chunks;
    };
    const Case cases[] = {
        {{8192}, {8192}},
        {{8192, 1}, {8192, 1}},
        {{20000}, {8192, 8192, 3616}},
        {{8191, 2}, {8192, 1}},
        {{100, 8092, 8192, 5}, {8192, 8192, 5}},
    };
    for (const auto &c : cases) {
        Node n(tcore_datanode_new());
        std::string all;
        for (int len : c.appends) {
            std::string part = pattern(static_cast<size_t>(len));
            part[0] = static_cast<char>('A' + all.size() % 26);
            EXPECT_EQ(tcore_datanode_append(n.get(), part.data(), len), len);
            all += part;
        }
        EXPECT_EQ(chunkUse(n.get()), c.chunks);
        EXPECT_EQ(tcore_datanode_length(n.get()), static_cast<int>(all.size()));
        EXPECT_EQ(content(n.get()), all);
    }
}

TEST(DataNode, AppendRejectsNothingToDo) {
    Node n(tcore_datanode_new());
    EXPECT_EQ(tcore_datanode_append(n.get(), nullptr, 3), 0);
    EXPECT_EQ(tcore_datanode_append(n.get(), "abc", 0), 0);
    EXPECT_EQ(tcore_datanode_append(n.get(), "abc", -1), 0);
    EXPECT_EQ(tcore_datanode_append(nullptr, "abc", 3), 0);
    EXPECT_EQ(tcore_datanode_appendString(n.get(), nullptr), 0);
    EXPECT_EQ(tcore_datanode_length(n.get()), 0);
    EXPECT_EQ(tcore_datanode_appendString(n.get(), "x="), 2);
    EXPECT_EQ(tcore_datanode_appendInt(n.get(), -2036), 5);
    EXPECT_EQ(content(n.get()), "x=-2036");
    EXPECT_EQ(tcore_datanode_length(nullptr), 0);
}

TEST(DataNode, ResetKeepsOneEmptyChunk) {
    Node n(tcore_datanode_new());
    std::string big = pattern(20000);
    tcore_datanode_append(n.get(), big.data(), 20000);
    EXPECT_EQ(tcore_datanode_reset(n.get()), n.get());
    EXPECT_EQ(chunkUse(n.get()), std::vector<int>{0});
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(n->data[i], 0);
    tcore_datanode_appendString(n.get(), "POST");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(n->data), 4), "POST");
    EXPECT_EQ(tcore_datanode_reset(nullptr), nullptr);
}

TEST(DataNode, PositionalAccessAcrossChunks) {
    Node n(tcore_datanode_new());
    std::string s = pattern(20000);
    tcore_datanode_append(n.get(), s.data(), 20000);
    for (int off : {0, 8191, 8192, 16383, 16384, 19999})
        EXPECT_EQ(tcore_datanode_byteAt(n.get(), off), static_cast<unsigned char>(s[off])) << off;
    EXPECT_EQ(tcore_datanode_byteAt(n.get(), -1), 0);
    EXPECT_EQ(tcore_datanode_byteAt(n.get(), 20000), 0);

    char buf[100];
    EXPECT_EQ(tcore_datanode_getSubData(n.get(), 8180, buf, 30), 30);
    EXPECT_EQ(std::string(buf, 30), s.substr(8180, 30));
    EXPECT_EQ(tcore_datanode_getSubData(n.get(), 19990, buf, 100), 10);
    EXPECT_EQ(std::string(buf, 10), s.substr(19990));
    EXPECT_EQ(tcore_datanode_getSubData(n.get(), 20000, buf, 1), TCORE_ERR_OFFSET);
    EXPECT_EQ(tcore_datanode_getSubData(n.get(), -1, buf, 1), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_datanode_getSubData(n.get(), 0, nullptr, 1), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_datanode_getSubData(n.get(), 0, buf, -1), TCORE_ERR_ARG);

    EXPECT_EQ(tcore_datanode_copyOut(n.get(), buf, 0), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_datanode_copyOut(n.get(), nullptr, 5), TCORE_ERR_ARG);

    EXPECT_EQ(tcore_datanode_putBrace(n.get(), 8192), 0);
    EXPECT_EQ(tcore_datanode_byteAt(n.get(), 8192), '}');
    EXPECT_EQ(tcore_datanode_putBrace(n.get(), 20000), TCORE_ERR_OFFSET);
    EXPECT_EQ(tcore_datanode_putBrace(n.get(), -1), TCORE_ERR_OFFSET);
    EXPECT_EQ(tcore_datanode_length(n.get()), 20000);
}

TEST(DataNode, FindAcrossChunkBoundary) {
    Node n(tcore_datanode_new());
    std::string head(8190, 'h');
    head += "\r\n\r\nbody";  // the blank line straddles the first boundary
    tcore_datanode_append(n.get(), head.data(), static_cast<int>(head.size()));
    ASSERT_EQ(chunkUse(n.get()).size(), 2u);

    struct Case {
        int start;
        const char *text;
        int expect;
    };
    const Case cases[] = {
        {0, "\r\n\r\n", 8190}, {8190, "\r\n\r\n", 8190}, {8191, "\r\n\r\n", -1},
        {0, "body", 8194},     {8194, "body", 8194},     {8195, "body", -1},
        {0, "bodyX", -1},      {9000, "b", -1},          {0, "hh\r", 8188},
        {0, "", TCORE_ERR_ARG}, {-1, "b", TCORE_ERR_ARG},
    };
    for (const auto &c : cases)
        EXPECT_EQ(tcore_datanode_findString(n.get(), c.start, c.text), c.expect) << c.start << " " << c.text;
    EXPECT_EQ(tcore_datanode_findString(n.get(), 0, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_datanode_find(n.get(), 0, "b", 0), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_datanode_find(n.get(), 0, nullptr, 1), TCORE_ERR_ARG);
    // Binary pattern with a NUL byte.
    Node b(tcore_datanode_new());
    tcore_datanode_append(b.get(), "a\0b\0c", 5);
    EXPECT_EQ(tcore_datanode_find(b.get(), 0, "b\0c", 3), 2);
}

TEST(DataNode, StartsWithSkipsLeadingWhiteSpace) {
    struct Case {
        const char *content;
        const char *prefix;
        int expect;
    };
    const Case cases[] = {
        {"POST / HTTP/1.1", "POST", 1}, {"\r\n \tPOST /", "POST", 1}, {"post /", "POST", 0},
        {"GET /", "POST", 0},          {"  PO", "POST", 0},          {"", "POST", 0},
        {"   ", "POST", 0},
    };
    for (const auto &c : cases) {
        Node n(tcore_datanode_new());
        tcore_datanode_appendString(n.get(), c.content);
        EXPECT_EQ(tcore_datanode_startsWith(n.get(), c.prefix, 4), c.expect) << c.content;
    }
    // Leading white space running over a chunk boundary.
    Node n(tcore_datanode_new());
    std::string s(8192, ' ');
    s += "POST";
    tcore_datanode_append(n.get(), s.data(), static_cast<int>(s.size()));
    EXPECT_EQ(tcore_datanode_startsWith(n.get(), "POST", 4), 1);
    EXPECT_EQ(tcore_datanode_startsWith(n.get(), "POST", 0), 0);
    EXPECT_EQ(tcore_datanode_startsWith(nullptr, "POST", 4), 0);
}

TEST(DataNode, SpaceChunkGrowsTheChain) {
    Node n(tcore_datanode_new());
    EXPECT_EQ(tcore_datanode_spaceChunk(n.get()), n.get());
    std::string s(8192, 'x');
    tcore_datanode_append(n.get(), s.data(), 8192);
    tcore_datanode *c = tcore_datanode_spaceChunk(n.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(n->next, c);
    EXPECT_EQ(c->free, 8192);
    EXPECT_EQ(tcore_datanode_spaceChunk(nullptr), nullptr);
}

}  // namespace

namespace {

// The node agrees with a flat string on every positional operation, for
// contents and appends of every size around the chunk boundaries.
TEST(DataNode, AgreesWithAFlatString) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        Node n(tcore_datanode_new());
        std::string flat;
        int appends = 1 + static_cast<int>(rng() % 6);
        for (int a = 0; a < appends; ++a) {
            int len = static_cast<int>(rng() % 9000);
            std::string part(static_cast<size_t>(len), '\0');
            for (auto &ch : part) ch = static_cast<char>('a' + rng() % 3);  // small alphabet: many near-matches
            tcore_datanode_append(n.get(), part.data(), len);
            flat += part;
        }
        ASSERT_EQ(tcore_datanode_length(n.get()), static_cast<int>(flat.size()));
        for (int probe = 0; probe < 20 && !flat.empty(); ++probe) {
            int start = static_cast<int>(rng() % flat.size());
            int plen = 1 + static_cast<int>(rng() % 6);
            std::string pat(static_cast<size_t>(plen), '\0');
            for (auto &ch : pat) ch = static_cast<char>('a' + rng() % 3);
            size_t want = flat.find(pat, static_cast<size_t>(start));
            EXPECT_EQ(tcore_datanode_find(n.get(), start, pat.data(), plen),
                      want == std::string::npos ? -1 : static_cast<int>(want));
            int off = static_cast<int>(rng() % flat.size());
            EXPECT_EQ(tcore_datanode_byteAt(n.get(), off), static_cast<unsigned char>(flat[off]));
            char buf[300];
            int got = tcore_datanode_getSubData(n.get(), off, buf, static_cast<int>(sizeof buf));
            ASSERT_EQ(got, static_cast<int>(std::min(sizeof buf, flat.size() - off)));
            EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), flat.substr(off, static_cast<size_t>(got)));
        }
    }
}

}  // namespace
