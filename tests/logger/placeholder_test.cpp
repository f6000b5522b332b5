#include <gtest/gtest.h>

#include "Logger.h"

TEST(Logger, GlobalLoggerNamesTheLogFile)
{
    EXPECT_EQ(g_Logger.GetFileName(), "C:\\winamplog.txt");
}
