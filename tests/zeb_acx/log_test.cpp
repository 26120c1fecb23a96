#include "zeb_acx_log.h"

#include "plat_registry.h"
#include "sealdesk_test.h"
#include "tcore/tcore_log.h"

#include <cctype>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using sealdesk_test::readFile;

namespace {

class LogTest : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        zeb_acx_log_close();
        tcore_log_sink = nullptr;
    }
    void TearDown() override {
        zeb_acx_log_close();
        tcore_log_sink = nullptr;
        HomeTest::TearDown();
    }
    void setLogPath(const std::string &v) {
        ASSERT_EQ(plat::reg::setValue(plat::reg::CurrentUser, "SOFTWARE\\TARN_II\\Log",
                                      plat::reg::Value::text("SignLogPath", v)),
                  0);
    }
    static std::vector<std::string> lines(const std::string &path) {
        std::vector<std::string> v;
        std::string s = readFile(path), cur;
        for (char c : s) {
            if (c == '\n') {
                v.push_back(cur);
                cur.clear();
            } else {
                cur.push_back(c);
            }
        }
        EXPECT_TRUE(cur.empty()) << "last line not ended";
        return v;
    }
};

TEST_F(LogTest, WithoutSignLogPathLoggingStaysOff) {
    EXPECT_EQ(zeb_acx_log_init(nullptr, -1), 0);
    EXPECT_EQ(zeb_acx_log_currentName(), nullptr);
    EXPECT_EQ(tcore_log_sink.load(), nullptr);
    zeb_acx_log_info("InitInstance:%s,", "sealdesk_corvina");
    char out[256];
    EXPECT_EQ(zeb_acx_getLogPath(out), ZEB_ACX_ERR_LOG_PATH);
    for (auto &e : fs::recursive_directory_iterator(home()))
        EXPECT_EQ(e.path().filename().string().find("_server.txt"), std::string::npos) << e.path();
}

TEST_F(LogTest, SignLogPathIsJoinedWithoutSeparator) {
    struct Case {
        std::string value;
        std::string file;
    };
    fs::create_directories(home() + "/logs");
    const Case cases[] = {
        {home() + "/logs/", home() + "/logs/sealdesk_corvina_server.txt"},
        {home() + "/logs", home() + "/logssealdesk_corvina_server.txt"},
    };
    for (const auto &c : cases) {
        setLogPath(c.value);
        char out[256];
        EXPECT_EQ(zeb_acx_getLogPath(out), static_cast<int>(c.value.size()));
        ASSERT_EQ(zeb_acx_log_init(nullptr, -1), 0);
        ASSERT_NE(zeb_acx_log_currentName(), nullptr);
        EXPECT_EQ(std::string(zeb_acx_log_currentName()), c.file);
        EXPECT_FALSE(fs::exists(c.file));  // created by the first line only
        zeb_acx_log_info("InitInstance:%s,", "sealdesk_corvina");
        ASSERT_TRUE(fs::exists(c.file));
    }
}

// Splits "[pid] [LVL] [YYYY/MM/DD_hh:mm:ss] message"; false when the
// prefix is not exactly that (this process's id, ERR or INF, digits).
static bool splitLine(const std::string &line, std::string *level, std::string *message) {
    const std::string head = "[" + std::to_string(getpid()) + "] [";
    if (line.compare(0, head.size(), head) != 0) return false;
    size_t p = head.size();
    *level = line.substr(p, 3);
    if (*level != "ERR" && *level != "INF") return false;
    p += 3;
    const char *shape = "] [dddd/dd/dd_dd:dd:dd] ";
    for (size_t i = 0; shape[i]; ++i, ++p) {
        if (p >= line.size()) return false;
        unsigned char c = static_cast<unsigned char>(line[p]);
        if (shape[i] == 'd' ? !isdigit(c) : c != static_cast<unsigned char>(shape[i])) return false;
    }
    *message = line.substr(p);
    return true;
}

TEST_F(LogTest, LineLayoutLevelsAndLibraryMessages) {
    const std::string file = home() + "/explicit.txt";
    ASSERT_EQ(zeb_acx_log_init(file.c_str(), 0), 0);
    zeb_acx_log_info("----------CreateResponse start-------------\n");
    zeb_acx_log_error("failed %d (%d)", -1033, -110021);
    TCORE_LOG("%s arg %s is NULL", "twcyt_certstore_findBySysStore", "retCerts");
    int line = __LINE__ - 1;
    std::string big(10000, 'd');
    zeb_acx_log_info("%s", big.c_str());
    TCORE_LOG("%s", big.c_str());

    std::vector<std::string> l = lines(file);
    ASSERT_EQ(l.size(), 6u);
    std::string level, msg;
    ASSERT_TRUE(splitLine(l[0], &level, &msg)) << l[0];
    EXPECT_EQ(level, "INF");
    EXPECT_EQ(msg, "----------CreateResponse start-------------");
    EXPECT_EQ(l[1], "");  // the message's own line feed leaves an empty line
    ASSERT_TRUE(splitLine(l[2], &level, &msg)) << l[2];
    EXPECT_EQ(level, "ERR");
    EXPECT_EQ(msg, "failed -1033 (-110021)");
    ASSERT_TRUE(splitLine(l[3], &level, &msg)) << l[3];
    EXPECT_EQ(level, "ERR");
    EXPECT_EQ(msg, "(tests/zeb_acx/log_test.cpp " + std::to_string(line) +
                       ")twcyt_certstore_findBySysStore arg retCerts is NULL");
    ASSERT_TRUE(splitLine(l[4], &level, &msg));
    EXPECT_EQ(msg, big);  // direct messages are never cut
    ASSERT_TRUE(splitLine(l[5], &level, &msg));
    EXPECT_EQ(msg.length(), 8190u);  // library messages are
}

