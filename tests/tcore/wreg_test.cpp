#include "tcore/tcore_errors.h"
#include "tcore/tcore_log.h"
#include "tcore/tcore_wreg.h"

#include "plat_registry.h"
#include "sealdesk_test.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace plat::reg;

namespace {

std::vector<std::string> g_lines;
void captureSink(const char *text) { g_lines.emplace_back(text); }

class WregTest : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        g_lines.clear();
        tcore_log_sink = captureSink;
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::text("SignLogPath", "/var/log/\xE6\x97\xA5/")), 0);
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::text("Long", std::string(256, 'L'))), 0);
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::text("Max", std::string(255, 'M'))), 0);
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::text("", "default")), 0);
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::text("Empty", "")), 0);
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::dword("Size", 0x41)), 0);
        ASSERT_EQ(setValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", Value::binary("Odd", {'A', 0, 'B'})), 0);
        ASSERT_EQ(setValue(CurrentUser, "", Value::text("AtRoot", "r")), 0);
    }
    void TearDown() override {
        tcore_log_sink = nullptr;
        HomeTest::TearDown();
    }
};

TEST_F(WregTest, GetValueTable) {
    struct Case {
        const char *name;
        const char *key;
        int root;
        int result;
        std::string text;
    };
    const Case cases[] = {
        {"SignLogPath", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, 13, "/var/log/\xE6\x97\xA5/"},
        {"signlogpath", "software\\tarn_ii\\log", TCORE_HKEY_CURRENT_USER, 13, "/var/log/\xE6\x97\xA5/"},
        {"Max", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, 255, std::string(255, 'M')},
        {"", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, 7, "default"},
        {"Empty", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, 0, ""},
        {"Size", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, 1, "A"},  // the type is not examined
        {"Odd", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, 2, "AB"},  // odd size: no over-read
        {"AtRoot", "", TCORE_HKEY_CURRENT_USER, 1, "r"},
        {"Long", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, TCORE_ERR_BUFFER_SMALL, ""},
        {"Missing", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_CURRENT_USER, TCORE_ERR_REG_READ, ""},
        {"SignLogPath", "SOFTWARE\\TARN_II\\Nope", TCORE_HKEY_CURRENT_USER, TCORE_ERR_REG_OPEN, ""},
        {"SignLogPath", "SOFTWARE\\TARN_II\\Log", TCORE_HKEY_LOCAL_MACHINE, TCORE_ERR_REG_OPEN, ""},
        {"SignLogPath", "SOFTWARE\\TARN_II\\Log", 99, TCORE_ERR_REG_OPEN, ""},
        {"SignLogPath", "SOFTWARE\\..\\x", TCORE_HKEY_CURRENT_USER, TCORE_ERR_REG_OPEN, ""},
        {"\xFF", "SOFTWARE", TCORE_HKEY_CURRENT_USER, TCORE_ERR_ANSI_TO_WIDE, ""},
    };
    for (const auto &c : cases) {
        char out[256];
        memset(out, 'x', sizeof out);
        int rc = tcore_wreg_getValue(c.name, c.key, c.root, out);
        EXPECT_EQ(rc, c.result) << c.name << " in " << c.key;
        if (rc >= 0) {
            EXPECT_EQ(std::string(out), c.text) << c.name;
            EXPECT_EQ(tcore_wreg_getValue(c.name, c.key, c.root, nullptr), rc + 1) << c.name;
        } else {
            EXPECT_EQ(out[0], 'x') << c.name;  // untouched
        }
    }
    // Only the unreadable value and the bad name are logged, naming the system call.
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_NE(g_lines[0].find(" 2, RegQueryValueEx"), std::string::npos) << g_lines[0];
    EXPECT_NE(g_lines[1].find(", MultiByteToWideChar"), std::string::npos) << g_lines[1];
}

