// The lab itself: a test process never runs on the machine's own network.
// That what the lab's hosts send crosses its bridges, and that hosts gain and
// lose addresses, every lab test relies on and so shows.
#include "netlab.h"

#include <gtest/gtest.h>

namespace {

TEST(NetworkLab, TestProcessRunsOutsideTheMachinesNetwork)
{
    EXPECT_FALSE(netlab::InInitialNetworkNamespace());
}

}  // namespace
