#include "tests/support/isolated_network.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace testsupport {

bool InIsolatedNetwork() {
  const char* recorded = std::getenv("CORVENEL_NETNS");
  struct stat self {};
  if (recorded == nullptr || stat("/proc/self/ns/net", &self) != 0) return false;
  return std::to_string(self.st_ino) == recorded;
}

}  // namespace testsupport
