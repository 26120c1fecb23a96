#include "tcore/tcore_errors.h"
#include "tcore/tcore_file.h"

#include "sealdesk_test.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using sealdesk_test::writeFile;

class FileTest : public sealdesk_test::HomeTest {};

TEST_F(FileTest, LoadsWholeFilesWithATerminator) {
    struct Case {
        std::string content;
    };
    const Case cases[] = {{"x"}, {std::string("a\0b", 3)}, {std::string(100000, 'z')}};
    for (const auto &c : cases) {
        const std::string path = home() + "/f.bin";
        writeFile(path, c.content);
        unsigned char *buf = reinterpret_cast<unsigned char *>(1);
        ASSERT_EQ(tcore_file_load(path.c_str(), &buf), static_cast<int>(c.content.size()));
        ASSERT_NE(buf, nullptr);
        EXPECT_EQ(memcmp(buf, c.content.data(), c.content.size()), 0);
        EXPECT_EQ(buf[c.content.size()], 0);
        free(buf);
    }
}

TEST_F(FileTest, EmptyMissingAndUnreadableFiles) {
    unsigned char *buf = reinterpret_cast<unsigned char *>(1);
    const std::string empty = home() + "/empty";
    writeFile(empty, "");
    EXPECT_EQ(tcore_file_load(empty.c_str(), &buf), 0);
    EXPECT_EQ(buf, nullptr);

    buf = reinterpret_cast<unsigned char *>(1);
    EXPECT_EQ(tcore_file_load((home() + "/missing").c_str(), &buf), -1);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(tcore_file_load(home().c_str(), &buf), TCORE_ERR_FILE_OPEN);  // a folder
    EXPECT_EQ(tcore_file_load(nullptr, &buf), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_file_load(empty.c_str(), nullptr), TCORE_ERR_ARG);

    if (geteuid() != 0) {  // root reads everything
        const std::string locked = home() + "/locked";
        writeFile(locked, "secret");
        chmod(locked.c_str(), 0);
        EXPECT_EQ(tcore_file_load(locked.c_str(), &buf), TCORE_ERR_FILE_OPEN);
    }
}

TEST(Library, LoadsAndResolvesAModule) {
    const std::string path = sealdesk_test::binDir() + "/libtcore_test_module.so";
    void *h = tcore_loadLibrary(path.c_str());
    ASSERT_NE(h, nullptr) << tcore_loadLibrary_error();
    auto fn = reinterpret_cast<int (*)(int)>(tcore_getProcAddress(h, "tcore_test_module_twice"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(21), 42);
    EXPECT_EQ(tcore_getProcAddress(h, "no_such_symbol"), nullptr);
    tcore_freeLibrary(h);

    const std::string missing = sealdesk_test::binDir() + "/libnot_there.so";
    EXPECT_EQ(tcore_loadLibrary(missing.c_str()), nullptr);
    EXPECT_NE(std::string(tcore_loadLibrary_error()).find("libnot_there.so"), std::string::npos);
    EXPECT_EQ(tcore_loadLibrary(""), nullptr);
    EXPECT_EQ(tcore_loadLibrary(nullptr), nullptr);
    EXPECT_EQ(tcore_loadLibrary("/tmp/\xFF.so"), nullptr);
}

}  // namespace
