#include <gtest/gtest.h>

#include <cstdlib>

#include "utils/utils.h"

TEST(Alloc, MallocRefusesSizesBelowOneAndZeroes) {
  EXPECT_EQ(utils_malloc(0), nullptr);
  EXPECT_EQ(utils_malloc(-5), nullptr);
  char *block = static_cast<char *>(utils_malloc(5));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(utils_free(&block), 0);
  EXPECT_EQ(block, nullptr);
}

TEST(Alloc, FreeClearsAndRefusesNull) {
  void *block = utils_malloc(16);
  EXPECT_EQ(utils_free(&block), 0);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(utils_free(&block), -1);  // second free is harmless
  EXPECT_EQ(utils_free(nullptr), -1);
}

TEST(Alloc, StrdupCopiesAndPassesNull) {
  EXPECT_EQ(utils_strdup(nullptr), nullptr);
  char *copy = utils_strdup("abc");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "abc");
  std::free(copy);
}

TEST(Paths, BuiltInUnlessRootIsSet) {
  unsetenv("ALERTMILL_ROOT");
  EXPECT_EQ(utils_path(paths::kEventsDb), "/etc/events.sqlite3");
  setenv("ALERTMILL_ROOT", "", 1);
  EXPECT_EQ(utils_path(paths::kDbLock), "/tmp/syscore.fl");
  setenv("ALERTMILL_ROOT", "/tmp/sandbox/", 1);
  EXPECT_EQ(utils_path(paths::kEventsDb), "/tmp/sandbox/etc/events.sqlite3");
  EXPECT_EQ(utils_path(paths::kZoneinfoDir), "/tmp/sandbox/usr/share/zoneinfo");
  unsetenv("ALERTMILL_ROOT");
}
