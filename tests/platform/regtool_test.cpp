#include "sealdesk_test.h"

#include <string>

using sealdesk_test::run;
using sealdesk_test::writeFile;

namespace {

class RegToolTest : public sealdesk_test::HomeTest {
protected:
    std::string tool() const { return sealdesk_test::binDir() + "/sealdesk_reg"; }
    int reg(const std::string &args, std::string *out = nullptr) {
        return run(tool() + " " + args + " 2>&1", out);
    }
};

TEST_F(RegToolTest, ImportShowSetDelete) {
    const std::string file = home() + "/driver.reg";
    writeFile(file,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN_II\\Cryptography\\PKCS11\\Provider\\SoftHSM]\n"
              "\"P11ImagePath\"=\"/usr/lib/softhsm/libsofthsm2.so\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN_II\\Cryptography\\PKCS11\\Provider\\Another]\n");
    std::string out;
    ASSERT_EQ(reg("import '" + file + "'", &out), 0) << out;
    EXPECT_NE(out.find("1 value(s) imported"), std::string::npos) << out;

    ASSERT_EQ(reg("show 'HKLM\\SOFTWARE\\TARN_II\\Cryptography\\PKCS11\\Provider'", &out), 0) << out;
    EXPECT_NE(out.find("Subkeys (2):\n  Another\n  SoftHSM\n"), std::string::npos) << out;
    ASSERT_EQ(reg("show 'HKEY_LOCAL_MACHINE\\software\\tarn_ii\\Cryptography\\PKCS11\\Provider\\softhsm'", &out), 0);
    EXPECT_NE(out.find("\"P11ImagePath\"=\"/usr/lib/softhsm/libsofthsm2.so\"\n"), std::string::npos) << out;

    ASSERT_EQ(reg("set 'HKCU\\SOFTWARE\\TARN_II\\Log' SignLogPath '/tmp/logs/'"), 0);
    ASSERT_EQ(reg("set 'HKCU\\SOFTWARE\\TARN_II\\Log' Size --dword 0x10"), 0);
    ASSERT_EQ(reg("set 'HKCU\\SOFTWARE\\TARN_II\\Log' Blob --hex 01,02"), 0);
    ASSERT_EQ(reg("show 'HKCU\\SOFTWARE\\TARN_II\\Log'", &out), 0);
    EXPECT_NE(out.find("\"SignLogPath\"=\"/tmp/logs/\"\n\"Size\"=dword:00000010\n\"Blob\"=hex:01,02\n"),
              std::string::npos) << out;

    ASSERT_EQ(reg("delete 'HKCU\\SOFTWARE\\TARN_II\\Log' size"), 0);
    EXPECT_EQ(reg("delete 'HKCU\\SOFTWARE\\TARN_II\\Log' size", &out), 1);
    EXPECT_NE(out.find("no such value"), std::string::npos) << out;

    // A round trip through export and import gives the same tree.
    std::string exported;
    ASSERT_EQ(run(tool() + " export 'HKLM\\SOFTWARE' > '" + home() + "/all.reg'"), 0);
    ASSERT_EQ(reg("delete-key 'HKLM\\SOFTWARE'"), 0);
    EXPECT_EQ(reg("show 'HKLM\\SOFTWARE'", &out), 1);
    ASSERT_EQ(reg("import '" + home() + "/all.reg'"), 0);
    ASSERT_EQ(reg("show 'HKLM\\SOFTWARE\\TARN_II\\Cryptography\\PKCS11\\Provider\\SoftHSM'", &out), 0);
    EXPECT_NE(out.find("libsofthsm2.so"), std::string::npos) << out;
}

TEST_F(RegToolTest, BadInputIsReportedNotFatal) {
    const std::string file = home() + "/bad.reg";
    writeFile(file,
              "Windows Registry Editor Version 5.00\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n"
              "\"A\"=dword:nothex\n"
              "\"B\"=\"kept\"\n");
    std::string out;
    EXPECT_EQ(reg("import '" + file + "'", &out), 1);
    EXPECT_NE(out.find("bad.reg:3: bad dword value"), std::string::npos) << out;
    ASSERT_EQ(reg("show 'HKLM\\SOFTWARE\\X'", &out), 0);
    EXPECT_NE(out.find("\"B\"=\"kept\""), std::string::npos) << out;

    EXPECT_EQ(reg("show 'HKEY_USERS\\x'", &out), 2);
    EXPECT_EQ(reg("set 'HKLM\\SOFTWARE\\X' N --dword 4294967296", &out), 2);
    EXPECT_EQ(reg("frobnicate", &out), 2);
    EXPECT_EQ(reg("import '" + home() + "/missing.reg'", &out), 1);
}

}  // namespace
