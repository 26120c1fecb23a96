#include "tcore/tcore_errors.h"
#include "tnet/tnet_httpmsg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string content(const tcore_datanode *n) {
    std::string s(static_cast<size_t>(tcore_datanode_length(n)), '\0');
    if (!s.empty()) tcore_datanode_copyOut(n, s.data(), static_cast<int>(s.size()));
    return s;
}

struct Msg {
    tnet_httpmsg *m = tnet_httpmsg_new();
    tcore_datanode *head = tcore_datanode_new();
    ~Msg() {
        tnet_httpmsg_free(m);
        tcore_datanode_free(head);
    }
};

TEST(HttpMsg, NewMessageDefaults) {
    Msg x;
    EXPECT_EQ(x.m->version, 1);
    EXPECT_EQ(x.m->status, 0);
    EXPECT_EQ(tcore_list_count(x.m->headers), 0);
    EXPECT_EQ(tcore_datanode_length(x.m->body), 0);
    EXPECT_EQ(sizeof(tnet_httpheader), 3136u);
}

TEST(HttpMsg, HeadSerialisation) {
    struct Case {
        int version;
        int status;
        const char *expect;
    };
    const Case cases[] = {
        {1, 200, "HTTP/1.1 200 OK\r\nContent-Type:text/html;charset=UTF-8\r\nContent-Length:11\r\n\r\n"},
        {1, 0, "HTTP/1.1 200 OK\r\nContent-Type:text/html;charset=UTF-8\r\nContent-Length:11\r\n\r\n"},
        {0, 404, "HTTP/1.0 404 Not Found\r\nContent-Type:text/html;charset=UTF-8\r\nContent-Length:11\r\n\r\n"},
        {2, 505, "HTTP/1.0 505 HTTP Version not supported\r\nContent-Type:text/html;charset=UTF-8\r\nContent-Length:11\r\n\r\n"},
    };
    for (const auto &c : cases) {
        Msg x;
        x.m->version = c.version;
        x.m->status = c.status;
        ASSERT_EQ(tnet_httpmsg_setContentType(x.m), 0);
        ASSERT_EQ(tnet_httpmsg_setContentLength(x.m, 11), 0);
        ASSERT_EQ(tnet_httpmsg_appendBody(x.m, 0, "{\"err\":\"0\"}"), 11);
        tcore_datanode_appendString(x.head, "stale bytes from the last answer");
        EXPECT_EQ(createHeader(x.head, x.m), static_cast<int>(strlen(c.expect)));
        EXPECT_EQ(content(x.head), c.expect);
        EXPECT_EQ(content(x.m->body), "{\"err\":\"0\"}");  // the body stays out of the head
    }
}

TEST(HttpMsg, HeadersKeepOrderDuplicatesAndAreCut) {
    Msg x;
    std::string longName(70, 'N');
    std::string longValue(4000, 'v');
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, "Connection", "close"), 0);
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, longName.c_str(), "1"), 0);
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, "X", longValue.c_str()), 0);
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, "Connection", "close"), 0);
    ASSERT_EQ(tcore_list_count(x.m->headers), 4);
    auto *h1 = static_cast<tnet_httpheader *>(tcore_list_get(x.m->headers, 1));
    EXPECT_EQ(std::string(h1->name), longName.substr(0, 63));
    auto *h2 = static_cast<tnet_httpheader *>(tcore_list_get(x.m->headers, 2));
    EXPECT_EQ(strlen(h2->value), 3071u);
    ASSERT_GT(createHeader(x.head, x.m), 0);
    std::string head = content(x.head);
    EXPECT_EQ(head.find("Connection:close\r\n"), 17u);
    EXPECT_NE(head.find("\r\nConnection:close\r\n\r\n"), std::string::npos);
}

TEST(HttpMsg, BadArguments) {
    Msg x;
    EXPECT_EQ(tnet_httpmsg_addHeader(nullptr, "a", "b"), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, "", "b"), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, "a", ""), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_addHeader(x.m, nullptr, "b"), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_setContentType(nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_setContentLength(nullptr, 1), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_appendBody(x.m, 3, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_appendBody(nullptr, 3, "abc"), TCORE_ERR_ARG);
    EXPECT_EQ(tnet_httpmsg_appendBody(x.m, 2, "abc"), 2);
    EXPECT_EQ(createHeader(nullptr, x.m), TCORE_ERR_ARG);
    EXPECT_EQ(createHeader(x.head, nullptr), TCORE_ERR_ARG);
    tnet_httpmsg_free(nullptr);

    tcore_datanode_appendString(x.head, "kept");
    x.m->status = 306;
    EXPECT_EQ(createHeader(x.head, x.m), TNET_ERR_NO_REASON);
    EXPECT_EQ(content(x.head), "kept");
}

TEST(HttpMsg, ReasonPhrases) {
    struct Case {
        int status;
        const char *phrase;
    };
    const Case cases[] = {
        {0, "OK"},           {-5, "OK"},
        {200, "OK"},         {100, "Continue"},
        {307, "Temporary Redirect"},
        {400, "Bad Request"}, {401, "Unauthorized"},
        {402, "Payment Required"}, {408, "Request Time-out"},
        {414, "Request-URI Too Large"}, {416, "Requested range not satisfiable"},
        {500, "Internal Server Error"}, {501, "Not Implemented"},
        {504, "Gateway Time-out"}, {505, "HTTP Version not supported"},
        {306, nullptr},      {418, nullptr},
        {102, nullptr},      {506, nullptr},
    };
    for (const auto &c : cases) {
        const char *p = tnet_httpmsg_reasonPhrase(c.status);
        if (c.phrase) {
            ASSERT_NE(p, nullptr) << c.status;
            EXPECT_STREQ(p, c.phrase) << c.status;
        } else {
            EXPECT_EQ(p, nullptr) << c.status;
        }
    }
    // Every code RFC 2616 defines has a phrase.
    const int defined[] = {100, 101, 200, 201, 202, 203, 204, 205, 206, 300, 301, 302, 303, 304,
                           305, 307, 400, 401, 402, 403, 404, 405, 406, 407, 408, 409, 410, 411,
                           412, 413, 414, 415, 416, 417, 500, 501, 502, 503, 504, 505};
    for (int s : defined) EXPECT_NE(tnet_httpmsg_reasonPhrase(s), nullptr) << s;
}

}  // namespace
