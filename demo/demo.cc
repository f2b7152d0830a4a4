// The demo behind scripts/demo: a throwaway slapd seeded with computers and
// users, one run of corvenel there as a new user would make it (the domain
// typed at the prompt), the broadcasts caught on UDP port 514, and each
// object's description before and after.  Runs inside a private network
// namespace; everything it starts is gone when it returns.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/program_runner.h"
#include "tests/support/isolated_network.h"
#include "tests/support/slapd_server.h"
#include "tests/support/udp_listener.h"

namespace {

namespace fs = std::filesystem;

constexpr char kDomain[] = "DC=corp,DC=example";

struct DemoObject {
  std::string dn, cn, object_class;
};

// A few dozen objects with a mix of descriptions, comments and serial
// numbers, some with none of them.
std::string SeedLdif(std::vector<DemoObject>& objects) {
  std::string ldif =
      "dn: OU=Workstations,DC=corp,DC=example\nobjectClass: organizationalUnit\n"
      "ou: Workstations\n\n"
      "dn: OU=Staff,DC=corp,DC=example\nobjectClass: organizationalUnit\nou: Staff\n\n";
  const char* rooms[] = {"Room 101", "Room 102", "Lab", "Reception"};
  for (int i = 1; i <= 24; ++i) {
    char cn[16];
    std::snprintf(cn, sizeof cn, "WS%02d", i);
    DemoObject o{std::string("CN=") + cn + ",OU=Workstations,DC=corp,DC=example", cn, "computer"};
    ldif +=
        "dn: " + o.dn + "\nobjectClass: computer\ncn: " + cn + "\nsAMAccountName: " + cn + "$\n";
    if (i % 3 != 0) ldif += std::string("description: Desk PC, ") + rooms[i % 4] + "\n";
    if (i % 4 == 1) ldif += "comment: leased until 2027\n";
    if (i % 2 == 0) ldif += "serialNumber: SN" + std::to_string(70000 + i * 37) + "\n";
    ldif += "\n";
    objects.push_back(o);
  }
  const char* names[] = {"Ada",   "Brian", "Chen", "Dana",  "Emil", "Fatima",
                         "Grace", "Hugo",  "Ines", "Jonas", "Kim",  "Lena"};
  for (int i = 0; i < 12; ++i) {
    DemoObject o{std::string("CN=") + names[i] + ",OU=Staff,DC=corp,DC=example", names[i], "user"};
    ldif += "dn: " + o.dn + "\nobjectClass: user\ncn: " + names[i] +
            "\nsAMAccountName: " + names[i] + "\n";
    if (i % 2 == 0) ldif += "description: Staff member\n";
    ldif += "\n";
    objects.push_back(o);
  }
  return ldif;
}

std::string Joined(const std::vector<std::string>& values) {
  if (values.empty()) return "(none)";
  std::string text;
  for (const auto& v : values) text += (text.empty() ? "" : " | ") + v;
  return text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Section(const std::string& title) { std::cout << "\n=== " << title << " ===\n"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " path/to/corvenel\n";
    return 2;
  }
  if (!testsupport::InIsolatedNetwork()) {
    std::cerr << "The demo broadcasts on UDP port 514; run it through scripts/demo.\n";
    return 2;
  }
  const std::string corvenel = fs::absolute(argv[1]);

  std::vector<DemoObject> objects;
  auto server = testsupport::SlapdServer::Start(SeedLdif(objects));
  testsupport::UdpListener listener(514);

  Section("A throwaway directory");
  std::cout << "slapd at " << server->uri() << ", domain " << kDomain << ", " << objects.size()
            << " objects (24 computers, 12 users)\n";

  std::vector<std::vector<std::string>> before;
  for (const auto& o : objects) before.push_back(server->Values(o.dn, "description"));

  char pattern[] = "/tmp/corvenel-demo-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  fs::create_directories(work / "home");

  e2e::ProgramRun run;
  run.working_dir = work;
  run.input = std::string(kDomain) + "\n";
  run.env = {"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + (work / "home").string(),
             "LDAPURI=" + server->uri(), "LDAPBINDDN=" + server->admin_dn(),
             "CORVENEL_BINDPW_FILE=" + server->password_file()};

  Section("Running corvenel in an empty working directory");
  std::cout << "$ cd " << work.string() << "\n"
            << "$ LDAPURI=" << server->uri() << " LDAPBINDDN='" << server->admin_dn()
            << "' CORVENEL_BINDPW_FILE=" << server->password_file() << " corvenel\n";
  e2e::ProgramResult result = e2e::RunProgram(corvenel, run);
  // Show the typed answer after the prompt, as a terminal would.
  std::string console = result.out;
  const std::string prompt_end = "):";
  if (auto at = console.find(prompt_end); at != std::string::npos) {
    console.insert(at + prompt_end.size(), std::string(kDomain) + "\n");
  }
  std::cout << console << result.err;
  std::cout << "(exit status " << result.exit_status << ")\n";

  Section("Broadcasts received on UDP port 514");
  for (const auto& d : listener.Drain()) std::cout << d << "\n";

  Section("Files left in the working directory");
  for (const auto& e : fs::directory_iterator(work)) {
    if (!e.is_regular_file()) continue;
    std::cout << e.path().filename().string() << ": " << ReadFile(e.path()) << "\n";
  }

  Section("Descriptions before -> after");
  for (size_t i = 0; i < objects.size(); ++i) {
    std::printf("%-8s %-6s %-28s -> %s\n", objects[i].object_class.c_str(), objects[i].cn.c_str(),
                Joined(before[i]).c_str(),
                Joined(server->Values(objects[i].dn, "description")).c_str());
  }

  // What a failure looks like: the same working directory, a server that
  // is not there.
  Section("A second run, with the server out of reach");
  const std::string nowhere = "ldap://127.0.0.1:1";
  for (auto& variable : run.env) {
    if (variable.rfind("LDAPURI=", 0) == 0) variable = "LDAPURI=" + nowhere;
  }
  run.input.clear();
  std::cout << "$ LDAPURI=" << nowhere << " corvenel\n";
  result = e2e::RunProgram(corvenel, run);
  std::cout << result.out << result.err << "(exit status " << result.exit_status << ")\n";
  std::cout << "\nBroadcasts received on UDP port 514:\n";
  for (const auto& d : listener.Drain()) std::cout << d << "\n";
  std::cout << "\ne!ADOQuery.XML:\n" << ReadFile(work / "e!ADOQuery.XML");

  fs::remove_all(work);
  return 0;
}
