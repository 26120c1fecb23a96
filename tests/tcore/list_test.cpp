#include "tcore/tcore_errors.h"
#include "tcore/tcore_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<void *> g_freed;
void recordFree(void *p) {
    g_freed.push_back(p);
    free(p);
}

int *newInt(int v) {
    int *p = static_cast<int *>(malloc(sizeof(int)));
    *p = v;
    return p;
}

TEST(List, GrowsByDoublingAndKeepsOrder) {
    tcore_list *l = tcore_list_new(free);
    EXPECT_EQ(l->capacity, 256);
    EXPECT_EQ(l->count, 0);
    for (int i = 0; i < 600; ++i) ASSERT_EQ(tcore_list_append(l, newInt(i)), 0);
    EXPECT_EQ(l->count, 600);
    EXPECT_EQ(l->capacity, 1024);
    for (int i = 0; i < 600; ++i) ASSERT_EQ(*static_cast<int *>(tcore_list_get(l, i)), i);
    EXPECT_EQ(tcore_list_get(l, 600), nullptr);
    EXPECT_EQ(tcore_list_get(l, -1), nullptr);
    tcore_list_free(l);  // frees the 600 items (checked by the leak checker)
}

TEST(List, OwnsItemsOnlyWithFreeFunction) {
    g_freed.clear();
    tcore_list *owning = tcore_list_new(recordFree);
    int *a = newInt(1), *b = newInt(2), *c = newInt(3);
    tcore_list_append(owning, a);
    tcore_list_append(owning, b);
    tcore_list_append(owning, c);

    EXPECT_EQ(tcore_list_remove(b, owning), 0);
    EXPECT_EQ(g_freed, std::vector<void *>{b});
    ASSERT_EQ(owning->count, 2);
    EXPECT_EQ(owning->items[0], a);
    EXPECT_EQ(owning->items[1], c);
    EXPECT_EQ(owning->items[2], nullptr);

    int notThere = 0;
    EXPECT_EQ(tcore_list_remove(&notThere, owning), 0);
    EXPECT_EQ(owning->count, 2);
    EXPECT_EQ(tcore_list_remove(nullptr, owning), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_list_remove(a, nullptr), TCORE_ERR_ARG);

    tcore_list_clear(owning);
    EXPECT_EQ(owning->count, 0);
    EXPECT_EQ(g_freed, (std::vector<void *>{b, a, c}));
    tcore_list_free(owning);
    EXPECT_EQ(g_freed.size(), 3u);

    // Without a free function the items stay the caller's.
    int x = 1, y = 2;
    tcore_list *borrowed = tcore_list_new(nullptr);
    tcore_list_append(borrowed, &x);
    tcore_list_append(borrowed, &y);
    EXPECT_EQ(tcore_list_remove(&x, borrowed), 0);
    EXPECT_EQ(tcore_list_count(borrowed), 1);
    tcore_list_free(borrowed);
    EXPECT_EQ(x + y, 3);
}

TEST(List, RejectsNullArguments) {
    tcore_list *l = tcore_list_new(nullptr);
    int x = 0;
    EXPECT_EQ(tcore_list_append(nullptr, &x), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_list_append(l, nullptr), TCORE_ERR_ARG);
    EXPECT_EQ(tcore_list_count(l), 0);
    EXPECT_EQ(tcore_list_count(nullptr), 0);
    tcore_list_clear(nullptr);
    tcore_list_free(nullptr);
    tcore_list_free(l);
}

}  // namespace
