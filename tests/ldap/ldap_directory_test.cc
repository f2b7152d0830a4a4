#include "ldap/ldap_directory.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "ldap/ldap_errors.h"
#include "ldap/query_parser.h"
#include "tests/support/slapd_server.h"

namespace corvenel {
namespace {

using testsupport::DirectoryObjectsLdif;
using testsupport::SlapdServer;

constexpr char kBuiltQueryColumns[] =
    "SELECT AdsPath,cn,comment,company,description,info,lastLogon,location,managedby,mail,"
    "operatingSystem,operatingSystemServicePack,operatingSystemVersion,samAccountName,"
    "serialNumber,userAccountControl,whenChanged,whenCreated From ";

// Anything slower than this is a hang, not a timeout.
constexpr auto kHangBound = std::chrono::seconds(15);

class LdapDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("LDAPURI");
    unsetenv("LDAPSASL_MECH");
    setenv("CORVENEL_LDAP_TIMEOUT", "10", 1);
    setenv("CORVENEL_LDAP_CONNECT_TIMEOUT", "2", 1);
    directory_ = NewLdapDirectory();
    directory_->InitializeThread();
    connection_ = directory_->CreateConnection();
    connection_->SetConnectionString("Provider=ADSDSOObject;");
  }

  void StartServer(const std::string& ldif, testsupport::SlapdOptions options = {}) {
    server_ = SlapdServer::Start(ldif, options);
    setenv("HOME", server_->directory().c_str(), 1);
    setenv("LDAPBINDDN", server_->admin_dn().c_str(), 1);
    setenv("CORVENEL_BINDPW_FILE", server_->password_file().c_str(), 1);
  }

  // "'LDAP://127.0.0.1:PORT/DC=corp,DC=example'"
  std::string Path(const std::string& dn = "DC=corp,DC=example") const {
    return "'LDAP://127.0.0.1:" + std::to_string(server_->port()) + "/" + dn + "'";
  }

  // Prepared and opened as the directory pass does it.
  std::unique_ptr<Query> Open(const std::string& text, LockType lock = LockType::kOptimistic) {
    std::unique_ptr<Query> query = directory_->CreateQuery();
    query->AddLine(text);
    query->SetCursorType(CursorType::kDynamic);
    query->SetLockType(lock);
    query->SetConnection(connection_.get());
    query->ClearText();
    query->AddLine(text);
    query->Open();
    return query;
  }

  // As slapd returns DNs: attribute types in its schema's spelling.
  std::string Dn(const std::string& name) const {
    return "cn=" + name + ",ou=Computers,dc=corp,dc=example";
  }

  std::unique_ptr<SlapdServer> server_;
  std::unique_ptr<Directory> directory_;
  std::unique_ptr<Connection> connection_;
};

TEST_F(LdapDirectoryTest, WalksEveryEntryPastTheSizeLimit) {
  StartServer(DirectoryObjectsLdif(2500) + DirectoryObjectsLdif(3, "user"));
  auto query = Open("SELECT cn FROM " + Path() + " WHERE objectClass='computer'");
  std::set<std::string> names;
  for (; !query->Eof(); query->Next()) names.insert(query->FieldByName("cn").AsString());
  EXPECT_EQ(2500u, names.size());
  EXPECT_EQ(1u, names.count("PC0001"));
  EXPECT_EQ(1u, names.count("PC2500"));
  // The probe of the command stops at one entry; the size limit it meets
  // is no failure.
  EXPECT_EQ(-1, query->ExecuteCommand());
  query->Close();
  query->Close();
}

