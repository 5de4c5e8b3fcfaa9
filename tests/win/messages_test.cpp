// Message texts: continuation chains as joined from the real string table.
#include "setup/setup.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <string.h>

TEST(LoadMessage, JoinsContinuationChainsForwards)
{
    ModuleInstance = GetModuleHandleA(nullptr);
    EXPECT_EQ(402u, strlen(LoadMessage(1039)));
    EXPECT_EQ(267u, strlen(LoadMessage(1040)));
    EXPECT_STREQ("If you choose \"No\", Setup will exit and you can continue to use your existing version of Tessel.",
                 LoadMessage(1042));
}