TEST_F(LogTest, RotatesAtTheSizeLimitKeepingOneBackup) {
    const std::string file = home() + "/rot.txt";
    ASSERT_EQ(zeb_acx_log_init(file.c_str(), 1), 0);
    std::string chunk(100, 'x');
    int written = 0;
    while (fs::exists(file) ? fs::file_size(file) <= 1024 : true) {
        zeb_acx_log_info("%03d %s", written++, chunk.c_str());
    }
    EXPECT_FALSE(fs::exists(file + "1"));
    auto sizeBefore = fs::file_size(file);
    EXPECT_GT(sizeBefore, 1024u);
    EXPECT_LT(sizeBefore, 1024u + 200u);  // over by one line at most

    zeb_acx_log_info("first after rotation");
    ASSERT_TRUE(fs::exists(file + "1"));
    EXPECT_EQ(fs::file_size(file + "1"), sizeBefore);
    std::vector<std::string> now = lines(file);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0].find("first after rotation"), std::string::npos);

    // The next rotation replaces the old backup.
    while (fs::file_size(file) <= 1024) zeb_acx_log_info("%s", chunk.c_str());
    zeb_acx_log_info("second rotation");
    EXPECT_NE(readFile(file + "1").find("first after rotation"), std::string::npos);
    EXPECT_EQ(lines(file).size(), 1u);
}

TEST_F(LogTest, CloseDropsLinesAndSetLogReopens) {
    const std::string a = home() + "/a.txt", b = home() + "/b.txt";
    ASSERT_EQ(zeb_acx_log_init(a.c_str(), 0), 0);
    zeb_acx_log_info("one");
    EXPECT_EQ(zeb_acx_log_close(), 0);
    EXPECT_EQ(zeb_acx_log_close(), 0);
    zeb_acx_log_info("dropped");
    TCORE_LOG("dropped too");
    EXPECT_EQ(tcore_log_sink.load(), zeb_acx_log_sink);  // the sink stays
    EXPECT_EQ(lines(a).size(), 1u);

    // Nothing configured: an open log stays open.
    ASSERT_EQ(zeb_acx_log_init(b.c_str(), 0), 0);
    ASSERT_EQ(zeb_acx_log_init(nullptr, 0), 0);
    ASSERT_NE(zeb_acx_log_currentName(), nullptr);
    EXPECT_EQ(std::string(zeb_acx_log_currentName()), b);
    zeb_acx_log_info("two");
    EXPECT_EQ(lines(b).size(), 1u);
}

TEST_F(LogTest, TooLongNamesAreRefusedNotCut) {
    // 240 characters fit the registry's 255, not with the 27 of the file name added.
    std::string dir = home() + "/" + std::string(240 - home().size() - 1, 'p');
    setLogPath(dir);
    ASSERT_EQ(zeb_acx_log_init((home() + "/open.txt").c_str(), 0), 0);
    EXPECT_EQ(zeb_acx_log_init(nullptr, 0), ZEB_ACX_ERR_LOG_OBJECT);
    EXPECT_EQ(zeb_acx_log_currentName(), nullptr);  // closed, nothing written anywhere
    zeb_acx_log_info("lost");
    std::string explicitPath = home() + "/" + std::string(300, 'q');
    EXPECT_EQ(zeb_acx_log_init(explicitPath.c_str(), 0), ZEB_ACX_ERR_LOG_OBJECT);
    EXPECT_EQ(zeb_acx_log_currentName(), nullptr);
    for (auto &e : fs::directory_iterator(home()))
        EXPECT_EQ(e.path().filename().string().find("pp"), std::string::npos) << e.path();

    // A registry value over 255 characters cannot be read at all.
    setLogPath(std::string(256, 'r'));
    char out[256];
    EXPECT_EQ(zeb_acx_getLogPath(out), ZEB_ACX_ERR_LOG_PATH);
    EXPECT_EQ(zeb_acx_log_init(nullptr, 0), 0);
    EXPECT_EQ(zeb_acx_log_currentName(), nullptr);
}

}  // namespace
