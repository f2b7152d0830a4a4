#include "ldap/ldap_session.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "ldap/ldap_errors.h"
#include "tests/support/slapd_server.h"

namespace corvenel {
namespace {

TEST(LdapSessionTest, DomainOfDn) {
  struct {
    const char* dn;
    const char* domain;
  } cases[] = {
      {"DC=corp,DC=example", "corp.example"},
      {"dc=corp,dc=example,dc=com", "corp.example.com"},
      {"OU=Computers,DC=corp,DC=example", "corp.example"},
      {"CN=PC0001,OU=Computers,DC=corp,DC=example", "corp.example"},
      {"O=Example", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.domain, DomainOfDn(c.dn)) << c.dn;
}

TEST(LdapSessionTest, ServerUrisForNamedServers) {
  struct {
    const char* query;
    const char* uris;
  } cases[] = {
      {"SELECT cn FROM 'LDAP://dc1.corp.example/DC=corp,DC=example'", "ldap://dc1.corp.example"},
      {"SELECT cn FROM 'LDAP://127.0.0.1:3890/DC=x'", "ldap://127.0.0.1:3890"},
      {"SELECT cn FROM 'GC://dc1.corp.example/DC=x'", "ldap://dc1.corp.example:3268"},
      {"SELECT cn FROM 'LDAP://dc1.corp.example:636/DC=x'", "ldaps://dc1.corp.example:636"},
      {"SELECT cn FROM 'GC://dc1.corp.example:3269/DC=x'", "ldaps://dc1.corp.example:3269"},
      {"SELECT cn FROM 'LDAP://[::1]:389/DC=x'", "ldap://[::1]:389"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.uris, ServerUrisFor(ParseQuery(c.query))) << c.query;
}

TEST(LdapSessionTest, ServerUrisFromLdapuri) {
  setenv("LDAPURI", "ldap://127.0.0.1:3999 ldap://127.0.0.2:3999", 1);
  EXPECT_EQ("ldap://127.0.0.1:3999 ldap://127.0.0.2:3999",
            ServerUrisFor(ParseQuery("SELECT cn FROM 'LDAP://DC=corp,DC=example'")));
  unsetenv("LDAPURI");
}

DirectoryEntry Entry(const char* name, std::vector<std::string> values) {
  DirectoryEntry entry;
  entry.dn = name;
  if (!values.empty()) entry.values["k"] = std::move(values);
  return entry;
}

TEST(LdapSessionTest, SortEntriesIgnoresCaseComparesIntegersAndPutsNullFirst) {
  std::vector<DirectoryEntry> entries = {Entry("b", {"bravo"}), Entry("none", {}),
                                         Entry("A", {"Alpha"}), Entry("10", {"10"}),
                                         Entry("9", {"9"}),     Entry("c", {"Charlie", "a"})};
  SortEntries({"k"}, {{"k", false}}, &entries);
  std::vector<std::string> order;
  for (const auto& entry : entries) order.push_back(entry.dn);
  EXPECT_EQ((std::vector<std::string>{"none", "9", "10", "A", "b", "c"}), order);

  SortEntries({"k"}, {{"k", true}}, &entries);
  order.clear();
  for (const auto& entry : entries) order.push_back(entry.dn);
  EXPECT_EQ((std::vector<std::string>{"c", "b", "A", "10", "9", "none"}), order);
}

class LdapSessionServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = testsupport::SlapdServer::Start(
        "dn: OU=Computers,DC=corp,DC=example\nobjectClass: organizationalUnit\nou: Computers\n\n"
        "dn: CN=bravo,OU=Computers,DC=corp,DC=example\nobjectClass: computer\ncn: bravo\n"
        "sAMAccountName: bravo$\n\n"
        "dn: CN=Alpha,OU=Computers,DC=corp,DC=example\nobjectClass: computer\ncn: Alpha\n"
        "sAMAccountName: Alpha$\n\n"
        "dn: CN=charlie,OU=Computers,DC=corp,DC=example\nobjectClass: computer\ncn: charlie\n"
        "sAMAccountName: charlie$\n\n");
    settings_.uris = server_->uri();
    settings_.timeout = 10;
    settings_.bind_dn = server_->admin_dn();
    settings_.password = server_->admin_password();
  }

  std::vector<std::string> Names(const std::vector<DirectoryEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.values.at("cn").at(0));
    return names;
  }

  std::unique_ptr<testsupport::SlapdServer> server_;
  SessionSettings settings_;
};

TEST_F(LdapSessionServerTest, SortsOnTheServerWhereItCanAndHereOtherwise) {
  LdapSession session(settings_);
  auto entries = session.SearchAll("DC=corp,DC=example", "(objectClass=computer)", {"cn"},
                                   {{"sAMAccountName", true}});
  EXPECT_TRUE(session.last_sort_by_server());
  EXPECT_EQ((std::vector<std::string>{"charlie", "bravo", "Alpha"}), Names(entries));

  // slapd has no ordering rule for cn and refuses to sort by it.
  entries =
      session.SearchAll("DC=corp,DC=example", "(objectClass=computer)", {"cn"}, {{"CN", false}});
  EXPECT_FALSE(session.last_sort_by_server());
  EXPECT_EQ((std::vector<std::string>{"Alpha", "bravo", "charlie"}), Names(entries));
}

TEST_F(LdapSessionServerTest, SchemaShapesAttributes) {
  LdapSession session(settings_);
  ASSERT_NE(nullptr, session.Attribute("COMMENT"));
  EXPECT_TRUE(session.Attribute("comment")->single_valued);
  EXPECT_FALSE(session.Attribute("cn")->single_valued);
  EXPECT_FALSE(session.Attribute("serialNumber")->single_valued);
  EXPECT_TRUE(session.Attribute("description")->user_modifiable);
  EXPECT_FALSE(session.Attribute("createTimestamp")->user_modifiable);
  EXPECT_EQ(nullptr, session.Attribute("madeUpAttribute"));
  EXPECT_EQ("cn", session.CanonicalName("commonName"));
  EXPECT_EQ("samaccountname", session.CanonicalName("SAMACCOUNTNAME"));
}

TEST_F(LdapSessionServerTest, WrongPasswordNamesServerAndBindDnOnly) {
  settings_.password = "not-the-password";
  try {
    LdapSession session(settings_);
    FAIL();
  } catch (const LdapError& error) {
    EXPECT_EQ(
        server_->uri() + ": bind as \"CN=admin,DC=corp,DC=example\": Invalid credentials (49)",
        std::string(error.what()));
    EXPECT_EQ(49, error.result_code());
  }
}

}  // namespace
}  // namespace corvenel
