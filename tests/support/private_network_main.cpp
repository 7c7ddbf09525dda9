// main() of every test program that can open a socket: the process moves
// into a fresh private network namespace before any test runs.
#include "lab/netlab.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv)
{
    bool onlyListing = false;
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--gtest_list_tests") == 0) onlyListing = true;
    }
    // Listing the tests (as the build does) opens no socket and needs no namespace.
    if (!onlyListing) netlab::EnterPrivateNetwork();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
