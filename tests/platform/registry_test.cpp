#include "plat_paths.h"
#include "plat_registry.h"

#include "sealdesk_test.h"

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace plat::reg;
using sealdesk_test::readFile;
using sealdesk_test::writeFile;

namespace {

std::vector<std::string> g_warnings;
void captureWarning(const std::string &m) { g_warnings.push_back(m); }

class RegistryTest : public sealdesk_test::HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        g_warnings.clear();
        setWarningHandler(captureWarning);
    }
    void TearDown() override {
        setWarningHandler(nullptr);
        HomeTest::TearDown();
    }
    std::string valuesFile(Root root, const std::string &path) { return keyDir(root, path) + "/values.reg"; }
};

TEST_F(RegistryTest, RootsLiveUnderTheHome) {
    EXPECT_EQ(rootDir(LocalMachine), home() + "/machine/registry");
    EXPECT_EQ(rootDir(CurrentUser), home() + "/user/registry");
    // The roots always exist, even before anything was written.
    EXPECT_TRUE(keyExists(LocalMachine, ""));
    std::vector<std::string> keys;
    EXPECT_EQ(listSubkeys(LocalMachine, "", &keys), PLAT_REG_OK);
    EXPECT_TRUE(keys.empty());
}

TEST_F(RegistryTest, ValuesRoundTripWithoutRegardToCase) {
    const std::string key = "SOFTWARE\\TARN_II\\Log";
    ASSERT_EQ(setValue(CurrentUser, key, Value::text("SignLogPath", "/var/log/x/")), PLAT_REG_OK);
    ASSERT_EQ(setValue(CurrentUser, key, Value::dword("Count", 0xA1B2C3D4)), PLAT_REG_OK);
    ASSERT_EQ(setValue(CurrentUser, key, Value::binary("Blob", {0x30, 0x82, 0x00, 0xff})), PLAT_REG_OK);
    ASSERT_EQ(setValue(CurrentUser, key, Value::text("", "default")), PLAT_REG_OK);
    Value multi;
    multi.name = "Multi";
    multi.type = MultiString;
    multi.data = {'a', 0, 'b', 'c', 0, 0};
    ASSERT_EQ(setValue(CurrentUser, key, multi), PLAT_REG_OK);

    Value v;
    ASSERT_EQ(getValue(CurrentUser, "software\\tarn_ii\\LOG", "signlogpath", &v), PLAT_REG_OK);
    EXPECT_EQ(v.type, String);
    EXPECT_EQ(v.asText(), "/var/log/x/");
    ASSERT_EQ(getValue(CurrentUser, key, "COUNT", &v), PLAT_REG_OK);
    EXPECT_EQ(v.asDword(), 0xA1B2C3D4u);
    ASSERT_EQ(getValue(CurrentUser, key, "Blob", &v), PLAT_REG_OK);
    EXPECT_EQ(v.data, (std::vector<uint8_t>{0x30, 0x82, 0x00, 0xff}));
    ASSERT_EQ(getValue(CurrentUser, key, "", &v), PLAT_REG_OK);
    EXPECT_EQ(v.asText(), "default");
    ASSERT_EQ(getValue(CurrentUser, key, "multi", &v), PLAT_REG_OK);
    EXPECT_EQ(v.data, multi.data);

    // Overwriting keeps the stored spelling and the order of the file.
    ASSERT_EQ(setValue(CurrentUser, key, Value::text("SIGNLOGPATH", "/tmp/")), PLAT_REG_OK);
    std::string file = readFile(valuesFile(CurrentUser, key));
    EXPECT_EQ(file.find("\"SignLogPath\"=\"/tmp/\"\n"), 0u) << file;
    EXPECT_NE(file.find("\"Count\"=dword:a1b2c3d4\n"), std::string::npos) << file;
    EXPECT_NE(file.find("@=\"default\"\n"), std::string::npos) << file;

    // Writes leave no temporary files behind.
    for (auto &e : fs::directory_iterator(keyDir(CurrentUser, key)))
        EXPECT_TRUE(e.is_directory() || e.path().filename() == "values.reg") << e.path();
    EXPECT_TRUE(g_warnings.empty());
}

