// Walks and updates N computer objects (default 10,000) on a private slapd
// the way the directory pass does: open the built query, and per record
// read four fields, edit, set the description, post, and run the command
// text again.  Prints the time of each stage.
//
//   scripts/in-netns build-ldap/bench/ldap_walk [count]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ldap/ldap_directory.h"
#include "tests/support/slapd_server.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  auto start = std::chrono::steady_clock::now();
  auto server =
      testsupport::SlapdServer::Start(testsupport::DirectoryObjectsLdif(count, "computer"));
  std::printf("slapadd + start of %d objects: %.3f s\n", count, Since(start));
  setenv("LDAPBINDDN", server->admin_dn().c_str(), 1);
  setenv("CORVENEL_BINDPW_FILE", server->password_file().c_str(), 1);

  auto directory = corvenel::NewLdapDirectory();
  auto connection = directory->CreateConnection();
  connection->SetConnectionString("Provider=ADSDSOObject;");
  auto query = directory->CreateQuery();
  query->SetLockType(corvenel::LockType::kOptimistic);
  query->SetConnection(connection.get());
  query->AddLine(
      "SELECT AdsPath,cn,comment,company,description,info,lastLogon,location,managedby,mail,"
      "operatingSystem,operatingSystemServicePack,operatingSystemVersion,samAccountName,"
      "serialNumber,userAccountControl,whenChanged,whenCreated From 'LDAP://127.0.0.1:" +
      std::to_string(server->port()) + "/DC=corp,DC=example' WHERE objectClass='computer' " +
      "ORDER BY cn");
  start = std::chrono::steady_clock::now();
  query->Open();
  std::printf("open (paged walk, client sort): %.3f s\n", Since(start));

  double post_seconds = 0;
  double execute_seconds = 0;
  int records = 0;
  start = std::chrono::steady_clock::now();
  for (; !query->Eof(); query->Next(), ++records) {
    for (const char* name : {"comment", "description", "serialNumber", "cn"}) {
      query->FieldByName(name).AsString();
    }
    corvenel::Field& description = query->FieldByName("description");
    description.SetReadOnly(false);
    query->Edit();
    description.CanModify();
    description.SetValue("description");
    auto stage = std::chrono::steady_clock::now();
    query->Post();
    post_seconds += Since(stage);
    stage = std::chrono::steady_clock::now();
    query->ExecuteCommand();
    execute_seconds += Since(stage);
  }
  double total = Since(start);
  std::printf("records: %d\n", records);
  std::printf(
      "record loop: %.3f s (post %.3f s = %.3f ms each, execute-as-command %.3f s = "
      "%.3f ms each)\n",
      total, post_seconds, 1000 * post_seconds / records, execute_seconds,
      1000 * execute_seconds / records);
  query->Close();
  return 0;
}
