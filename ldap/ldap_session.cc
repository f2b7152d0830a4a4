#include "ldap/ldap_session.h"

#include <ldap.h>
#include <ldap_schema.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <utility>

#include "ldap/ldap_errors.h"

namespace corvenel {

namespace {

// Active Directory never returns more than 1000 entries per page.
constexpr int kPageSize = 1000;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Seconds(double seconds) {
  std::ostringstream text;
  text << seconds << " s";
  return text.str();
}

timeval ToTimeval(double seconds) {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(seconds);
  tv.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(tv.tv_sec)) * 1e6);
  return tv;
}

// libldap reads no environment when LDAPNOINIT is set; neither do we.
bool ConfigurationDisabled() { return std::getenv("LDAPNOINIT") != nullptr; }

std::string Environment(const char* name) {
  const char* value = ConfigurationDisabled() ? nullptr : std::getenv(name);
  return value ? value : "";
}

double TimeoutSetting(const char* variable, int option, double fallback) {
  const char* text = std::getenv(variable);
  if (text != nullptr && *text != '\0') {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (*end != '\0' || !(value > 0) || !std::isfinite(value)) {
      throw DirectoryConfigError(std::string(variable) +
                                 " is not a positive number of seconds: \"" + text + "\"");
    }
    return value;
  }
  timeval* configured = nullptr;
  if (ldap_get_option(nullptr, option, &configured) == LDAP_OPT_SUCCESS && configured != nullptr) {
    double value = static_cast<double>(configured->tv_sec) + configured->tv_usec / 1e6;
    ldap_memfree(configured);
    if (value > 0) return value;
  }
  return fallback;
}

// BINDDN is a user-only setting of ldaprc that libldap keeps to itself; read
// it from the same files, in the same order (later files win).
std::string BindDnFromLdaprc() {
  if (ConfigurationDisabled()) return "";
  std::vector<std::string> files;
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  std::vector<std::string> names = {"ldaprc"};
  if (const char* rc = std::getenv("LDAPRC"); rc != nullptr && *rc != '\0') names.push_back(rc);
  for (const std::string& name : names) {
    if (!home.empty()) {
      files.push_back(home + "/" + name);
      files.push_back(home + "/." + name);
    }
    files.push_back(name);
  }
  std::string bind_dn;
  for (const std::string& file : files) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string keyword;
      words >> keyword;
      if (Lower(keyword) != "binddn") continue;
      std::string rest;
      std::getline(words >> std::ws, rest);
      while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back())))
        rest.pop_back();
      bind_dn = rest;
    }
  }
  return bind_dn;
}

