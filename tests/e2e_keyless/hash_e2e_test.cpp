// Hashing through the running server, checked with `openssl dgst`.
#include "keyless_e2e.h"

#include <sys/stat.h>

namespace {

using keyless_e2e::u;
using keyless_e2e::toUrl;

struct Digest {
    const char *name;   // as pages name it
    const char *code;   // numeric code of "algType"
    const char *dgst;   // openssl dgst option
};
const Digest kDigests[] = {
    {"MD5", "2", "-md5"},       {"SHA1", "0", "-sha1"},     {"SHA256", "1", "-sha256"},
    {"SHA384", "3", "-sha384"}, {"SHA512", "4", "-sha512"}, {"SM3", "5", "-sm3"},
};

class HashE2E : public keyless_e2e::KeylessServerTest {
protected:
    // What openssl says, in the URL-safe form the server answers.
    std::string expected(const char *dgst, const std::string &fileName) {
        std::string out = sh("openssl dgst " + std::string(dgst) + " -binary '" + fileName + "' | openssl base64 -A");
        return toUrl(out);
    }
};

TEST_F(HashE2E, DataDigestsEqualOpenssl) {
    // Bytes whose base64 has "+", "/" and padding, as a page would send them.
    std::string data = "\xfb\xff\xfe hashed by the server \xc3\xa9";
    write("data.bin", data);
    for (const Digest &d : kDigests) {
        std::string want = expected(d.dgst, "data.bin");
        std::map<std::string, std::string> got;
        EXPECT_EQ(err("method=Tii_CreateHashDataEx&oriData=" + u(data) + "&algType=" + d.code + "&", &got), "0");
        EXPECT_EQ(got["hashData"], want) << d.name;

        EXPECT_EQ(err(std::string("method=Tii_SetSignHash&algType=") + d.name + "&"), "0");
        EXPECT_EQ(err("method=Tii_CreateHashData&oriData=" + u(data) + "&", &got), "0");
        EXPECT_EQ(got["hashData"], want) << d.name;
    }
    // Data is taken up to its first NUL byte.
    write("abc", "abc");
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_CreateHashDataEx&oriData=" + u(std::string("abc\0def", 7)) + "&algType=5&", &got), "0");
    EXPECT_EQ(got["hashData"], expected("-sm3", "abc"));
}

TEST_F(HashE2E, DigestSettingsByNameAndCode) {
    write("abc", "abc");
    std::string sha1 = expected("-sha1", "abc"), sm3 = expected("-sm3", "abc"), sha256 = expected("-sha256", "abc");
    auto hashNow = [&] {
        std::map<std::string, std::string> got;
        err("method=Tii_CreateHashData&oriData=" + u("abc") + "&", &got);
        return got["hashData"];
    };
    struct Case {
        std::string request, err, digestAfter;
    } cases[] = {
        {"method=Tii_SetSignHash&algType=sm3&", "0", sm3},              // any letter case
        {"method=Tii_SetSignHash&algType=SHA-256&", "-2035", sm3},      // unknown name: unchanged
        {"method=Tii_SetSignHash&algType=&", "-1001", sm3},
        {"method=Tii_SetSignHash&", "-1001", sm3},
        {"method=Tii_InitEx&algType=sha256&", "0", sha256},
        {"method=Tii_InitEx&algType=whatever&", "0", sha256},           // not reported, kept
        {"method=Tii_InitEx&", "0", sha1},                              // SHA1 by default
        {"method=Tii_SetAlgType&algType=5&", "0", sm3},
        {"method=Tii_InitEx&algType=SHA1&", "0", sha1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(err(c.request), c.err) << c.request;
        EXPECT_EQ(hashNow(), c.digestAfter) << c.request;
    }
    // The digest of the Ex methods applies to that call only.
    EXPECT_EQ(err("method=Tii_CreateHashDataEx&oriData=" + u("abc") + "&algType=1&"), "0");
    EXPECT_EQ(hashNow(), sha1);
    struct Bad {
        std::string request, err;
    } bad[] = {
        {"method=Tii_CreateHashDataEx&oriData=" + u("abc") + "&algType=9&", "-2035"},
        {"method=Tii_CreateHashDataEx&oriData=" + u("abc") + "&algType=-1&", "-2035"},
        {"method=Tii_CreateHashDataEx&oriData=" + u("abc") + "&", "-1001"},
        {"method=Tii_CreateHashDataEx&algType=1&", "-1001"},
        {"method=Tii_CreateHashData&oriData=&", "-1001"},
        {"method=Tii_CreateHashData&oriData=YW*j&", "-1011"},
        {"method=Tii_CreateHashData&oriData=YWJ&", "-1011"},
    };
    for (const Bad &b : bad) {
        std::map<std::string, std::string> got;
        EXPECT_EQ(err(b.request, &got), b.err) << b.request;
        EXPECT_EQ(got.count("hashData"), 0u) << b.request;
    }
    // algType read as atoi reads it: text without digits is SHA1.
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_CreateHashDataEx&oriData=" + u("abc") + "&algType=x&", &got), "0");
    EXPECT_EQ(got["hashData"], sha1);
    EXPECT_EQ(err("method=Tii_CreateHashDataEx&oriData=" + u("abc") + "&algType=5th&", &got), "0");
    EXPECT_EQ(got["hashData"], sm3);
}

TEST_F(HashE2E, FileDigestsEqualOpenssl) {
    // Several MiB in a folder and file with non-ASCII names.
    std::string folder = "数据 ü", name = folder + "/文件 ß.bin";
    std::filesystem::create_directories(path(folder));
    std::string content(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < content.size(); i++) content[i] = static_cast<char>((i * 2654435761u) >> 13);
    write(name, content);
    std::string filePath = u(path(name));
    for (const Digest &d : kDigests) {
        std::string want = expected(d.dgst, name);
        std::map<std::string, std::string> got;
        EXPECT_EQ(err("method=Tii_CreatHashEx&filePath=" + filePath + "&algType=" + d.name + "&", &got), "0");
        EXPECT_EQ(got["hashData"], want) << d.name;

        EXPECT_EQ(err(std::string("method=Tii_SetAlgType&algType=") + d.code + "&"), "0");
        EXPECT_EQ(err("method=Tii_CreatHash&filePath=" + filePath + "&", &got), "0");
        EXPECT_EQ(got["hashData"], want) << d.name;
    }
    // An unknown name falls back to the digest set before (SM3 now).
    std::map<std::string, std::string> got;
    EXPECT_EQ(err("method=Tii_CreatHashEx&filePath=" + filePath + "&algType=SHA3&", &got), "0");
    EXPECT_EQ(got["hashData"], expected("-sm3", name));
}

TEST_F(HashE2E, FilesThatCannotBeHashed) {
    write("empty", "");
    write("locked", "secret");
    chmod(path("locked").c_str(), 0);
    mkfifo(path("fifo").c_str(), 0600);
    std::vector<std::string> unreadable = {path("empty"), path("missing"), dir_, path("fifo")};
    if (geteuid() != 0) unreadable.push_back(path("locked"));  // root reads it anyway
    for (const std::string &p : unreadable) {
        for (std::string method : {"Tii_CreatHash", "Tii_CreatHashEx"}) {
            std::map<std::string, std::string> got;
            EXPECT_EQ(err("method=" + method + "&filePath=" + u(p) + "&algType=SHA256&", &got), "-1013")
                << method << " " << p;
            EXPECT_EQ(got.count("hashData"), 0u);
        }
    }
    // Not base64; not UTF-8 (Tii_CreatHash uses the bytes as they are)
    EXPECT_EQ(err("method=Tii_CreatHash&filePath=%%%%&"), "-1011");
    EXPECT_EQ(err("method=Tii_CreatHashEx&filePath=" + u(path("\xff\xfe")) + "&algType=SM3&"), "-1008");
    EXPECT_EQ(err("method=Tii_CreatHash&filePath=" + u(path("\xff\xfe")) + "&"), "-1013");
    EXPECT_EQ(err("method=Tii_CreatHashEx&filePath=" + u(path("empty")) + "&"), "-1001");
    EXPECT_EQ(err("method=Tii_CreatHash&"), "-1001");
    expectServing();
}

}  // namespace
