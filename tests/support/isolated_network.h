// Guards for tests that run code able to broadcast.
#ifndef CORVENEL_TESTS_SUPPORT_ISOLATED_NETWORK_H_
#define CORVENEL_TESTS_SUPPORT_ISOLATED_NETWORK_H_

namespace testsupport {

// True when this process runs in a network namespace other than init's, as
// scripts/in-netns arranges.
bool InIsolatedNetwork();

}  // namespace testsupport

#endif  // CORVENEL_TESTS_SUPPORT_ISOLATED_NETWORK_H_