TEST_F(LdapDirectoryTest, OrderByIsCaseInsensitiveAscendingAndDescending) {
  StartServer(DirectoryObjectsLdif(3) +
              "dn: CN=alpha,OU=Computers,DC=corp,DC=example\nobjectClass: computer\ncn: alpha\n"
              "sAMAccountName: zulu\n\n"
              "dn: CN=Bravo,OU=Computers,DC=corp,DC=example\nobjectClass: computer\ncn: Bravo\n"
              "sAMAccountName: Yankee\n\n");
  auto names = [&](const std::string& order) {
    auto query = Open("SELECT cn FROM " + Path() + " WHERE objectClass='computer' " + order);
    std::vector<std::string> result;
    for (; !query->Eof(); query->Next()) result.push_back(query->FieldByName("cn").AsString());
    return result;
  };
  EXPECT_EQ((std::vector<std::string>{"alpha", "Bravo", "PC0001", "PC0002", "PC0003"}),
            names("ORDER BY cn"));
  EXPECT_EQ((std::vector<std::string>{"PC0003", "PC0002", "PC0001", "Bravo", "alpha"}),
            names("order by CN desc"));
  EXPECT_EQ((std::vector<std::string>{"PC0001", "PC0002", "PC0003", "Bravo", "alpha"}),
            names("ORDER BY sAMAccountName ASC"));
}

TEST_F(LdapDirectoryTest, ValuesAreShapedByTheSchema) {
  StartServer(DirectoryObjectsLdif(4));
  auto query = Open(
      "SELECT AdsPath, cn, comment, description, serialNumber, company, "
      "madeUpAttribute FROM " +
      Path() + " WHERE cn='PC000*' ORDER BY cn");
  ASSERT_FALSE(query->Eof());
  // PC0001: description, comment and one serial number.
  Variant cn = query->FieldByName("cn").Value();
  EXPECT_EQ(Variant::Kind::kArray, cn.kind());  // multi-valued in slapd's schema
  EXPECT_EQ("PC0001", cn.Element(0));
  EXPECT_EQ("PC0001", query->FieldByName("CN").AsString());
  Variant comment = query->FieldByName("Comment").Value();
  EXPECT_EQ(Variant::Kind::kText, comment.kind());
  EXPECT_EQ("Comment 0001", comment.AsText());
  EXPECT_THROW(comment.Element(0), VariantError);
  EXPECT_EQ((std::vector<std::string>{"Description 0001"}),
            query->FieldByName("description").Value().values());
  EXPECT_EQ("SN0001", query->FieldByName("SERIALNUMBER").Value().Element(0));
  Variant company = query->FieldByName("company").Value();
  EXPECT_TRUE(company.is_null());
  EXPECT_EQ("", company.AsText());
  EXPECT_THROW(company.Element(0), VariantError);
  EXPECT_TRUE(query->FieldByName("madeUpAttribute").Value().is_null());
  EXPECT_EQ("LDAP://127.0.0.1:" + std::to_string(server_->port()) + "/" + Dn("PC0001"),
            query->FieldByName("adspath").AsString());
  try {
    query->FieldByName("mail");
    FAIL();
  } catch (const FieldNotFound& error) {
    EXPECT_EQ("Field \"mail\" not found in the query result", std::string(error.what()));
  }

  query->Next();  // PC0002: description only
  EXPECT_TRUE(query->FieldByName("comment").Value().is_null());
  EXPECT_TRUE(query->FieldByName("serialNumber").Value().is_null());
  query->Next();  // PC0003: comment and two serial numbers
  EXPECT_EQ("SN0003; SN0003B", query->FieldByName("serialNumber").AsString());
  EXPECT_EQ("SN0003B", query->FieldByName("serialNumber").Value().Element(1));
  EXPECT_THROW(query->FieldByName("serialNumber").Value().Element(2), VariantError);
  query->Next();  // PC0004: none
  EXPECT_TRUE(query->FieldByName("description").Value().is_null());
  query->Next();
  EXPECT_TRUE(query->Eof());
  EXPECT_THROW(query->FieldByName("cn"), QueryStateError);
}

