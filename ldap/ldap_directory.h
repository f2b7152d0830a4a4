// The directory access layer over an LDAP server (Active Directory or
// OpenLDAP), behind the interface of app/directory.h.
//
// Connection string: "Provider=ADSDSOObject;" selects this layer; optional
// "User ID=<bind DN or UPN>;Password=<password>;" bind with those instead of
// the configured identity.  Properties are never printed.
//
// The query text is the dialect of ldap/query_parser.h.  Opening runs a
// paged subtree search (every entry, never cut at a server's size limit),
// sorted by ORDER BY.  Fields are shaped by the server's schema: a
// single-valued attribute is a plain text, a multi-valued one an array (even
// of one value), an absent one null.  AdsPath is "LDAP://" (or "GC://"), the
// server of the path and "/" when the path named one, then the DN.
//
// Edit, SetValue and Post write, as one modify, a delete of exactly the
// values read plus an add of the new value, so a change by someone else in
// between fails the post with UpdateConflict.  An empty new value removes
// the attribute.  Next and Close discard an unposted edit.
//
// ExecuteCommand runs the command text as a search for at most one entry
// and no attributes, and returns -1.
//
// Failures are the classes of ldap/ldap_errors.h, QuerySyntaxError,
// FieldNotFound and VariantError.
#ifndef CORVENEL_LDAP_LDAP_DIRECTORY_H_
#define CORVENEL_LDAP_LDAP_DIRECTORY_H_

#include <memory>

#include "app/directory.h"

namespace corvenel {

std::unique_ptr<Directory> NewLdapDirectory();

}  // namespace corvenel

#endif  // CORVENEL_LDAP_LDAP_DIRECTORY_H_
