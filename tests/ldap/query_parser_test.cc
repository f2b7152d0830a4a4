#include "ldap/query_parser.h"

#include <string>

#include "gtest/gtest.h"

namespace corvenel {
namespace {

constexpr char kBuiltQuery[] =
    "SELECT AdsPath,cn,comment,company,description,info,lastLogon,location,managedby,mail,"
    "operatingSystem,operatingSystemServicePack,operatingSystemVersion,samAccountName,"
    "serialNumber,userAccountControl,whenChanged,whenCreated From 'LDAP://DC=corp,DC=example'"
    " WHERE objectClass='computer' ORDER BY cn";

TEST(QueryParserTest, BuiltQuery) {
  ParsedQuery query = ParseQuery(kBuiltQuery);
  ASSERT_EQ(18u, query.columns.size());
  EXPECT_EQ("AdsPath", query.columns[0]);
  EXPECT_EQ("samAccountName", query.columns[13]);
  EXPECT_EQ("whenCreated", query.columns[17]);
  EXPECT_FALSE(query.select_all);
  EXPECT_EQ("LDAP", query.scheme);
  EXPECT_EQ("", query.server);
  EXPECT_EQ("DC=corp,DC=example", query.base_dn);
  EXPECT_EQ("(objectClass=computer)", query.filter);
  ASSERT_EQ(1u, query.sort_keys.size());
  EXPECT_EQ("cn", query.sort_keys[0].attribute);
  EXPECT_FALSE(query.sort_keys[0].descending);
}

TEST(QueryParserTest, Filters) {
  struct {
    const char* where;
    const char* filter;
  } cases[] = {
      {"cn='PC1'", "(cn=PC1)"},
      {"cn = 'PC*'", "(cn=PC*)"},
      {"cn='*PC*01*'", "(cn=*PC*01*)"},
      {"cn='a**b'", "(cn=a*b)"},
      {"cn='*'", "(cn=*)"},
      {"cn=''", "(cn=)"},
      {"description='it''s'", "(description=it's)"},
      {"description=''''", "(description=')"},
      {"cn<>'PC1'", "(!(cn=PC1))"},
      {"cn<>'PC*'", "(!(cn=PC*))"},
      {"userAccountControl<=4096", "(userAccountControl<=4096)"},
      {"userAccountControl>=-1", "(userAccountControl>=-1)"},
      {"userAccountControl<4096", "(&(userAccountControl<=4096)(!(userAccountControl=4096)))"},
      {"cn>'b*'", "(&(cn>=b\\2a)(!(cn=b\\2a)))"},
      {"cn<='b*'", "(cn<=b\\2a)"},
      {"isCriticalSystemObject=TRUE", "(isCriticalSystemObject=TRUE)"},
      {"isCriticalSystemObject=false", "(isCriticalSystemObject=FALSE)"},
      {"a='1' AND b='2' AND c='3'", "(&(a=1)(b=2)(c=3))"},
      {"a='1' OR b='2' AND c='3'", "(|(a=1)(&(b=2)(c=3)))"},
      {"(a='1' OR b='2') AND c='3'", "(&(|(a=1)(b=2))(c=3))"},
      {"a='1' AND (b='2' AND c='3')", "(&(a=1)(b=2)(c=3))"},
      {"NOT a='1'", "(!(a=1))"},
      {"NOT NOT a='1'", "(!(!(a=1)))"},
      {"NOT (a='1' OR b='2') and not c<>'3'", "(&(!(|(a=1)(b=2)))(!(!(c=3))))"},
      {"objectClass='computer' AND (cn='PC1*' OR description='*lab*')",
       "(&(objectClass=computer)(|(cn=PC1*)(description=*lab*)))"},
      {"2.5.4.3='x'", "(2.5.4.3=x)"},
      {"cn;lang-en='x'", "(cn;lang-en=x)"},
      // Injection attempts stay inside the value.
      {"cn='x)(objectClass=*'", "(cn=x\\29\\28objectClass=*)"},
      {"cn='*)(|(cn=*'", "(cn=*\\29\\28|\\28cn=*)"},
      {"cn='a\\2a'", "(cn=a\\5c2a)"},
      {"cn='\\'", "(cn=\\5c)"},
      {"cn<>'x))(|(a=b'", "(!(cn=x\\29\\29\\28|\\28a=b))"},
  };
  for (const auto& c : cases) {
    std::string text = std::string("SELECT cn FROM 'LDAP://DC=x' WHERE ") + c.where;
    EXPECT_EQ(c.filter, ParseQuery(text).filter) << c.where;
  }
}

TEST(QueryParserTest, NulInValueIsEscaped) {
  std::string text = std::string("SELECT cn FROM 'LDAP://DC=x' WHERE cn='a") + '\0' + ")'";
  EXPECT_EQ("(cn=a\\00\\29)", ParseQuery(text).filter);
}

TEST(QueryParserTest, EscapeFilterValue) {
  EXPECT_EQ("a\\2ab\\28\\29\\5c\\00", EscapeFilterValue(std::string("a*b()\\\0", 7)));
  EXPECT_EQ("Grüße", EscapeFilterValue("Grüße"));
}

TEST(QueryParserTest, Paths) {
  struct {
    const char* path;
    const char* scheme;
    const char* server;
    const char* host;
    int port;
    const char* dn;
  } cases[] = {
      {"LDAP://DC=corp,DC=example", "LDAP", "", "", 0, "DC=corp,DC=example"},
      {"ldap://dc1.corp.example/DC=corp,DC=example", "LDAP", "dc1.corp.example", "dc1.corp.example",
       0, "DC=corp,DC=example"},
      {"LDAP://127.0.0.1:3890/OU=Computers,DC=corp,DC=example", "LDAP", "127.0.0.1:3890",
       "127.0.0.1", 3890, "OU=Computers,DC=corp,DC=example"},
      {"GC://gc.corp.example/DC=corp,DC=example", "GC", "gc.corp.example", "gc.corp.example", 0,
       "DC=corp,DC=example"},
      {"LDAP://[::1]:389/DC=x", "LDAP", "[::1]:389", "[::1]", 389, "DC=x"},
      {"LDAP://dc1", "LDAP", "dc1", "dc1", 0, ""},
      {"LDAP://", "LDAP", "", "", 0, ""},
      {"LDAP://CN=a\\/b,DC=x", "LDAP", "", "", 0, "CN=a/b,DC=x"},
  };
  for (const auto& c : cases) {
    ParsedQuery query = ParseQuery(std::string("SELECT * FROM '") + c.path + "'");
    EXPECT_TRUE(query.select_all) << c.path;
    EXPECT_TRUE(query.columns.empty()) << c.path;
    EXPECT_EQ(c.scheme, query.scheme) << c.path;
    EXPECT_EQ(c.server, query.server) << c.path;
    EXPECT_EQ(c.host, query.host) << c.path;
    EXPECT_EQ(c.port, query.port) << c.path;
    EXPECT_EQ(c.dn, query.base_dn) << c.path;
    EXPECT_EQ("(objectClass=*)", query.filter) << c.path;
  }
}

TEST(QueryParserTest, KeywordsInAnyCaseAndLineBreaks) {
  ParsedQuery query = ParseQuery(
      "select cn,\r\n Description\nfrom 'LDAP://DC=x'\nwhere Cn='a' Or cn='b'\norder by "
      "cn DESC, sAMAccountName asc, description;");
  EXPECT_EQ((std::vector<std::string>{"cn", "Description"}), query.columns);
  EXPECT_EQ("(|(Cn=a)(cn=b))", query.filter);
  ASSERT_EQ(3u, query.sort_keys.size());
  EXPECT_TRUE(query.sort_keys[0].descending);
  EXPECT_EQ("sAMAccountName", query.sort_keys[1].attribute);
  EXPECT_FALSE(query.sort_keys[1].descending);
  EXPECT_FALSE(query.sort_keys[2].descending);
}

TEST(QueryParserTest, MalformedTexts) {
  struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "Query syntax error at position 1: expected SELECT"},
      {"   ", "Query syntax error at position 4: expected SELECT"},
      {"SELEC cn FROM 'LDAP://DC=x'", "Query syntax error at position 1: expected SELECT"},
      {"SELECT FROM 'LDAP://DC=x'",
       "Query syntax error at position 8: expected a column name or *"},
      {"SELECT cn, FROM 'LDAP://DC=x'",
       "Query syntax error at position 12: expected a column name or *"},
      {"SELECT cn description FROM 'LDAP://DC=x'",
       "Query syntax error at position 11: expected FROM"},
      {"SELECT cn FRM 'LDAP://DC=x'", "Query syntax error at position 11: expected FROM"},
      {"SELECT cn FROM LDAP://DC=x",
       "Query syntax error at position 16: expected a quoted LDAP:// or GC:// path"},
      {"SELECT cn FROM 'WinNT://x'",
       "Query syntax error at position 16: expected an LDAP:// or GC:// path"},
      {"SELECT cn FROM 'LDAP://h:0/DC=x'",
       "Query syntax error at position 16: invalid port in path"},
      {"SELECT cn FROM 'LDAP://h:99999/DC=x'",
       "Query syntax error at position 16: invalid port in path"},
      {"SELECT cn FROM 'LDAP://h x/DC=x'",
       "Query syntax error at position 16: invalid server name in path"},
      {"SELECT cn FROM 'LDAP://DC=x",
       "Query syntax error at position 16: unterminated quoted text"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE",
       "Query syntax error at position 35: expected an attribute name"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE cn",
       "Query syntax error at position 38: expected a comparison operator"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE cn=",
       "Query syntax error at position 39: expected a quoted text, a number, TRUE or FALSE"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE cn=PC1",
       "Query syntax error at position 39: expected a quoted text, a number, TRUE or FALSE"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE 'a'=cn",
       "Query syntax error at position 36: expected an attribute name"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE (cn='a'",
       "Query syntax error at position 43: expected )"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE cn='a' AND",
       "Query syntax error at position 46: expected an attribute name"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE cn=='a'",
       "Query syntax error at position 39: expected a quoted text, a number, TRUE or FALSE"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE cn!='a'",
       "Query syntax error at position 38: unexpected character '!'"},
      {"SELECT cn FROM 'LDAP://DC=x' WHERE c_n='a'",
       "Query syntax error at position 36: expected an attribute name"},
      {"SELECT cn FROM 'LDAP://DC=x' ORDER cn", "Query syntax error at position 36: expected BY"},
      {"SELECT cn FROM 'LDAP://DC=x' ORDER BY",
       "Query syntax error at position 38: expected an attribute name"},
      {"SELECT cn FROM 'LDAP://DC=x' ORDER BY cn DESCENDING",
       "Query syntax error at position 42: expected the end of the query"},
      {"SELECT cn FROM 'LDAP://DC=x' extra",
       "Query syntax error at position 30: expected the end of the query"},
      {"SELECT cn FROM 'LDAP://DC=x'; SELECT",
       "Query syntax error at position 31: expected the end of the query"},
      {"SELECT from FROM 'LDAP://DC=x'",
       "Query syntax error at position 8: expected a column name or *"},
  };
  for (const auto& c : cases) {
    try {
      ParseQuery(c.text);
      ADD_FAILURE() << "parsed: " << c.text;
    } catch (const QuerySyntaxError& error) {
      EXPECT_EQ(c.message, std::string(error.what())) << c.text;
    }
  }
  // A control byte is named by its number.
  try {
    ParseQuery(std::string("SELECT cn\x01"));
    ADD_FAILURE();
  } catch (const QuerySyntaxError& error) {
    EXPECT_EQ("Query syntax error at position 10: unexpected character byte 1",
              std::string(error.what()));
    EXPECT_EQ(10u, error.position());
  }
}

}  // namespace
}  // namespace corvenel