TEST_F(LdapDirectoryTest, BuiltQueryThroughLdapuriWithAdsPathWithoutServer) {
  StartServer(DirectoryObjectsLdif(2) + DirectoryObjectsLdif(2, "user"));
  setenv("LDAPURI", server_->uri().c_str(), 1);
  auto query = Open(std::string(kBuiltQueryColumns) +
                    "'LDAP://DC=corp,DC=example' WHERE objectClass='computer' ORDER BY cn");
  ASSERT_FALSE(query->Eof());
  EXPECT_EQ("LDAP://" + Dn("PC0001"), query->FieldByName("AdsPath").AsString());
  EXPECT_EQ("PC0001$", query->FieldByName("samAccountName").AsString());
  EXPECT_TRUE(query->FieldByName("managedby").Value().is_null());
  query->Next();
  EXPECT_EQ("PC0002", query->FieldByName("cn").AsString());
  query->Next();
  EXPECT_TRUE(query->Eof());
}

TEST_F(LdapDirectoryTest, SelectStarYieldsAdsPathOnly) {
  StartServer(DirectoryObjectsLdif(1));
  auto query = Open("SELECT * FROM " + Path("OU=Computers,DC=corp,DC=example") +
                    " WHERE objectClass='computer'");
  ASSERT_FALSE(query->Eof());
  EXPECT_EQ(Variant::Kind::kText, query->FieldByName("ADsPath").Value().kind());
  EXPECT_THROW(query->FieldByName("cn"), FieldNotFound);
}

TEST_F(LdapDirectoryTest, PostWritesTheNewValueAndKeepsTheRest) {
  StartServer(DirectoryObjectsLdif(4));
  auto query = Open("SELECT cn, description, comment FROM " + Path() +
                    " WHERE objectClass='computer' ORDER BY cn");
  for (int n = 1; !query->Eof(); query->Next(), ++n) {
    Field& description = query->FieldByName("description");
    EXPECT_THROW(description.SetValue("too early"), QueryStateError);
    description.SetReadOnly(false);
    query->Edit();
    EXPECT_TRUE(description.CanModify());
    description.SetValue("description");
    EXPECT_EQ("description", description.AsString());
    query->Post();
    EXPECT_EQ("description", description.AsString());
    EXPECT_EQ(-1, query->ExecuteCommand());
  }
  for (int n = 1; n <= 4; ++n) {
    std::string dn = Dn(testsupport::DirectoryObjectName(n));
    EXPECT_EQ((std::vector<std::string>{"description"}), server_->Values(dn, "description")) << dn;
  }
  EXPECT_EQ((std::vector<std::string>{"Comment 0001"}), server_->Values(Dn("PC0001"), "comment"));

  // A single-valued attribute, and removal by an empty value.
  query = Open("SELECT cn, comment, AdsPath FROM " + Path() + " WHERE cn='PC0001'");
  query->Edit();
  query->FieldByName("comment").SetValue("");
  EXPECT_TRUE(query->FieldByName("comment").Value().is_null());
  query->Post();
  EXPECT_TRUE(server_->Values(Dn("PC0001"), "comment").empty());
  EXPECT_FALSE(query->FieldByName("AdsPath").CanModify());
  query->FieldByName("comment").SetReadOnly(true);
  EXPECT_FALSE(query->FieldByName("comment").CanModify());
  query->Edit();
  EXPECT_THROW(query->FieldByName("comment").SetValue("x"), QueryStateError);
  EXPECT_THROW(query->FieldByName("AdsPath").SetValue("x"), QueryStateError);
}

TEST_F(LdapDirectoryTest, ReadOnlyQueryCannotEdit) {
  StartServer(DirectoryObjectsLdif(1));
  auto query = Open("SELECT description FROM " + Path(), LockType::kReadOnly);
  EXPECT_FALSE(query->FieldByName("description").CanModify());
  EXPECT_THROW(query->Edit(), QueryStateError);
  EXPECT_THROW(query->Post(), QueryStateError);
}

