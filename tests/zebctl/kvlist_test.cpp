#include "tcore/tcore_errors.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class KvList : public ::testing::Test {
protected:
    void TearDown() override {
        tcore_kvlist_clear(list_);
        tcore_list_free(list_);
    }
    TiiReqField *at(int i) { return static_cast<TiiReqField *>(tcore_list_get(list_, i)); }
    tcore_list *list_ = tcore_list_new(free);
};

TEST(StrHash, MatchesTheRecurrence) {
    struct Case {
        std::string bytes;
        int32_t hash;
    } cases[] = {
        {"a", 97},
        {"ab", 97 * 31 + 98},
        {"method", 0},  // filled below from the recurrence in 64-bit arithmetic
        {"\xff", 255},  // bytes count as unsigned
        {std::string(40, 'z'), 0},
    };
    for (auto &c : cases) {
        if (c.hash == 0) {
            uint64_t h = 0;
            for (unsigned char b : c.bytes) h = (h * 31 + b) & 0xffffffffu;
            c.hash = static_cast<int32_t>(static_cast<uint32_t>(h));
        }
        EXPECT_EQ(tcore_strhash(c.bytes.data(), static_cast<int>(c.bytes.size())), c.hash) << c.bytes;
    }
    EXPECT_EQ(tcore_strhash("Aa", 2), tcore_strhash("BB", 2));  // a known collision
    EXPECT_EQ(tcore_strhash(nullptr, 3), 0);
    EXPECT_EQ(tcore_strhash("abc", 0), 0);
}

TEST_F(KvList, FirstValueWinsAndOrderIsKept) {
    EXPECT_EQ(tcore_kvlist_add(list_, "oriData", "YWJj"), 0);
    EXPECT_EQ(tcore_kvlist_add(list_, "method", "Tii_Sign"), 0);
    EXPECT_EQ(tcore_kvlist_add(list_, "oriData", "second"), TCORE_ERR_KV_DUPLICATE);
    ASSERT_EQ(tcore_list_count(list_), 2);
    EXPECT_STREQ(tcore_kvlist_get(list_, "oriData"), "YWJj");
    EXPECT_STREQ(at(0)->name, "oriData");
    EXPECT_EQ(at(0)->hash, tcore_strhash("oriData", 7));
    EXPECT_EQ(at(0)->next, at(1));
    EXPECT_EQ(at(1)->next, nullptr);
}

TEST_F(KvList, CollidingNameIsDropped) {
    EXPECT_EQ(tcore_kvlist_add(list_, "Aa", "1"), 0);
    EXPECT_EQ(tcore_kvlist_add(list_, "BB", "2"), TCORE_ERR_KV_DUPLICATE);
    EXPECT_EQ(tcore_list_count(list_), 1);
    EXPECT_EQ(tcore_kvlist_get(list_, "BB"), nullptr);
}

TEST_F(KvList, LongNameIsCutTo63) {
    std::string name(70, 'n');
    name[62] = 'x';
    ASSERT_EQ(tcore_kvlist_add(list_, name.c_str(), "v"), 0);
    EXPECT_EQ(strlen(at(0)->name), 63u);
    EXPECT_EQ(at(0)->hash, tcore_strhash(name.data(), 70));  // hash of the full name
    EXPECT_EQ(tcore_kvlist_get(list_, name.c_str()), nullptr);
    EXPECT_STREQ(tcore_kvlist_get(list_, name.substr(0, 63).c_str()), "v");
}

TEST_F(KvList, LookupIsExactAndValuesMayBeChanged) {
    ASSERT_EQ(tcore_kvlist_add(list_, "method", "a=b=="), 0);
    ASSERT_EQ(tcore_kvlist_add(list_, "nothing", nullptr), 0);
    EXPECT_EQ(tcore_kvlist_get(list_, "Method"), nullptr);
    EXPECT_EQ(tcore_kvlist_get(list_, "metho"), nullptr);
    EXPECT_EQ(tcore_kvlist_get(list_, ""), nullptr);
    EXPECT_EQ(tcore_kvlist_get(list_, nullptr), nullptr);
    EXPECT_EQ(tcore_kvlist_get(nullptr, "method"), nullptr);
    EXPECT_EQ(tcore_kvlist_get(list_, "nothing"), nullptr);  // stored as a null value
    char *v = tcore_kvlist_get(list_, "method");
    ASSERT_STREQ(v, "a=b==");
    v[0] = 'A';  // in-place changes are the caller's right
    EXPECT_STREQ(tcore_kvlist_get(list_, "method"), "A=b==");
}

TEST_F(KvList, RefusesBadArguments) {
    EXPECT_EQ(tcore_kvlist_add(nullptr, "a", "b"), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_kvlist_add(list_, nullptr, "b"), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_kvlist_add(list_, "", "b"), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_list_count(list_), 0);
}

TEST_F(KvList, ClearEmptiesAndTheListIsReusable) {
    for (int i = 0; i < 300; i++) {  // past the list's first growth
        std::string name = "f" + std::to_string(i);
        ASSERT_EQ(tcore_kvlist_add(list_, name.c_str(), "value"), 0);
    }
    tcore_kvlist_clear(list_);
    EXPECT_EQ(tcore_list_count(list_), 0);
    EXPECT_EQ(tcore_kvlist_get(list_, "f0"), nullptr);
    EXPECT_EQ(tcore_kvlist_add(list_, "f0", "again"), 0);
    EXPECT_STREQ(tcore_kvlist_get(list_, "f0"), "again");
    tcore_kvlist_clear(nullptr);
}

}  // namespace
