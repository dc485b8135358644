// The log's time stamps come from the system's 64-bit clock (the 32-bit time() ends in 2038).
#include <gtest/gtest.h>

#include <ctime>

#include "log/log.h"
#include "tests/support/test_support.h"

TEST(LogClock, EntriesCarryTheSecondsSince1970OfTheSystemClock) {
  qtxtest::ClearLog();
  int64_t before = static_cast<int64_t>(_time64(nullptr));
  g_log.Print(LOG_NRM, LOG_GENERAL, L"clock");
  int64_t after = static_cast<int64_t>(_time64(nullptr));
  ASSERT_FALSE(g_log.entries.empty());
  int64_t stamp = g_log.entries.back().time;
  EXPECT_GE(stamp, before - 1);
  EXPECT_LE(stamp, after + 1);
}