TEST_F(LdapDirectoryTest, ConflictingChangeFailsThePostAndSurvives) {
  StartServer(DirectoryObjectsLdif(4));
  auto query = Open("SELECT cn, description FROM " + Path() + " WHERE cn='PC0001'");
  ASSERT_EQ("Description 0001", query->FieldByName("description").AsString());
  ASSERT_TRUE(server_->Modify("dn: " + Dn("PC0001") +
                              "\nchangetype: modify\nreplace: description\n"
                              "description: changed by someone else\n"));
  query->Edit();
  query->FieldByName("description").SetValue("description");
  try {
    query->Post();
    FAIL();
  } catch (const UpdateConflict& error) {
    EXPECT_EQ(16, error.result_code());
    EXPECT_EQ(server_->uri() + ": modify \"" + Dn("PC0001") +
                  "\": description changed by someone else since it was read; nothing was "
                  "written: No such attribute (16): modify/delete: description: no such value",
              std::string(error.what()));
  }
  EXPECT_EQ((std::vector<std::string>{"changed by someone else"}),
            server_->Values(Dn("PC0001"), "description"));

  // An object without a value gets one added only; one added meanwhile
  // makes the server refuse a second.
  query = Open("SELECT cn, description FROM " + Path() + " WHERE cn='PC0004'");
  ASSERT_TRUE(query->FieldByName("description").Value().is_null());
  ASSERT_TRUE(server_->Modify("dn: " + Dn("PC0004") +
                              "\nchangetype: modify\nadd: description\ndescription: theirs\n"));
  query->Edit();
  query->FieldByName("description").SetValue("description");
  EXPECT_THROW(query->Post(), LdapError);
  EXPECT_EQ((std::vector<std::string>{"theirs"}), server_->Values(Dn("PC0004"), "description"));
}

TEST_F(LdapDirectoryTest, ExecuteCommandLeavesTheOpenResultAlone) {
  StartServer(DirectoryObjectsLdif(3));
  auto query = Open("SELECT cn FROM " + Path() + " WHERE objectClass='computer' ORDER BY cn");
  query->Next();
  ASSERT_EQ("PC0002", query->FieldByName("cn").AsString());
  EXPECT_EQ(-1, query->ExecuteCommand());
  EXPECT_EQ("PC0002", query->FieldByName("cn").AsString());
  query->ClearText();
  query->AddLine("SELECT cn FROM " + Path("OU=Nowhere,DC=corp,DC=example"));
  try {
    query->ExecuteCommand();
    FAIL();
  } catch (const LdapError& error) {
    EXPECT_EQ(32, error.result_code());
    EXPECT_EQ(server_->uri() +
                  ": search \"OU=Nowhere,DC=corp,DC=example\" for (objectClass=*): No such "
                  "object (32)",
              std::string(error.what()));
  }
  EXPECT_EQ("PC0002", query->FieldByName("cn").AsString());
  query->Next();
  EXPECT_EQ("PC0003", query->FieldByName("cn").AsString());
}

TEST_F(LdapDirectoryTest, UnreachableServerFailsAtOnce) {
  // A bound socket that does not listen: connections are refused.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
  std::string port = std::to_string(ntohs(address.sin_port));
  unsetenv("LDAPBINDDN");
  auto start = std::chrono::steady_clock::now();
  try {
    Open("SELECT cn FROM 'LDAP://127.0.0.1:" + port + "/DC=corp,DC=example'");
    FAIL();
  } catch (const LdapError& error) {
    EXPECT_EQ(-1, error.result_code());
    EXPECT_EQ("ldap://127.0.0.1:" + port + ": connect: Can't contact LDAP server (-1)",
              std::string(error.what()));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangBound);
  close(fd);
}