TEST_F(RegistryTest, MissingKeysAndValues) {
    Value v;
    EXPECT_EQ(getValue(LocalMachine, "SOFTWARE\\Nothing", "x", &v), PLAT_REG_NO_KEY);
    ASSERT_EQ(createKey(LocalMachine, "SOFTWARE\\Empty"), PLAT_REG_OK);
    EXPECT_EQ(getValue(LocalMachine, "SOFTWARE\\Empty", "x", &v), PLAT_REG_NO_VALUE);
    EXPECT_EQ(deleteValue(LocalMachine, "SOFTWARE\\Empty", "x"), PLAT_REG_NO_VALUE);
    EXPECT_EQ(deleteValue(LocalMachine, "SOFTWARE\\Nothing", "x"), PLAT_REG_NO_KEY);
    std::vector<std::string> keys;
    EXPECT_EQ(listSubkeys(LocalMachine, "SOFTWARE\\Nothing", &keys), PLAT_REG_NO_KEY);
    const std::string bad[] = {"SOFTWARE\\..\\x", "a/b", "SOFTWARE\\.", std::string("a\0b", 3), "x\\Values.REG"};
    for (const auto &b : bad) EXPECT_EQ(createKey(LocalMachine, b), PLAT_REG_BAD_ARG) << b;
    EXPECT_FALSE(fs::exists(home() + "/machine/x"));
    EXPECT_EQ(deleteKey(LocalMachine, ""), PLAT_REG_BAD_ARG);
}

TEST_F(RegistryTest, SubkeysSortWithoutRegardToCaseAndDeleteRecursively) {
    for (const char *k : {"beta", "Alpha", "gamma", "ALPHA2", "Delta\\Inner"})
        ASSERT_EQ(createKey(LocalMachine, std::string("SOFTWARE\\P\\") + k), PLAT_REG_OK);
    // The same key in another case is not created twice.
    ASSERT_EQ(createKey(LocalMachine, "software\\p\\BETA"), PLAT_REG_OK);
    std::vector<std::string> keys;
    ASSERT_EQ(listSubkeys(LocalMachine, "SOFTWARE\\P", &keys), PLAT_REG_OK);
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "Delta", "gamma"}));

    ASSERT_EQ(deleteKey(LocalMachine, "software\\P\\delta"), PLAT_REG_OK);
    EXPECT_FALSE(keyExists(LocalMachine, "SOFTWARE\\P\\Delta\\Inner"));
    EXPECT_EQ(deleteKey(LocalMachine, "SOFTWARE\\P\\Delta"), PLAT_REG_NO_KEY);
}

TEST_F(RegistryTest, BothViewsAreOneStore) {
    ASSERT_EQ(setValue(LocalMachine, "SOFTWARE\\Wow6432Node\\TARN_II", Value::text("A", "1")), PLAT_REG_OK);
    Value v;
    EXPECT_EQ(getValue(LocalMachine, "SOFTWARE\\TARN_II", "A", &v), PLAT_REG_OK);
    EXPECT_FALSE(fs::exists(rootDir(LocalMachine) + "/SOFTWARE/Wow6432Node"));
}

