#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"

#include "sealdesk_test.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> g_lines;
void captureSink(const char *text) { g_lines.emplace_back(text); }

class LogFileTest : public sealdesk_test::HomeTest {
protected:
    void TearDown() override {
        tcore_log_sink = nullptr;
        HomeTest::TearDown();
    }
};

TEST_F(LogFileTest, ObjectDefaultsAndNameLimit) {
    EXPECT_EQ(tcore_logfile_new(nullptr, 0), nullptr);
    EXPECT_EQ(tcore_logfile_new("", 0), nullptr);
    struct Case {
        int requested;
        int stored;
    };
    const Case cases[] = {{0, 102400}, {1, 1}, {-1, -1}, {2097151, 2097151}};
    for (const auto &c : cases) {
        tcore_logfile *log = tcore_logfile_new("x.txt", c.requested);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(log->maxSizeKb, c.stored);
        EXPECT_EQ(log->backups, 1);
        EXPECT_EQ(log->fp, nullptr);
        tcore_logfile_free(log);
    }
    std::string longName(300, 'n');
    tcore_logfile *log = tcore_logfile_new(longName.c_str(), 0);
    EXPECT_EQ(std::string(log->name), longName.substr(0, 255));
    tcore_logfile_free(log);
    tcore_logfile_free(nullptr);
}

TEST_F(LogFileTest, WriteChecksLevelAndNeverFailsTheCaller) {
    const std::string file = home() + "/l.txt";
    tcore_logfile *log = tcore_logfile_new(file.c_str(), -1);
    for (int level : {0, 4, -1}) EXPECT_EQ(tcore_logfile_write(level, log, "x"), TCORE_ERR_ARG) << level;
    EXPECT_EQ(tcore_logfile_write(1, nullptr, "x"), TCORE_ERR_ARG);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(tcore_logfile_write(TCORE_LOG_WAR, log, "warn"), 0);
    EXPECT_NE(sealdesk_test::readFile(file).find("] [WAR] ["), std::string::npos);
    tcore_logfile_free(log);

    // A folder that does not exist: the line is lost, the call still succeeds.
    log = tcore_logfile_new((home() + "/no/such/dir/l.txt").c_str(), 0);
    EXPECT_EQ(tcore_logfile_write(TCORE_LOG_ERR, log, "lost"), 0);
    tcore_logfile_free(log);

    // No size check with a maximum of 0 or less.
    log = tcore_logfile_new(file.c_str(), -1);
    std::string big(3000, 'b');
    for (int i = 0; i < 3; ++i) tcore_logfile_write(TCORE_LOG_INF, log, big.c_str());
    EXPECT_FALSE(fs::exists(file + "1"));
    tcore_logfile_free(log);
}

TEST_F(LogFileTest, LibraryMessagesGoOnlyToASink) {
    tcore_log_sink = nullptr;
    TCORE_LOG("nobody hears %d", 1);  // no sink: nothing happens
    g_lines.clear();
    tcore_log_sink = captureSink;
    errno = ENOENT;
    tcore_log_winError("RegQueryValueEx", "tgsp/src/tcore/x.cpp", 81);
    TCORE_LOG("%s arg %s is NULL", "f", "a");
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], "(tgsp/src/tcore/x.cpp 81) 2, RegQueryValueEx");
    EXPECT_EQ(g_lines[1].rfind("(tests/tcore/log_test.cpp ", 0), 0u) << g_lines[1];
    EXPECT_NE(g_lines[1].find(")f arg a is NULL"), std::string::npos) << g_lines[1];
    std::string longFn(3000, 'f');
    tcore_log_winError(longFn.c_str(), "x.cpp", 1);
    EXPECT_EQ(g_lines.back().size(), 2046u);
}

}  // namespace
