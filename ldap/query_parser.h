// The query dialect of the directory layer, turned into an LDAP search.
//
//   SELECT name[, name...] | *
//   FROM 'LDAP://[host[:port]/]DN' | 'GC://[host[:port]/]DN'
//   [WHERE condition]
//   [ORDER BY name [ASC|DESC][, ...]]
//
// A condition compares an attribute (on the left) with a literal using
// =, <>, <, <=, > or >=, and combines comparisons with NOT, AND, OR and
// parentheses.  Literals are single-quoted texts (a doubled quote stands for
// one quote; '*' is a wildcard in = and <>), numbers, or TRUE/FALSE.
// Keywords are case-insensitive; line breaks count as blanks.
//
// This file knows nothing of libldap, so it can be tested and fuzzed alone.
#ifndef CORVENEL_LDAP_QUERY_PARSER_H_
#define CORVENEL_LDAP_QUERY_PARSER_H_

#include <string>
#include <vector>

#include "palomid/exception.h"

namespace corvenel {

// The query text cannot be read.  The message names the 1-based position in
// the text and what was expected there:
//   "Query syntax error at position 57: expected FROM"
class QuerySyntaxError : public palomid::Error {
 public:
  QuerySyntaxError(size_t position, const std::string& what);
  size_t position() const { return position_; }

 private:
  size_t position_;
};

// One ORDER BY key.
struct SortKey {
  std::string attribute;
  bool descending = false;
};

// A query, ready for a subtree search.
struct ParsedQuery {
  // The SELECT list as written, in order; empty for "SELECT *".
  std::vector<std::string> columns;
  bool select_all = false;  // "SELECT *": the result holds AdsPath only
  // "LDAP" or "GC", in upper case.
  std::string scheme;
  // The server part of the path as written ("dc1.corp.example:389"), empty
  // when the path names no server.
  std::string server;
  std::string host;  // server without the port
  int port = 0;      // 0 when the path names none
  std::string base_dn;
  // An RFC 4515 filter; "(objectClass=*)" when the query has no WHERE.
  std::string filter;
  std::vector<SortKey> sort_keys;
};

// Parses |text|.  Throws QuerySyntaxError.
ParsedQuery ParseQuery(const std::string& text);

// |value| escaped for an RFC 4515 assertion value: '*', '(', ')', '\' and
// NUL become "\2a", "\28", "\29", "\5c" and "\00".
std::string EscapeFilterValue(const std::string& value);

}  // namespace corvenel

#endif  // CORVENEL_LDAP_QUERY_PARSER_H_
