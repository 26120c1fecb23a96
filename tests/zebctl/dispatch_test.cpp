#include "sealdesk_test.h"
#include "sealdesk_urlb64.h"

#include "tcore/tcore_base64.h"
#include "tcore/tcore_datanode.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"
#include "zeb_acx_log.h"
#include "zebctl/zebctl_answer.h"
#include "zebctl/zebctl_dispatch.h"
#include "zebctl/zebctl_errors.h"
#include "zebctl/zebctl_request.h"
#include "zebctl/zebctl_state.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

namespace {

using sealdesk_test::urlB64;

class Dispatch : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        TiiStateReset();
    }
    void TearDown() override {
        zeb_acx_log_close();
        tcore_kvlist_clear(fields_);
        tcore_list_free(fields_);
        tcore_datanode_free(json_);
        TiiStateReset();
        HomeTest::TearDown();
    }
    // Answers a request body ("name=value&..."), the way the server does.
    std::string call(const std::string &body) {
        tcore_kvlist_clear(fields_);
        tcore_datanode_reset(json_);
        tcore_datanode *req = tcore_datanode_new();
        std::string request = "POST / HTTP/1.1\r\n\r\n" + body;
        tcore_datanode_append(req, request.data(), static_cast<int>(request.size()));
        EXPECT_EQ(ParseReqContent_Ex(req, fields_), 0);
        tcore_datanode_free(req);
        lastRc_ = TiiBuildAnswerBody(json_, fields_, logSteps_);
        int len = tcore_datanode_length(json_);
        std::string out(static_cast<size_t>(len), '\0');
        tcore_datanode_copyOut(json_, out.data(), len);
        TiiReleaseRequestResults();
        return out;
    }
    tcore_list *fields_ = tcore_list_new(free);
    tcore_datanode *json_ = tcore_datanode_new();
    int lastRc_ = 0;
    int logSteps_ = 0;
};

TEST_F(Dispatch, FixedAnswers) {
    struct Case {
        const char *body;
        const char *answer;
    } cases[] = {
        {"method=Tii_GetVersion&", R"({"version":"4.0.0","err":"0"})"},
        {"method=tii_getversion&", R"({"version":"4.0.0","err":"0"})"},
        {"method=TII_GETVERSION&", R"({"version":"4.0.0","err":"0"})"},
        {"method=Tii_GetUUID&", R"({"UUID":"35EF7549-2477-46ec-9770-A50C9D94FC8C","err":"0"})"},
        {"method=Tii_Foo&", R"({"err":"-2036"})"},
        {"method=&", R"({"err":"-2036"})"},
        {"", R"({"err":"-2036"})"},
        {"Method=Tii_GetVersion&", R"({"err":"-2036"})"},  // field names are case-sensitive
        {"method=Tii_GetVersion&method=Tii_Foo&", R"({"version":"4.0.0","err":"0"})"},
        {"method=Tii_GetVersionX&", R"({"err":"-2036"})"},
        {"method=Tii_Init&", R"({"err":"0"})"},
        {"method=Tii_Clean&", R"({"err":"0"})"},
        {"method=Tii_UnSetLog&", R"({"err":"0"})"},
    };
    for (const auto &c : cases) EXPECT_EQ(call(c.body), c.answer) << c.body;
}

TEST_F(Dispatch, LastErrorIsReportedOnceThenCleared) {
    EXPECT_EQ(call("method=Tii_Foo&"), R"({"err":"-2036"})");
    EXPECT_EQ(lastRc_, TII_ERR_NO_METHOD);
    EXPECT_EQ(call("method=Tii_GetLastError&"), R"({"errCode":"-2036","err":"0"})");
    EXPECT_EQ(call("method=Tii_GetLastError&"), R"({"errCode":"0","err":"0"})");
}

