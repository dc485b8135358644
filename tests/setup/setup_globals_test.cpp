#include "setup/setup_globals.h"

#include <gtest/gtest.h>

TEST(SetupGlobals, Placeholder) { EXPECT_TRUE(g_setup.IsOS(OS_NT)); }