std::string ReadPasswordFile() {
  const char* path = std::getenv("CORVENEL_BINDPW_FILE");
  if (path == nullptr || *path == '\0') {
    throw DirectoryConfigError(
        "A bind DN is configured (LDAPBINDDN or BINDDN) but CORVENEL_BINDPW_FILE names no "
        "password file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int error = errno;
    throw palomid::FileOpenError(
        "Cannot open file \"" + std::string(path) + "\". " + palomid::ErrnoText(error), error);
  }
  std::string password((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!password.empty() && password.back() == '\n') {
    password.pop_back();
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  return password;
}

// The layout of Cyrus SASL's sasl_interact_t, which libldap hands to the
// interaction callback; its header is not needed for this much.
struct SaslInteract {
  unsigned long id;
  const char* challenge;
  const char* prompt;
  const char* defresult;
  const void* result;
  unsigned len;
};

// Non-interactive: every prompt gets its default (from the Kerberos ticket,
// the TLS client certificate or SASL_AUTHCID and friends).
int SaslDefaults(LDAP*, unsigned, void*, void* interactions) {
  for (auto* i = static_cast<SaslInteract*>(interactions); i->id != 0; ++i) {
    const char* value = i->defresult != nullptr ? i->defresult : "";
    i->result = value;
    i->len = static_cast<unsigned>(std::strlen(value));
  }
  return LDAP_SUCCESS;
}

struct MessageDeleter {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using Message = std::unique_ptr<LDAPMessage, MessageDeleter>;

struct ControlsDeleter {
  void operator()(LDAPControl** controls) const { ldap_controls_free(controls); }
};
using Controls = std::unique_ptr<LDAPControl*, ControlsDeleter>;

struct ControlDeleter {
  void operator()(LDAPControl* control) const { ldap_control_free(control); }
};
using Control = std::unique_ptr<LDAPControl, ControlDeleter>;

bool IsInteger(const std::string& text) {
  size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
  if (i >= text.size() || text.size() > 18) return false;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

int CompareValues(const std::string& a, const std::string& b) {
  if (IsInteger(a) && IsInteger(b)) {
    long long x = std::stoll(a);
    long long y = std::stoll(b);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Answers by which a server refuses to sort; the search is then run again
// without the sort control and sorted here.
bool IsSortRefusal(int rc) {
  return rc == LDAP_UNAVAILABLE_CRITICAL_EXTENSION || rc == LDAP_INAPPROPRIATE_MATCHING ||
         rc == LDAP_UNWILLING_TO_PERFORM || rc == LDAP_ADMINLIMIT_EXCEEDED ||
         rc == LDAP_UNDEFINED_TYPE;
}

}  // namespace

class LdapSession::Handle {
 public:
  ~Handle() {
    if (ld_ != nullptr) ldap_unbind_ext_s(ld_, nullptr, nullptr);
  }

  void Connect(const SessionSettings& settings) {
    uri_ = settings.uris;
    timeout_ = settings.timeout;
    int rc = ldap_initialize(&ld_, settings.uris.c_str());
    if (rc != LDAP_SUCCESS) Fail("connect", rc, "");
    int version = LDAP_VERSION3;
    ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
    // Chasing references re-binds anonymously elsewhere; AD answers that
    // with "Operations error".  References are skipped instead.
    ldap_set_option(ld_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    timeval network = ToTimeval(settings.connect_timeout);
    ldap_set_option(ld_, LDAP_OPT_NETWORK_TIMEOUT, &network);
    // Bounds the synchronous calls (StartTLS, SASL bind) too.
    timeval operation = ToTimeval(settings.timeout);
    ldap_set_option(ld_, LDAP_OPT_TIMEOUT, &operation);
    rc = ldap_connect(ld_);
    if (rc != LDAP_SUCCESS) Fail("connect", rc, Diagnostic());
    if (settings.start_tls) {
      rc = ldap_start_tls_s(ld_, nullptr, nullptr);
      if (rc != LDAP_SUCCESS) Fail("StartTLS", rc, Diagnostic());
    }
    if (!settings.sasl_mech.empty()) {
      rc = ldap_sasl_interactive_bind_s(ld_, nullptr, settings.sasl_mech.c_str(), nullptr, nullptr,
                                        LDAP_SASL_QUIET, SaslDefaults, nullptr);
      if (rc != LDAP_SUCCESS) Fail("SASL bind (" + settings.sasl_mech + ")", rc, Diagnostic());
    } else if (!settings.bind_dn.empty()) {
      berval credentials;
      credentials.bv_len = settings.password.size();
      credentials.bv_val = const_cast<char*>(settings.password.data());
      std::string operation_name = "bind as " + Quoted(settings.bind_dn);
      int id = 0;
      rc = ldap_sasl_bind(ld_, settings.bind_dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                          nullptr, &id);
      if (rc != LDAP_SUCCESS) Fail(operation_name, rc, Diagnostic());
      Message result = Wait(id, operation_name);
      CheckResult(result.get(), operation_name, "");
    }
    ReadRootDse();
  }

  const std::string& uri() const { return uri_; }
  bool server_sort() const { return server_sort_; }

  [[noreturn]] void Fail(const std::string& operation, int rc, const std::string& diagnostic,
                         const std::string& conflict = "") const {
    std::string message = uri_ + ": " + operation + ": ";
    bool is_conflict =
        !conflict.empty() && (rc == LDAP_NO_SUCH_ATTRIBUTE || rc == LDAP_TYPE_OR_VALUE_EXISTS);
    if (is_conflict) message += conflict + ": ";
    message += std::string(ldap_err2string(rc)) + " (" + std::to_string(rc) + ")";
    if (!diagnostic.empty()) message += ": " + diagnostic;
    if (is_conflict) throw UpdateConflict(message, rc);
    throw LdapError(message, rc);
  }

  std::string Diagnostic() const {
    char* text = nullptr;
    ldap_get_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text);
    std::string result = text != nullptr ? text : "";
    ldap_memfree(text);
    return result;
  }

  // The next message of request |id|; a server that stays silent longer
  // than the timeout fails the operation (and the request is abandoned).
  Message Wait(int id, const std::string& operation) {
    timeval limit = ToTimeval(timeout_);
    LDAPMessage* message = nullptr;
    int rc = ldap_result(ld_, id, LDAP_MSG_ONE, &limit, &message);
    if (rc == 0) {
      ldap_msgfree(message);
      ldap_abandon_ext(ld_, id, nullptr, nullptr);
      Fail(operation, LDAP_TIMEOUT, "no answer within " + Seconds(timeout_));
    }
    if (rc < 0) {
      int code = LDAP_OTHER;
      ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &code);
      Fail(operation, code, Diagnostic());
    }
    return Message(message);
  }

  // Returns the result code of |result| and hands back its controls.
  int ParseResult(LDAPMessage* result, std::string* diagnostic, Controls* controls) {
    int code = LDAP_OTHER;
    char* text = nullptr;
    LDAPControl** response = nullptr;
    int rc = ldap_parse_result(ld_, result, &code, nullptr, &text, nullptr,
                               controls != nullptr ? &response : nullptr, 0);
    if (rc != LDAP_SUCCESS) code = rc;
    *diagnostic = text != nullptr ? text : "";
    ldap_memfree(text);
    if (controls != nullptr) controls->reset(response);
    return code;
  }

  void CheckResult(LDAPMessage* result, const std::string& operation, const std::string& conflict) {
    std::string diagnostic;
    int code = ParseResult(result, &diagnostic, nullptr);
    if (code != LDAP_SUCCESS) Fail(operation, code, diagnostic, conflict);
  }

  // Runs one search request to its end.  Entries go to |entries| unless it
  // is null; returns the result code.
  int SearchOnce(const std::string& operation, const std::string& base, int scope,
                 const std::string& filter, const std::vector<std::string>& attributes,
                 LDAPControl** controls, int size_limit, std::vector<DirectoryEntry>* entries,
                 std::string* diagnostic, Controls* response) {
    std::vector<char*> names;
    for (const std::string& name : attributes) names.push_back(const_cast<char*>(name.c_str()));
    names.push_back(nullptr);
    int id = 0;
    int rc = ldap_search_ext(ld_, base.c_str(), scope, filter.c_str(), names.data(), 0, controls,
                             nullptr, nullptr, size_limit, &id);
    if (rc != LDAP_SUCCESS) Fail(operation, rc, Diagnostic());
    for (;;) {
      Message message = Wait(id, operation);
      switch (ldap_msgtype(message.get())) {
        case LDAP_RES_SEARCH_ENTRY:
          if (entries != nullptr) entries->push_back(ReadEntry(message.get()));
          break;
        case LDAP_RES_SEARCH_REFERENCE:
          break;
        default:
          return ParseResult(message.get(), diagnostic, response);
      }
    }
  }

  DirectoryEntry ReadEntry(LDAPMessage* message) {
    DirectoryEntry entry;
    char* dn = ldap_get_dn(ld_, message);
    if (dn != nullptr) entry.dn = dn;
    ldap_memfree(dn);
    BerElement* ber = nullptr;
    for (char* name = ldap_first_attribute(ld_, message, &ber); name != nullptr;
         name = ldap_next_attribute(ld_, message, ber)) {
      berval** values = ldap_get_values_len(ld_, message, name);
      std::vector<std::string>& list = entry.values[CanonicalName(name)];
      for (int i = 0; values != nullptr && values[i] != nullptr; ++i) {
        list.emplace_back(values[i]->bv_val, values[i]->bv_len);
      }
      ldap_value_free_len(values);
      ldap_memfree(name);
    }
    if (ber != nullptr) ber_free(ber, 0);
    return entry;
  }

  void ReadRootDse() {
    std::vector<DirectoryEntry> entries;
    std::string diagnostic;
    int rc = SearchOnce("read the root DSE", "", LDAP_SCOPE_BASE, "(objectClass=*)",
                        {"supportedControl", "subschemaSubentry"}, nullptr, 0, &entries,
                        &diagnostic, nullptr);
    if (rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_INSUFFICIENT_ACCESS) return;
    if (rc != LDAP_SUCCESS) Fail("read the root DSE", rc, diagnostic);
    if (entries.empty()) return;
    const auto& values = entries[0].values;
    if (auto it = values.find("supportedcontrol"); it != values.end()) {
      server_sort_ = std::find(it->second.begin(), it->second.end(), LDAP_CONTROL_SORTREQUEST) !=
                     it->second.end();
    }
    if (auto it = values.find("subschemasubentry"); it != values.end() && !it->second.empty()) {
      subschema_dn_ = it->second[0];
    }
  }

  void LoadSchema() {
    if (schema_loaded_) return;
    schema_loaded_ = true;
    if (subschema_dn_.empty()) return;
    std::vector<DirectoryEntry> entries;
    std::string diagnostic;
    std::string operation = "read the schema " + Quoted(subschema_dn_);
    int rc = SearchOnce(operation, subschema_dn_, LDAP_SCOPE_BASE, "(objectClass=subschema)",
                        {"attributeTypes"}, nullptr, 0, &entries, &diagnostic, nullptr);
    // Without the schema every attribute counts as multi-valued.
    if (rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_INSUFFICIENT_ACCESS) return;
    if (rc != LDAP_SUCCESS) Fail(operation, rc, diagnostic);
    for (const DirectoryEntry& entry : entries) {
      auto it = entry.values.find("attributetypes");
      if (it == entry.values.end()) continue;
      for (const std::string& text : it->second) {
        int code = 0;
        const char* where = nullptr;
        // Active Directory quotes its syntax OIDs.
        LDAPAttributeType* type = ldap_str2attributetype(
            text.c_str(), &code, &where, LDAP_SCHEMA_ALLOW_ALL | LDAP_SCHEMA_ALLOW_QUOTED);
        if (type == nullptr) continue;
        AttributeInfo info;
        info.canonical_name =
            Lower(type->at_names != nullptr && type->at_names[0] != nullptr ? type->at_names[0]
                                                                            : type->at_oid);
        info.single_valued = type->at_single_value != 0;
        info.user_modifiable = type->at_no_user_mod == 0 && type->at_usage == 0;
        for (int i = 0; type->at_names != nullptr && type->at_names[i] != nullptr; ++i) {
          schema_[Lower(type->at_names[i])] = info;
        }
        if (type->at_oid != nullptr) schema_[Lower(type->at_oid)] = info;
        ldap_attributetype_free(type);
      }
    }
  }

  const AttributeInfo* Attribute(const std::string& attribute) {
    LoadSchema();
    auto it = schema_.find(Lower(attribute.substr(0, attribute.find(';'))));
    return it == schema_.end() ? nullptr : &it->second;
  }

  std::string CanonicalName(const std::string& attribute) {
    auto it = schema_.find(Lower(attribute.substr(0, attribute.find(';'))));
    return it == schema_.end() ? Lower(attribute.substr(0, attribute.find(';')))
                               : it->second.canonical_name;
  }

  LDAP* ld() const { return ld_; }
  double timeout() const { return timeout_; }

 private:
  LDAP* ld_ = nullptr;
  std::string uri_;
  double timeout_ = 30;
  bool server_sort_ = false;
  std::string subschema_dn_;
  bool schema_loaded_ = false;
  std::map<std::string, AttributeInfo> schema_;  // by every name and the OID, lower case
};

SessionSettings SettingsFromEnvironment(bool with_identity) {
  SessionSettings settings;
  settings.connect_timeout =
      TimeoutSetting("CORVENEL_LDAP_CONNECT_TIMEOUT", LDAP_OPT_NETWORK_TIMEOUT, 5);
  settings.timeout = TimeoutSetting("CORVENEL_LDAP_TIMEOUT", LDAP_OPT_TIMEOUT, 30);
  const char* start_tls = std::getenv("CORVENEL_LDAP_STARTTLS");
  settings.start_tls = start_tls != nullptr && std::string(start_tls) == "1";
  if (!with_identity) return settings;
  settings.sasl_mech = Environment("LDAPSASL_MECH");
  if (settings.sasl_mech.empty() && !ConfigurationDisabled()) {
    char* mech = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_X_SASL_MECH, &mech) == LDAP_OPT_SUCCESS &&
        mech != nullptr) {
      settings.sasl_mech = mech;
    }
    ldap_memfree(mech);
  }
  if (settings.sasl_mech.empty()) {
    settings.bind_dn = Environment("LDAPBINDDN");
    if (settings.bind_dn.empty()) settings.bind_dn = BindDnFromLdaprc();
    if (!settings.bind_dn.empty()) settings.password = ReadPasswordFile();
  }
  return settings;
}

std::string DomainOfDn(const std::string& dn) {
  char* domain = nullptr;
  std::string result;
  if (ldap_dn2domain(dn.c_str(), &domain) == LDAP_SUCCESS && domain != nullptr) result = domain;
  ldap_memfree(domain);
  return result;
}

std::string ServerUrisFor(const ParsedQuery& query) {
  bool gc = query.scheme == "GC";
  if (!query.host.empty()) {
    int port = query.port != 0 ? query.port : (gc ? 3268 : 0);
    bool tls = port == 636 || port == 3269;
    return std::string(tls ? "ldaps://" : "ldap://") + query.host +
           (port != 0 ? ":" + std::to_string(port) : "");
  }
  std::string configured = Environment("LDAPURI");
  if (configured.empty() && !ConfigurationDisabled()) {
    char* uri = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_URI, &uri) == LDAP_OPT_SUCCESS && uri != nullptr) {
      configured = uri;
    }
    ldap_memfree(uri);
  }
  if (!configured.empty()) return configured;
  std::string domain = DomainOfDn(query.base_dn);
  if (domain.empty()) {
    throw DirectoryConfigError("No directory server for " + Quoted(query.base_dn) +
                               ": the path names none, no LDAP URI is configured (LDAPURI, "
                               "ldaprc, ldap.conf) and the DN has no DC= components");
  }
  char* hosts = nullptr;
  int rc = ldap_domain2hostlist(domain.c_str(), &hosts);
  std::string list = (rc == LDAP_SUCCESS && hosts != nullptr) ? hosts : "";
  ldap_memfree(hosts);
  if (list.empty()) {
    throw DirectoryConfigError("No directory server for " + Quoted(query.base_dn) +
                               ": the path names none, no LDAP URI is configured (LDAPURI, "
                               "ldaprc, ldap.conf) and DNS has no _ldap._tcp." +
                               domain + " SRV record");
  }
  std::istringstream words(list);
  std::string uris;
  for (std::string host; words >> host;) {
    if (gc) host = host.substr(0, host.rfind(':')) + ":3268";
    uris += (uris.empty() ? "" : " ") + std::string("ldap://") + host;
  }
  return uris;
}

void SortEntries(const std::vector<std::string>& canonical_keys, const std::vector<SortKey>& keys,
                 std::vector<DirectoryEntry>* entries) {
  auto less = [&](const DirectoryEntry& a, const DirectoryEntry& b) {
    for (size_t k = 0; k < keys.size(); ++k) {
      auto x = a.values.find(canonical_keys[k]);
      auto y = b.values.find(canonical_keys[k]);
      bool x_null = x == a.values.end() || x->second.empty();
      bool y_null = y == b.values.end() || y->second.empty();
      int order = 0;
      if (x_null || y_null) {
        order = (x_null ? 0 : 1) - (y_null ? 0 : 1);
      } else {
        order = CompareValues(x->second[0], y->second[0]);
      }
      if (order != 0) return keys[k].descending ? order > 0 : order < 0;
    }
    return false;
  };
  std::stable_sort(entries->begin(), entries->end(), less);
}

LdapSession::LdapSession(const SessionSettings& settings) : handle_(std::make_unique<Handle>()) {
  handle_->Connect(settings);
}

LdapSession::~LdapSession() = default;

const std::string& LdapSession::uri() const { return handle_->uri(); }

const AttributeInfo* LdapSession::Attribute(const std::string& attribute) {
  return handle_->Attribute(attribute);
}

std::string LdapSession::CanonicalName(const std::string& attribute) {
  handle_->LoadSchema();
  return handle_->CanonicalName(attribute);
}

std::vector<DirectoryEntry> LdapSession::SearchAll(const std::string& base,
                                                   const std::string& filter,
                                                   const std::vector<std::string>& attributes,
                                                   const std::vector<SortKey>& sort_keys) {
  Handle& h = *handle_;
  h.LoadSchema();
  std::vector<std::string> requested = attributes;
  std::vector<std::string> canonical_keys;
  for (const SortKey& key : sort_keys) {
    canonical_keys.push_back(h.CanonicalName(key.attribute));
    requested.push_back(key.attribute);
  }
  if (requested.empty()) requested.push_back(LDAP_NO_ATTRS);
  std::string operation = "search " + Quoted(base) + " for " + filter;

  bool server_sort = h.server_sort() && !sort_keys.empty();
  std::vector<DirectoryEntry> entries;
  for (;;) {
    entries.clear();
    Control sort;
    if (server_sort) {
      std::vector<LDAPSortKey> keys(sort_keys.size());
      std::vector<LDAPSortKey*> key_list;
      for (size_t i = 0; i < sort_keys.size(); ++i) {
        keys[i].attributeType = const_cast<char*>(sort_keys[i].attribute.c_str());
        keys[i].orderingRule = nullptr;
        keys[i].reverseOrder = sort_keys[i].descending ? 1 : 0;
        key_list.push_back(&keys[i]);
      }
      key_list.push_back(nullptr);
      LDAPControl* control = nullptr;
      int rc = ldap_create_sort_control(h.ld(), key_list.data(), 1, &control);
      if (rc != LDAP_SUCCESS) h.Fail(operation, rc, "");
      sort.reset(control);
    }
    berval cookie = {0, nullptr};
    bool refused = false;
    for (;;) {
      LDAPControl* page_control = nullptr;
      // Critical: a server that cannot page must fail, not truncate.
      int rc = ldap_create_page_control(h.ld(), kPageSize, &cookie, 1, &page_control);
      ldap_memfree(cookie.bv_val);
      cookie = {0, nullptr};
      if (rc != LDAP_SUCCESS) h.Fail(operation, rc, "");
      Control page(page_control);
      LDAPControl* controls[] = {page.get(), sort.get(), nullptr};
      std::string diagnostic;
      Controls response;
      rc = h.SearchOnce(operation, base, LDAP_SCOPE_SUBTREE, filter, requested, controls,
                        LDAP_NO_LIMIT, &entries, &diagnostic, &response);
      if (server_sort && IsSortRefusal(rc)) {
        refused = true;
        break;
      }
      if (rc != LDAP_SUCCESS) h.Fail(operation, rc, diagnostic);
      LDAPControl* paged = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, response.get(), nullptr);
      if (paged == nullptr) break;
      ber_int_t estimate = 0;
      rc = ldap_parse_pageresponse_control(h.ld(), paged, &estimate, &cookie);
      if (rc != LDAP_SUCCESS) h.Fail(operation, rc, "bad paged results control");
      if (cookie.bv_len == 0) break;
    }
    ldap_memfree(cookie.bv_val);
    if (!refused) break;
    server_sort = false;
  }
  last_sort_by_server_ = server_sort;
  if (!server_sort && !sort_keys.empty()) SortEntries(canonical_keys, sort_keys, &entries);
  return entries;
}

