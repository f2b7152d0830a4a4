#include "palomid/platform.h"

#include "palomid/posix_platform.h"

namespace palomid {

namespace {

Platform* platform_for_testing = nullptr;

Platform* Installed() { return platform_for_testing; }

}  // namespace

Platform& CurrentPlatform() {
  if (Platform* installed = Installed()) return *installed;
  // Never destroyed, so that a report made during static destruction still
  // finds its platform.
  static PosixPlatform* const real = new PosixPlatform;
  return *real;
}

void SetPlatformForTesting(Platform* platform) { platform_for_testing = platform; }

ScopedPlatformForTesting::ScopedPlatformForTesting(Platform* platform) : previous_(Installed()) {
  SetPlatformForTesting(platform);
}

ScopedPlatformForTesting::~ScopedPlatformForTesting() { SetPlatformForTesting(previous_); }

}  // namespace palomid