TEST_F(WregTest, QueryValueGivesWindowsData) {
    unsigned char out[64];
    const char16_t *key = u"SOFTWARE\\TARN_II\\Log";
    EXPECT_EQ(tcore_wreg_queryValue(nullptr, key, 0, TCORE_HKEY_CURRENT_USER, u"Empty"), 2);
    EXPECT_EQ(tcore_wreg_queryValue(nullptr, key, 0, TCORE_HKEY_CURRENT_USER, u"Size"), 4);
    EXPECT_EQ(tcore_wreg_queryValue(nullptr, key, 0, TCORE_HKEY_CURRENT_USER, u""), 16);
    EXPECT_EQ(tcore_wreg_queryValue(nullptr, key, 0, TCORE_HKEY_CURRENT_USER, nullptr), 16);
    ASSERT_EQ(tcore_wreg_queryValue(out, key, sizeof out, TCORE_HKEY_CURRENT_USER, u"SignLogPath"), 24);
    const unsigned char expect[] = {'/', 0, 'v', 0, 'a', 0, 'r', 0, '/', 0, 'l', 0, 'o', 0,
                                    'g', 0, '/', 0, 0xE5, 0x65, '/', 0, 0, 0};
    EXPECT_EQ(memcmp(out, expect, sizeof expect), 0);
    ASSERT_EQ(tcore_wreg_queryValue(out, key, 4, TCORE_HKEY_CURRENT_USER, u"Size"), 4);
    EXPECT_EQ(memcmp(out, "\x41\0\0\0", 4), 0);
    memset(out, 'x', sizeof out);
    EXPECT_EQ(tcore_wreg_queryValue(out, key, 3, TCORE_HKEY_CURRENT_USER, u"Size"), TCORE_ERR_BUFFER_SMALL);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(tcore_wreg_queryValue(out, u"", sizeof out, TCORE_HKEY_CURRENT_USER, u"AtRoot"), 4);
    EXPECT_EQ(tcore_wreg_queryValue(out, u"Nope", sizeof out, TCORE_HKEY_CURRENT_USER, u"x"), TCORE_ERR_REG_OPEN);
    EXPECT_EQ(tcore_wreg_queryValue(out, key, sizeof out, TCORE_HKEY_CURRENT_USER, u"x"), TCORE_ERR_REG_READ);
}

TEST_F(WregTest, GetKeysListsSubkeysOfTheMachine) {
    for (const char *k : {"Zeta", "alpha", "Beta"})
        ASSERT_EQ(createKey(LocalMachine, std::string("SOFTWARE\\TARN_II\\Cryptography\\SKF\\Provider\\") + k), 0);
    tcore_list *names = nullptr;
    EXPECT_EQ(tcore_wreg_getKeys("SOFTWARE\\TARN_II\\Cryptography\\SKF\\Provider", &names), 3);
    ASSERT_NE(names, nullptr);
    ASSERT_EQ(names->count, 3);
    EXPECT_STREQ(static_cast<char *>(names->items[0]), "alpha");
    EXPECT_STREQ(static_cast<char *>(names->items[1]), "Beta");
    EXPECT_STREQ(static_cast<char *>(names->items[2]), "Zeta");
    // A second call appends to the same list.
    EXPECT_EQ(tcore_wreg_getKeys("", &names), 1);
    EXPECT_STREQ(static_cast<char *>(names->items[3]), "SOFTWARE");
    tcore_list_free(names);

    names = nullptr;
    EXPECT_EQ(tcore_wreg_getKeys("SOFTWARE\\TARN_II\\Cryptography\\SKF\\Provider\\Beta", &names), 0);
    EXPECT_EQ(names, nullptr);  // created on the first name only
    EXPECT_EQ(tcore_wreg_getKeys("SOFTWARE\\Missing", &names), TCORE_ERR_REG_OPEN);
    EXPECT_EQ(tcore_wreg_getKeys("SOFTWARE", nullptr), TCORE_ERR_ARG);
}

}  // namespace
