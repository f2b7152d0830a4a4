// A real slapd for tests: a private configuration and mdb database in a
// temporary directory, loaded offline with slapadd, serving on a free
// 127.0.0.1 port.  The directory looks like a small Active Directory domain:
// the schema of tests/support/slapd/corvenel.schema, non-paged searches
// stopped at 1000 entries with result 4 (paged ones return everything),
// optional server-side sort and the one-description rule.
#ifndef CORVENEL_TESTS_SUPPORT_SLAPD_SERVER_H_
#define CORVENEL_TESTS_SUPPORT_SLAPD_SERVER_H_

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct SlapdOptions {
  // The database suffix; its first RDN must be a DC= component.
  std::string suffix = "DC=corp,DC=example";
  // The sssvlv overlay (server-side sort; it refuses attributes without an
  // ordering rule, such as cn).
  bool server_side_sort = true;
  // The constraint overlay: users and computers hold at most one
  // description, as in Active Directory.
  bool one_description = true;
  // Size limit of non-paged searches (0: none).
  int size_limit = 1000;
};

class SlapdServer {
 public:
  // Loads the suffix entry, the admin entry and |ldif| (entries separated
  // by blank lines) offline, then starts slapd and waits until it accepts
  // connections.  Throws std::runtime_error holding slapadd's or slapd's
  // output when either fails; gtest reports that as a test failure.
  static std::unique_ptr<SlapdServer> Start(const std::string& ldif, SlapdOptions options = {});
  ~SlapdServer();  // stops slapd (resuming it first), removes the directory

  SlapdServer(const SlapdServer&) = delete;
  SlapdServer& operator=(const SlapdServer&) = delete;

  const std::string& uri() const { return uri_; }  // "ldap://127.0.0.1:PORT"
  int port() const { return port_; }
  const std::string& suffix() const { return suffix_; }
  // An ordinary entry (not the rootdn, so the size limit applies to it)
  // allowed to write everything, bound with a simple bind.
  const std::string& admin_dn() const { return admin_dn_; }
  const std::string& admin_password() const { return admin_password_; }
  // A file holding admin_password() without a line end.
  const std::string& password_file() const { return password_file_; }
  const std::string& directory() const { return directory_; }

  // Applies |ldif| with ldapmodify as the admin; on failure, adds a test
  // failure with ldapmodify's output and returns false.
  bool Modify(const std::string& ldif);
  // The current values of |attribute| of |dn| (empty when it has none).
  std::vector<std::string> Values(const std::string& dn, const std::string& attribute);

  // SIGSTOP and SIGCONT: a stalled server that still accepts connections.
  void Pause();
  void Resume();

 private:
  SlapdServer() = default;

  std::string directory_;
  std::string suffix_;
  std::string admin_dn_;
  std::string admin_password_;
  std::string password_file_;
  std::string uri_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool paused_ = false;
};

// LDIF for |count| objects of |object_class| ("computer" or "user") under
// OU=Computers or OU=Users of |suffix|, the OU entry first when |with_ou|.
// Objects are numbered first, first+1, ...; object n is named PC<n> or
// USER<n> (n zero-padded to at least 4 digits: CN=PC0001,OU=Computers,...),
// with sAMAccountName PC<n>$ or user<n>, and by n % 4:
//   1: description "Description <n>", comment "Comment <n>",
//      serialNumber "SN<n>"
//   2: description "Description <n>" only
//   3: comment "Comment <n>", serialNumber "SN<n>" and "SN<n>B"
//   0: none of them.
std::string DirectoryObjectsLdif(int count, const std::string& object_class = "computer",
                                 const std::string& suffix = "DC=corp,DC=example", int first = 1,
                                 bool with_ou = true);

// The name ("PC0042") of object |n| of DirectoryObjectsLdif for |count|
// objects starting at |first|.
std::string DirectoryObjectName(int n, const std::string& object_class = "computer", int count = 1,
                                int first = 1);

}  // namespace testsupport

#endif  // CORVENEL_TESTS_SUPPORT_SLAPD_SERVER_H_
