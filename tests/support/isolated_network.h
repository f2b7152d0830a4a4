// Guards for tests that run code able to broadcast.
#ifndef CORVENEL_TESTS_SUPPORT_ISOLATED_NETWORK_H_
#define CORVENEL_TESTS_SUPPORT_ISOLATED_NETWORK_H_

namespace testsupport {

// True when this process runs in the private network namespace that
// scripts/in-netns created: that script records the namespace's inode in
// CORVENEL_NETNS, and this checks the process is still inside it.
bool InIsolatedNetwork();

}  // namespace testsupport

#endif  // CORVENEL_TESTS_SUPPORT_ISOLATED_NETWORK_H_