void LdapSession::Probe(const std::string& base, const std::string& filter) {
  std::string operation = "search " + Quoted(base) + " for " + filter;
  std::string diagnostic;
  int rc = handle_->SearchOnce(operation, base, LDAP_SCOPE_SUBTREE, filter, {LDAP_NO_ATTRS},
                               nullptr, 1, nullptr, &diagnostic, nullptr);
  if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) handle_->Fail(operation, rc, diagnostic);
}

void LdapSession::Modify(const std::string& dn, const std::vector<AttributeChange>& changes) {
  // Storage for the modifications; LDAPMod wants mutable pointers.
  std::deque<std::vector<std::string>> texts;
  std::vector<std::vector<berval>> values;
  std::vector<LDAPMod> mods;
  values.reserve(changes.size() * 2);
  mods.reserve(changes.size() * 2);
  std::string names;
  auto add = [&](int op, const std::string& attribute, std::vector<std::string> copied) {
    texts.push_back(std::move(copied));
    std::vector<berval> list;
    for (const std::string& text : texts.back()) {
      list.push_back({text.size(), const_cast<char*>(text.data())});
    }
    values.push_back(std::move(list));
    LDAPMod mod;
    mod.mod_op = op | LDAP_MOD_BVALUES;
    mod.mod_type = const_cast<char*>(attribute.c_str());
    mod.mod_bvalues = nullptr;
    mods.push_back(mod);
  };
  for (const AttributeChange& change : changes) {
    if (change.old_values.empty() && !change.new_value) continue;
    // Deleting exactly the values read makes the server refuse the modify
    // when someone else changed them in between.
    if (!change.old_values.empty()) add(LDAP_MOD_DELETE, change.attribute, change.old_values);
    if (change.new_value) add(LDAP_MOD_ADD, change.attribute, {*change.new_value});
    names += (names.empty() ? "" : ", ") + change.attribute;
  }
  if (mods.empty()) return;
  std::vector<std::vector<berval*>> value_pointers(values.size());
  std::vector<LDAPMod*> mod_pointers;
  for (size_t i = 0; i < mods.size(); ++i) {
    for (berval& value : values[i]) value_pointers[i].push_back(&value);
    value_pointers[i].push_back(nullptr);
    mods[i].mod_bvalues = value_pointers[i].data();
    mod_pointers.push_back(&mods[i]);
  }
  mod_pointers.push_back(nullptr);
  Handle& h = *handle_;
  std::string operation = "modify " + Quoted(dn);
  int id = 0;
  int rc = ldap_modify_ext(h.ld(), dn.c_str(), mod_pointers.data(), nullptr, nullptr, &id);
  if (rc != LDAP_SUCCESS) h.Fail(operation, rc, h.Diagnostic());
  Message result = h.Wait(id, operation);
  h.CheckResult(result.get(), operation,
                names + " changed by someone else since it was read; nothing was written");
}

}  // namespace corvenel