TEST_F(RegistryTest, MalformedValuesLinesAreReportedSkippedAndKept) {
    ASSERT_EQ(createKey(LocalMachine, "SOFTWARE\\K"), PLAT_REG_OK);
    const std::string file = valuesFile(LocalMachine, "SOFTWARE\\K");
    writeFile(file,
              "\"First\"=\"1\"\n"
              "this is not a value\n"
              "\"Num\"=dword:xyz\n"
              "; a comment\n"
              "\"Unterminated=\"x\n"
              "\"Hex\"=hex:01,\\\n"
              "  02,03\n"
              "\"Last\"=dword:00000002\n");
    std::vector<Value> values;
    ASSERT_EQ(listValues(LocalMachine, "SOFTWARE\\K", &values), PLAT_REG_OK);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].asText(), "1");
    EXPECT_EQ(values[1].data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(values[2].asDword(), 2u);
    ASSERT_EQ(g_warnings.size(), 3u);
    EXPECT_NE(g_warnings[0].find("values.reg:2: "), std::string::npos) << g_warnings[0];
    EXPECT_NE(g_warnings[1].find("values.reg:3: "), std::string::npos) << g_warnings[1];
    EXPECT_NE(g_warnings[2].find("values.reg:5: "), std::string::npos) << g_warnings[2];

    // A write keeps the lines it cannot read exactly as they were.
    ASSERT_EQ(setValue(LocalMachine, "SOFTWARE\\K", Value::text("New", "n")), PLAT_REG_OK);
    std::string after = readFile(file);
    EXPECT_NE(after.find("\nthis is not a value\n\"Num\"=dword:xyz\n"), std::string::npos) << after;
    EXPECT_NE(after.find("\"New\"=\"n\"\n"), std::string::npos) << after;
    ASSERT_EQ(listValues(LocalMachine, "SOFTWARE\\K", &values), PLAT_REG_OK);
    EXPECT_EQ(values.size(), 4u);
}

TEST_F(RegistryTest, ValueLineSyntax) {
    struct Case {
        const char *line;
        bool ok;
        uint32_t type;
        std::vector<uint8_t> data;
        const char *canonical;  // formatValueLine of the parsed value
    };
    const Case cases[] = {
        {"\"a\"=\"x \\\"q\\\" \\\\\"", true, String, {'x', ' ', '"', 'q', '"', ' ', '\\'}, "\"a\"=\"x \\\"q\\\" \\\\\""},
        {"@=\"d\"", true, String, {'d'}, "@=\"d\""},
        {"\"n\" = dword:1", true, Dword, {1, 0, 0, 0}, "\"n\"=dword:00000001"},
        {"\"n\"=DWORD:FFFFFFFF", true, Dword, {255, 255, 255, 255}, "\"n\"=dword:ffffffff"},
        {"\"b\"=hex:", true, Binary, {}, "\"b\"=hex:"},
        {"\"b\"=hex:0A,ff,", true, Binary, {10, 255}, "\"b\"=hex:0a,ff"},
        {"\"e\"=hex(2):41,00,00,00", true, ExpandString, {'A'}, "\"e\"=hex(2):41,00,00,00"},
        {"\"s\"=hex(1):04,4e,00,00", true, String, {0xE4, 0xB8, 0x84}, "\"s\"=\"\xE4\xB8\x84\""},
        {"\"q\"=hex(b):01,02,03,04,05,06,07,08", true, 11, {1, 2, 3, 4, 5, 6, 7, 8}, "\"q\"=hex(b):01,02,03,04,05,06,07,08"},
        {"\"n\"=dword:123456789", false, 0, {}, nullptr},
        {"\"n\"=dword:", false, 0, {}, nullptr},
        {"\"b\"=hex:1,2", false, 0, {}, nullptr},
        {"\"b\"=hex:0g", false, 0, {}, nullptr},
        {"\"b\"=hex(zz):00", false, 0, {}, nullptr},
        {"\"s\"=\"open", false, 0, {}, nullptr},
        {"\"s\"=\"x\" trailing", false, 0, {}, nullptr},
        {"\"\"=\"x\"", false, 0, {}, nullptr},
        {"name=\"x\"", false, 0, {}, nullptr},
        {"\"s\"", false, 0, {}, nullptr},
        {"\"s\"=str", false, 0, {}, nullptr},
    };
    for (const auto &c : cases) {
        Value v;
        bool del = true;
        std::string reason;
        bool ok = parseValueLine(c.line, &v, &del, &reason);
        ASSERT_EQ(ok, c.ok) << c.line << " " << reason;
        if (!ok) {
            EXPECT_FALSE(reason.empty());
            continue;
        }
        EXPECT_FALSE(del);
        EXPECT_EQ(v.type, c.type) << c.line;
        EXPECT_EQ(v.data, c.data) << c.line;
        EXPECT_EQ(formatValueLine(v), c.canonical) << c.line;
    }
    Value v;
    bool del = false;
    std::string reason;
    ASSERT_TRUE(parseValueLine("\"gone\"=-", &v, &del, &reason));
    EXPECT_TRUE(del);
    EXPECT_EQ(v.name, "gone");
}

