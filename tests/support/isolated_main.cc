// Test main for binaries whose tests send UDP broadcasts.  It refuses to run
// outside a private network namespace, so no datagram can reach a shared
// network.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/isolated_network.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing runs no test; the build lists tests outside any namespace.
  if (!GTEST_FLAG_GET(list_tests) && !testsupport::InIsolatedNetwork()) {
    std::fprintf(stderr,
                 "These tests send UDP broadcasts; run them inside a private network namespace:\n"
                 "  scripts/in-netns %s\n",
                 argv[0]);
    return 1;
  }
  return RUN_ALL_TESTS();
}