TEST_F(LdapDirectoryTest, StalledServerTimesOut) {
  StartServer(DirectoryObjectsLdif(3));
  setenv("CORVENEL_LDAP_TIMEOUT", "1", 1);
  auto query = Open("SELECT cn, description FROM " + Path() + " WHERE cn='PC*' ORDER BY cn");
  query->Next();
  server_->Pause();
  auto start = std::chrono::steady_clock::now();
  query->Edit();
  query->FieldByName("description").SetValue("description");
  try {
    query->Post();
    FAIL();
  } catch (const LdapError& error) {
    EXPECT_EQ(-5, error.result_code());
    EXPECT_EQ(
        server_->uri() + ": modify \"" + Dn("PC0002") + "\": Timed out (-5): no answer within 1 s",
        std::string(error.what()));
  }
  EXPECT_THROW(query->ExecuteCommand(), LdapError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangBound);

  // A fresh connection to the stalled server fails the same way.
  auto other = directory_->CreateConnection();
  other->SetConnectionString("Provider=ADSDSOObject;");
  auto second = directory_->CreateQuery();
  second->SetConnection(other.get());
  second->AddLine("SELECT cn FROM " + Path());
  start = std::chrono::steady_clock::now();
  EXPECT_THROW(second->Open(), LdapError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangBound);
  server_->Resume();
}

TEST_F(LdapDirectoryTest, ProviderAndQueryFailuresAtOpen) {
  auto query = directory_->CreateQuery();
  query->AddLine("SELECT cn FROM 'LDAP://127.0.0.1:1/DC=x'");
  EXPECT_THROW(query->Open(), QueryStateError);  // no connection
  query->SetConnection(connection_.get());
  connection_->SetConnectionString("Provider=MSDASQL;Password=hunter2");
  try {
    query->Open();
    FAIL();
  } catch (const ProviderError& error) {
    EXPECT_EQ(
        "Provider \"MSDASQL\" is not supported; this directory layer is Provider=ADSDSOObject",
        std::string(error.what()));
  }
  connection_->SetConnectionString("Password=hunter2;");
  EXPECT_THROW(query->Open(), ProviderError);
  connection_->SetConnectionString("provider=adsdsoobject;hunter2");
  try {
    query->Open();
    FAIL();
  } catch (const ProviderError& error) {
    EXPECT_EQ("Connection string property 2 is not of the form Name=Value",
              std::string(error.what()));
  }
  connection_->SetConnectionString("Provider=ADSDSOObject");
  query->ClearText();
  query->AddLine("SELECT cn");
  query->AddLine("FRM 'LDAP://DC=x'");
  try {
    query->Open();
    FAIL();
  } catch (const QuerySyntaxError& error) {
    EXPECT_EQ("Query syntax error at position 11: expected FROM", std::string(error.what()));
  }
}

TEST_F(LdapDirectoryTest, BindIdentities) {
  StartServer(DirectoryObjectsLdif(1));
  std::string text = "SELECT cn, description FROM " + Path() + " WHERE cn='PC0001'";

  // The connection string's identity; its password is never shown.
  connection_->SetConnectionString("Provider=ADSDSOObject;User ID=" + server_->admin_dn() +
                                   ";Password=wrong-secret;");
  try {
    Open(text);
    FAIL();
  } catch (const LdapError& error) {
    EXPECT_EQ(49, error.result_code());
    EXPECT_EQ(std::string::npos, std::string(error.what()).find("wrong-secret"));
  }

  // A bind DN needs a password file; one trailing line end is ignored.
  connection_->SetConnectionString("Provider=ADSDSOObject;");
  unsetenv("CORVENEL_BINDPW_FILE");
  EXPECT_THROW(Open(text), DirectoryConfigError);
  std::string file = server_->directory() + "/with-newline.pw";
  FILE* out = fopen(file.c_str(), "w");
  fprintf(out, "%s\n", server_->admin_password().c_str());
  fclose(out);
  setenv("CORVENEL_BINDPW_FILE", file.c_str(), 1);
  EXPECT_EQ("PC0001", Open(text)->FieldByName("cn").AsString());

  // Anonymous: reading works, writing is refused by the server.
  unsetenv("LDAPBINDDN");
  connection_ = directory_->CreateConnection();
  connection_->SetConnectionString("Provider=ADSDSOObject;");
  auto query = Open(text);
  query->Edit();
  query->FieldByName("description").SetValue("description");
  try {
    query->Post();
    FAIL();
  } catch (const LdapError& error) {
    EXPECT_EQ(8, error.result_code());  // slapd: modifications require authentication
  }
}

}  // namespace
}  // namespace corvenel