TEST_F(RegistryTest, WindowsDataOfTextIsUtf16WithTerminator) {
    EXPECT_EQ(Value::text("a", "A\xE4\xB8\x84").windowsData(), (std::vector<uint8_t>{'A', 0, 0x04, 0x4E, 0, 0}));
    EXPECT_EQ(Value::text("a", "").windowsData(), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(Value::text("a", "\xF0\x9F\x98\x80").windowsData(),
              (std::vector<uint8_t>{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    EXPECT_EQ(Value::dword("d", 1).windowsData(), (std::vector<uint8_t>{1, 0, 0, 0}));
    Value m;
    m.type = MultiString;
    m.data = {'a', 0, 0};
    EXPECT_EQ(m.windowsData(), (std::vector<uint8_t>{'a', 0, 0, 0, 0, 0}));
}

TEST_F(RegistryTest, ImportRoundTrip) {
    sealdesk_test::TempDir dir;
    const std::string reg = dir.str() + "/drivers.reg";
    writeFile(reg,
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN_II\\Cryptography\\SKF\\Provider\\Soft]\r\n"
              "\"SKFImagePath\"=\"/usr/lib/softskf.so\"\r\n"
              "\"Blob\"=hex:30,82,01,\\\r\n"
              "  0a,0b\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\TARN_II\\Log]\r\n"
              "\"SignLogPath\"=\"/tmp/logs/\"\r\n"
              "\"Old\"=\"x\"\r\n"
              "\"Old\"=-\r\n"
              "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Stale]\r\n");
    ASSERT_EQ(createKey(LocalMachine, "SOFTWARE\\Stale\\Below"), PLAT_REG_OK);
    std::vector<std::string> errors;
    EXPECT_EQ(importFile(reg, &errors), 5);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(keyExists(LocalMachine, "SOFTWARE\\Stale"));

    Value v;
    ASSERT_EQ(getValue(LocalMachine, "SOFTWARE\\TARN_II\\Cryptography\\SKF\\Provider\\Soft", "SKFImagePath", &v), 0);
    EXPECT_EQ(v.asText(), "/usr/lib/softskf.so");
    ASSERT_EQ(getValue(LocalMachine, "SOFTWARE\\TARN_II\\Cryptography\\SKF\\Provider\\Soft", "Blob", &v), 0);
    EXPECT_EQ(v.data, (std::vector<uint8_t>{0x30, 0x82, 0x01, 0x0a, 0x0b}));
    EXPECT_EQ(getValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", "Old", &v), PLAT_REG_NO_VALUE);

    // The same content as UTF-16LE with a byte-order mark (as regedit writes it).
    ASSERT_EQ(deleteKey(CurrentUser, "SOFTWARE"), PLAT_REG_OK);
    std::string ascii =
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\SOFTWARE\\TARN_II\\Log]\r\n"
        "\"SignLogPath\"=\"/tmp/\xE6\x97\xA5/\"\r\n";
    std::string wide = "\xFF\xFE";
    for (uint8_t b : std::vector<uint8_t>{} ) (void)b;
    // Encode: every character here is ASCII except one CJK character (U+65E5).
    for (size_t i = 0; i < ascii.size(); ++i) {
        if (static_cast<unsigned char>(ascii[i]) == 0xE6) {
            wide += "\xE5\x65";
            i += 2;
        } else {
            wide += ascii[i];
            wide += '\0';
        }
    }
    writeFile(reg, wide);
    EXPECT_EQ(importFile(reg, &errors), 1);
    ASSERT_EQ(getValue(CurrentUser, "SOFTWARE\\TARN_II\\Log", "SignLogPath", &v), 0);
    EXPECT_EQ(v.asText(), "/tmp/\xE6\x97\xA5/");
}

TEST_F(RegistryTest, ImportReportsBadLinesAndKeepsTheRest) {
    sealdesk_test::TempDir dir;
    const std::string reg = dir.str() + "/bad.reg";
    writeFile(reg,
              "Windows Registry Editor Version 5.00\n"
              "\"Orphan\"=\"no section yet\"\n"            // 2
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n"
              "\"A\"=\"1\"\n"
              "garbage\n"                                  // 5
              "\"B\"=dword:2\n"
              "[HKEY_CLASSES_ROOT\\x]\n"                   // 7
              "\"C\"=\"lost with its section\"\n"          // 8
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good\n"      // 9
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good\\..]\n" // 10
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n"
              "\"D\"=hex:zz\n"                             // 12
              "\"E\"=\"e\"\n");
    std::vector<std::string> errors;
    EXPECT_EQ(importFile(reg, &errors), 3);
    std::vector<int> lines;
    for (const auto &e : errors) {
        size_t colon = e.find(".reg:");
        ASSERT_NE(colon, std::string::npos) << e;
        lines.push_back(atoi(e.c_str() + colon + 5));
    }
    EXPECT_EQ(lines, (std::vector<int>{2, 5, 7, 8, 9, 10, 12}));
    std::vector<Value> values;
    ASSERT_EQ(listValues(LocalMachine, "SOFTWARE\\Good", &values), 0);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "A");
    EXPECT_EQ(values[1].name, "B");
    EXPECT_EQ(values[2].name, "E");

    // No header: nothing at all is imported.
    writeFile(reg, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"A\"=\"1\"\n");
    errors.clear();
    EXPECT_EQ(importFile(reg, &errors), PLAT_REG_BAD_FILE);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(keyExists(LocalMachine, "SOFTWARE\\Other"));
    EXPECT_EQ(importFile(dir.str() + "/missing.reg", &errors), PLAT_REG_IO);
}

}  // namespace

