// Random requests built from the tokens the request routines look for:
// whatever the bytes, nothing reads or writes outside its buffers (the
// sanitizer build checks that) and the results stay within their contracts.
#include "tcore/tcore_datanode.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"
#include "zebctl/zebctl_answer.h"
#include "zebctl/zebctl_chunked.h"
#include "zebctl/zebctl_request.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

std::string randomRequest(std::mt19937 &rng) {
    static const char *const tokens[] = {
        "POST / HTTP/1.1", "\r\n", "\r\n\r\n", "=", "&", "Content-Length: ", "Transfer-Encoding:",
        "0", "1", "9", "A", "f", "FFFFFFFF", "method", "Tii_GetVersion", " ", "\x00", "\xff", "-",
    };
    std::uniform_int_distribution<int> count(0, 60), pick(0, sizeof tokens / sizeof *tokens), byte(0, 255);
    std::string out;
    for (int n = count(rng); n > 0; n--) {
        size_t t = static_cast<size_t>(pick(rng));
        if (t == sizeof tokens / sizeof *tokens) out.push_back(static_cast<char>(byte(rng)));
        else if (tokens[t][0] == '\0') out.push_back('\0');
        else out += tokens[t];
    }
    return out;
}

TEST(Robustness, RandomRequests) {
    std::mt19937 rng(20240507);
    tcore_datanode *node = tcore_datanode_new();
    tcore_list *fields = tcore_list_new(free);
    for (int i = 0; i < 3000; i++) {
        std::string req = randomRequest(rng);
        tcore_datanode_reset(node);
        tcore_datanode_append(node, req.data(), static_cast<int>(req.size()));

        TiiReqProgress p;
        TiiReqProgressReset(&p);
        int verdict = TiiContentLengthRule(&p, node, 0, i % 2);
        EXPECT_TRUE(verdict == TII_REQ_INCOMPLETE || verdict == TII_REQ_COMPLETE || verdict == TII_REQ_REFUSED);
        EXPECT_LE(strlen(p.contentLen), 15u);

        int rc = ParseReqContent_Ex(node, fields);
        EXPECT_LE(rc, 0);
        for (int k = 0; k < tcore_list_count(fields); k++) {
            auto *f = static_cast<TiiReqField *>(tcore_list_get(fields, k));
            EXPECT_LT(strlen(f->name), sizeof f->name);
        }
        tcore_kvlist_clear(fields);

        int complete = TiiDisposeChunkedData(node);
        EXPECT_TRUE(complete == 0 || complete == 1);
        int trimmed = TiiTrimChunkedData(node);
        EXPECT_TRUE(trimmed == 0 || trimmed == 1);
        EXPECT_LE(tcore_datanode_length(node), static_cast<int>(req.size()));
    }
    tcore_list_free(fields);
    tcore_datanode_free(node);
}

}  // namespace
