// The failures of the LDAP directory layer.  Their class names are what
// users read on the console ("LdapError", "UpdateConflict", ...); messages
// name the server URI, the operation and DN, libldap's text for the result
// code and the server's diagnostic message.  No message ever holds a
// password or the contents of a password file.
#ifndef CORVENEL_LDAP_LDAP_ERRORS_H_
#define CORVENEL_LDAP_LDAP_ERRORS_H_

#include <string>

#include "palomid/exception.h"

namespace corvenel {

// An LDAP operation failed, or the server could not be reached or did not
// answer in time.  result_code() is the LDAP result code (negative for the
// client library's own codes, e.g. -1 "Can't contact LDAP server", -5
// "Timed out").  Message:
//   "ldap://dc1.corp.example: search \"DC=corp,DC=example\": No such object (32)"
// followed by ": <diagnostic message>" when the server sent one.
class LdapError : public palomid::Error {
 public:
  LdapError(const std::string& message, int result_code)
      : palomid::Error(message), result_code_(result_code) {}
  int result_code() const { return result_code_; }

 private:
  int result_code_;
};

// A post found that the values it read were changed by someone else before
// it wrote (the server answered 16 "No such attribute" or 20 "Type or value
// exists").  Nothing was written.
class UpdateConflict : public LdapError {
 public:
  using LdapError::LdapError;
};

// The connection string names no provider, or one this layer is not.
class ProviderError : public palomid::Error {
 public:
  using palomid::Error::Error;
};

// The configuration that says where the server is and who we are cannot be
// used: no server found, a bind DN without a password file, a timeout
// variable that is not a number.
class DirectoryConfigError : public palomid::Error {
 public:
  using palomid::Error::Error;
};

// An operation was called in a state that does not allow it: no connection,
// no current record, a post outside edit mode, a new value for a read-only
// field.
class QueryStateError : public palomid::Error {
 public:
  using palomid::Error::Error;
};

}  // namespace corvenel

#endif  // CORVENEL_LDAP_LDAP_ERRORS_H_