TEST_F(Dispatch, CspLastErrorLeavesTheLastError) {
    call("method=Tii_SetAlgType&algType=9&");
    std::string answer = call("method=Tii_GetCspLastError&");
    EXPECT_EQ(answer.rfind(R"({"cspErrcode":")", 0), 0u) << answer;
    EXPECT_NE(answer.find(R"(","err":"-2035"})"), std::string::npos) << answer;
    EXPECT_EQ(g_tiiState.lastError, TII_ERR_ALG);
}

TEST_F(Dispatch, SetAlgType) {
    struct Case {
        const char *body;
        int err;
        int alg;  // digest algorithm afterwards (starts at MD5 each time)
    } cases[] = {
        {"algType=0&", 0, 102}, {"algType=1&", 0, 103}, {"algType=2&", 0, 101},
        {"algType=3&", 0, 105}, {"algType=4&", 0, 104}, {"algType=5&", 0, 110},
        {"algType=x&", 0, 102},           // no digits reads as 0
        {"algType= 3abc&", 0, 105},       // leading digits, as atoi reads them
        {"algType=6&", TII_ERR_ALG, 101}, {"algType=7&", TII_ERR_ALG, 101},
        {"algType=-1&", TII_ERR_ALG, 101},
        {"algType=99999999999999999999&", TII_ERR_ALG, 101},
        {"algType=&", TII_ERR_ARG, 101},  {"", TII_ERR_ARG, 101},
    };
    for (const auto &c : cases) {
        g_tiiState.hashAlg = 101;
        std::string answer = call(std::string("method=Tii_SetAlgType&") + c.body);
        EXPECT_EQ(answer, "{\"err\":\"" + std::to_string(c.err) + "\"}") << c.body;
        EXPECT_EQ(g_tiiState.hashAlg, c.alg) << c.body;
    }
}

TEST_F(Dispatch, InitAndCleanClearResults) {
    auto fill = [] {
        g_tiiState.hashAlg = 110;
        g_tiiState.signData = strdup("sig");
        g_tiiState.signDataLen = 3;
        g_tiiState.cspList = strdup("csp");
        TiiStateSetText(g_tiiState.signCert, sizeof g_tiiState.signCert, "cert");
        g_tiiState.signCertLen = 4;
        TiiStateSetText(g_tiiState.certDn, sizeof g_tiiState.certDn, "CN=x");
        TiiStateSetText(g_tiiState.validTo, sizeof g_tiiState.validTo, "2030");
        TiiStateSetText(g_tiiState.filePath, sizeof g_tiiState.filePath, "/tmp/f");
    };
    fill();
    call("method=Tii_Clean&");
    EXPECT_EQ(g_tiiState.hashAlg, 110);  // Clean keeps the digest
    EXPECT_EQ(g_tiiState.signData, nullptr);
    EXPECT_EQ(g_tiiState.signDataLen, 0);
    EXPECT_EQ(g_tiiState.cspList, nullptr);
    EXPECT_STREQ(g_tiiState.signCert, "");
    EXPECT_EQ(g_tiiState.signCertLen, 0);
    EXPECT_STREQ(g_tiiState.certDn, "");
    EXPECT_STREQ(g_tiiState.validTo, "");
    EXPECT_STREQ(g_tiiState.filePath, "/tmp/f");  // filePath is not cleared

    fill();
    call("method=Tii_Init&");
    EXPECT_EQ(g_tiiState.hashAlg, 102);
    EXPECT_EQ(g_tiiState.signData, nullptr);
    EXPECT_STREQ(g_tiiState.certDn, "");
    EXPECT_STREQ(g_tiiState.filePath, "/tmp/f");
}

TEST_F(Dispatch, TableHasFortyRowsAndUnprovidedOnesSayUnknown) {
    std::set<std::string> names;
    for (const TiiMethodRow &row : g_tiiMethods) {
        EXPECT_EQ(std::string(row.name).rfind("Tii_", 0), 0u);
        names.insert(row.name);
        if (row.run) continue;
        // No success may be faked for a method this build lacks.
        EXPECT_EQ(call(std::string("method=") + row.name + "&"), R"({"err":"-2036"})") << row.name;
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(TII_METHOD_COUNT));
    EXPECT_STREQ(g_tiiMethods[0].name, "Tii_Init");
    EXPECT_STREQ(g_tiiMethods[13].name, "Tii_Sign");
    EXPECT_STREQ(g_tiiMethods[31].name, "Tii_GetLastError");
    EXPECT_STREQ(g_tiiMethods[38].name, "Tii_GetVersion");
    EXPECT_STREQ(g_tiiMethods[39].name, "Tii_GetFilePath");
    EXPECT_EQ(TiiFindMethod("tii_p7_sign_hash"), &g_tiiMethods[24]);
    EXPECT_EQ(TiiFindMethod(nullptr), nullptr);
}

TEST_F(Dispatch, SetLogWritesWhereToldAndUnSetLogStops) {
    std::string logPath = home() + "/logs dir/server log.txt";
    std::filesystem::create_directories(home() + "/logs dir");
    EXPECT_EQ(call("method=Tii_SetLog&filePath=" + urlB64(logPath) + "&fileSize=1&"),
              R"({"err":"0"})");
    call("method=Tii_GetVersion&");
    std::string log = sealdesk_test::readFile(logPath);
    EXPECT_NE(log.find("[INF]"), std::string::npos) << log;
    EXPECT_NE(log.find("] ----------CreateResponse start-------------\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find("----------CreateResponse method=Tii_GetVersion-------------"), std::string::npos);
    EXPECT_NE(log.find("----------CreateResponse end-------------"), std::string::npos);

    EXPECT_EQ(call("method=Tii_UnSetLog&"), R"({"err":"0"})");
    size_t before = sealdesk_test::readFile(logPath).size();
    call("method=Tii_Init&");
    EXPECT_EQ(sealdesk_test::readFile(logPath).size(), before);

    // Reopen: method start and end markers land in the file.
    call("method=Tii_SetLog&filePath=" + urlB64(logPath) + "&fileSize=5&");
    call("method=Tii_Init&");
    log = sealdesk_test::readFile(logPath);
    EXPECT_NE(log.find("------------Tii_Init start-------------------\n"), std::string::npos);
    EXPECT_NE(log.find("------------Tii_Init end-------------------\n"), std::string::npos);
}

TEST_F(Dispatch, AnswerStepsAreLoggedOnRequest) {
    std::string logPath = home() + "/steps.log";
    call("method=Tii_SetLog&filePath=" + urlB64(logPath) + "&fileSize=1&");
    logSteps_ = 1;
    call("method=Tii_Foo&");
    std::string log = sealdesk_test::readFile(logPath);
    const char *steps[] = {"] appendString jsondata:1,\n", "] ----------CreateResponse start",
                           "] CreateResponse:-2036,\n", "] err:0,\n", "] err,\n"};
    size_t at = 0;
    for (const char *step : steps) {
        size_t next = log.find(step, at);
        ASSERT_NE(next, std::string::npos) << step << "\n" << log;
        at = next;
    }
}

TEST_F(Dispatch, SetLogRefusesBadFields) {
    struct Case {
        std::string fields;
        int err;
    } cases[] = {
        {"fileSize=1&", TII_ERR_ARG},
        {"filePath=" + urlB64("/x") + "&", TII_ERR_ARG},
        {"filePath=&fileSize=1&", TII_ERR_ARG},
        {"filePath=" + urlB64("/x") + "&fileSize=&", TII_ERR_ARG},
        {"filePath=***&fileSize=1&", TII_ERR_URLB64_DECODE},
        {"filePath=QUJ&fileSize=1&", TII_ERR_URLB64_DECODE},
        {"filePath=" + urlB64("/tmp/\xff\xfe.log") + "&fileSize=1&", TII_ERR_TEXT_CONVERT},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(call("method=Tii_SetLog&" + c.fields), "{\"err\":\"" + std::to_string(c.err) + "\"}")
            << c.fields;
    }
}

TEST(ApiState, FixedFieldsRefuseWhatDoesNotFit) {
    char field[8];
    memset(field, 'x', sizeof field);
    EXPECT_EQ(TiiStateSetText(field, sizeof field, "1234567"), 7);
    EXPECT_STREQ(field, "1234567");
    EXPECT_EQ(TiiStateSetText(field, sizeof field, "12345678"), -10003);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(TiiStateSetText(nullptr, 8, "a"), TII_ERR_ARG);
    EXPECT_EQ(TiiStateSetText(field, sizeof field, nullptr), TII_ERR_ARG);
}

}  // namespace