namespace {

// Whatever a values.reg or .reg file holds, reading it never crashes and
// never loses the good lines around the bad ones.
TEST_F(RegistryTest, ArbitraryInputNeverBreaksTheStore) {
    std::mt19937 rng(4711);
    const char *pieces[] = {"\"", "\\", "=", "@", "hex", "hex(", "(7)", ":", ",", "dword:", "ff", "0",
                            "-", "[", "]", "HKEY_LOCAL_MACHINE\\", "\r", "\n", " ", "\xff", "\x00", ";"};
    for (int round = 0; round < 200; ++round) {
        std::string junk;
        int n = 1 + static_cast<int>(rng() % 30);
        for (int i = 0; i < n; ++i) junk += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        Value v;
        bool del;
        std::string reason;
        parseValueLine(junk, &v, &del, &reason);

        ASSERT_EQ(createKey(LocalMachine, "SOFTWARE\\F"), PLAT_REG_OK);
        writeFile(valuesFile(LocalMachine, "SOFTWARE\\F"), "\"Good\"=\"1\"\n" + junk + "\n\"Tail\"=dword:00000002\n");
        std::vector<Value> values;
        ASSERT_EQ(listValues(LocalMachine, "SOFTWARE\\F", &values), PLAT_REG_OK);
        ASSERT_GE(values.size(), 1u) << junk;
        EXPECT_EQ(values[0].name, "Good");
        Value tail;
        // A junk line ending in "\" after hex data may take the next line with it; otherwise Tail survives.
        if (junk.find("hex") == std::string::npos) {
            EXPECT_EQ(getValue(LocalMachine, "SOFTWARE\\F", "Tail", &tail), PLAT_REG_OK) << junk;
        }

        sealdesk_test::TempDir dir;
        writeFile(dir.str() + "/j.reg", "Windows Registry Editor Version 5.00\n" + junk + "\n");
        std::vector<std::string> errors;
        EXPECT_GE(importFile(dir.str() + "/j.reg", &errors), 0);
    }
}

}  // namespace
