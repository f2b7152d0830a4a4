// One bound connection to a directory server, in plain C++ terms: the rest
// of the layer never sees libldap.
#ifndef CORVENEL_LDAP_LDAP_SESSION_H_
#define CORVENEL_LDAP_LDAP_SESSION_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ldap/query_parser.h"

namespace corvenel {

// How to reach the server and whom to bind as.
struct SessionSettings {
  // Space-separated LDAP URIs, tried in order.
  std::string uris;
  // Seconds to wait for a TCP (and TLS) connection, and for each answer of
  // the server.  Defaults: 5 and 30; CORVENEL_LDAP_CONNECT_TIMEOUT and
  // CORVENEL_LDAP_TIMEOUT, or NETWORK_TIMEOUT and TIMEOUT of libldap's
  // configuration, change them.
  double connect_timeout = 5;
  double timeout = 30;
  bool start_tls = false;  // CORVENEL_LDAP_STARTTLS=1
  // SASL mechanism (SASL_MECH, LDAPSASL_MECH); when empty, a simple bind as
  // bind_dn with password, or anonymous when bind_dn is empty too.
  std::string sasl_mech;
  std::string bind_dn;
  std::string password;
};

// Settings (all but uris) from the environment and the OpenLDAP client
// configuration.  With |with_identity|, also the SASL mechanism or the bind
// DN, the password then read from the file named by CORVENEL_BINDPW_FILE.
// Throws DirectoryConfigError or palomid::FileOpenError.
SessionSettings SettingsFromEnvironment(bool with_identity);

// The server URIs for |query|: its server when the path names one (GC paths
// use port 3268; ports 636 and 3269 use ldaps://), else the URI of the
// OpenLDAP client configuration (LDAPURI, ldaprc, ldap.conf), else the
// domain's servers from the DNS SRV records of the DN's DC= components.
// Throws DirectoryConfigError when none is found.
std::string ServerUrisFor(const ParsedQuery& query);

// The DNS domain of the DC= components of |dn| ("DC=corp,DC=example" ->
// "corp.example"), empty when it has none.
std::string DomainOfDn(const std::string& dn);

// What the schema says of an attribute type.
struct AttributeInfo {
  std::string canonical_name;  // its first name, lower case
  bool single_valued = false;
  bool user_modifiable = true;
};

// One entry of a search result.  Values are keyed by the canonical name of
// their attribute (see LdapSession::CanonicalName).
struct DirectoryEntry {
  std::string dn;
  std::map<std::string, std::vector<std::string>> values;
};

// One attribute of a post: the values read, and the new value (none to
// remove the attribute).
struct AttributeChange {
  std::string attribute;
  std::vector<std::string> old_values;
  std::optional<std::string> new_value;
};

class LdapSession {
 public:
  // Connects, binds and reads the root DSE.  Throws LdapError.
  explicit LdapSession(const SessionSettings& settings);
  ~LdapSession();  // unbinds
  LdapSession(const LdapSession&) = delete;
  LdapSession& operator=(const LdapSession&) = delete;

  // The URI the session is connected to (without credentials).
  const std::string& uri() const;

  // What the server's schema says of |attribute| (any name, any case, with
  // or without options); nullptr when the schema does not know it.  The
  // schema is read once per session, on first use.
  const AttributeInfo* Attribute(const std::string& attribute);
  // The key of |attribute| in DirectoryEntry::values.
  std::string CanonicalName(const std::string& attribute);

  // A paged subtree search returning every entry.  Sorted by |sort_keys|
  // (case-insensitively; numerically where both values are integers), by
  // the server when it can and otherwise here.  Search references are
  // skipped.  Throws LdapError.
  std::vector<DirectoryEntry> SearchAll(const std::string& base, const std::string& filter,
                                        const std::vector<std::string>& attributes,
                                        const std::vector<SortKey>& sort_keys);

  // A search for at most one entry and no attributes; a size limit
  // exceeded answer is success.  Throws LdapError.
  void Probe(const std::string& base, const std::string& filter);

  // One modify of |dn|: for each change, delete exactly its old values and
  // add its new value.  Throws UpdateConflict when the old values are no
  // longer there, LdapError for other failures.
  void Modify(const std::string& dn, const std::vector<AttributeChange>& changes);

  // Whether the last SearchAll was sorted by the server.
  bool last_sort_by_server() const { return last_sort_by_server_; }

 private:
  class Handle;
  std::unique_ptr<Handle> handle_;
  bool last_sort_by_server_ = false;
};

// Sorts |entries| by |keys| as SearchAll does on the client.  |canonical|
// gives the value key of each sort attribute.
void SortEntries(const std::vector<std::string>& canonical_keys, const std::vector<SortKey>& keys,
                 std::vector<DirectoryEntry>* entries);

}  // namespace corvenel

#endif  // CORVENEL_LDAP_LDAP_SESSION_H_
