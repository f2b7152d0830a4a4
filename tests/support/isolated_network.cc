#include "tests/support/isolated_network.h"

#include <sys/stat.h>

namespace testsupport {

bool InIsolatedNetwork() {
  struct stat self {};
  struct stat init {};
  if (stat("/proc/self/ns/net", &self) != 0) return false;
  // Without access to init's namespace we cannot tell; refuse.
  if (stat("/proc/1/ns/net", &init) != 0) return false;
  return self.st_ino != init.st_ino || self.st_dev != init.st_dev;
}

}  // namespace testsupport
