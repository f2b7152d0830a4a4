// The real executable, end to end: a real slapd on loopback, a real UDP
// socket on port 514 catching the broadcasts, a fresh working directory and
// scripted console input.  Every test compares the console transcript byte
// for byte, the datagrams, the files left behind and the directory's state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "tests/e2e/program_runner.h"
#include "tests/support/slapd_server.h"
#include "tests/support/udp_listener.h"

namespace {

namespace fs = std::filesystem;
using testsupport::SlapdServer;

constexpr char kSuffix[] = "DC=corp,DC=example";
constexpr char kVersion[] = "2023.2.5.1024";
constexpr char kPrompt[] =
    "What is the AD Domain? (Eg DC=corp,DC=example,DC=com or DC=ad,DC=example,DC=org):";

const std::string kPC01 = "CN=PC01,OU=Computers,DC=corp,DC=example";
const std::string kPC02 = "CN=pc02,OU=Computers,DC=corp,DC=example";
const std::string kPC03 = "CN=PC03,OU=Computers,DC=corp,DC=example";
const std::string kAlice = "CN=Alice,OU=Users,DC=corp,DC=example";
const std::string kBob = "CN=Bob,OU=Users,DC=corp,DC=example";

// Three computers and two users.  pc02 is spelt in lower case so that the
// case-insensitive ORDER BY shows; PC03's comment is single-valued, so the
// pass reads it as plain text; pc02 holds two serial numbers.
const char kDirectoryLdif[] = R"(dn: OU=Computers,DC=corp,DC=example
objectClass: organizationalUnit
ou: Computers

dn: OU=Users,DC=corp,DC=example
objectClass: organizationalUnit
ou: Users

dn: CN=PC03,OU=Computers,DC=corp,DC=example
objectClass: computer
cn: PC03
sAMAccountName: PC03$
description: Old desk PC
comment: plain comment
serialNumber: SN-0003

dn: CN=PC01,OU=Computers,DC=corp,DC=example
objectClass: computer
cn: PC01
sAMAccountName: PC01$

dn: CN=pc02,OU=Computers,DC=corp,DC=example
objectClass: computer
cn: pc02
sAMAccountName: pc02$
description: Lab
serialNumber: A1
serialNumber: B2

dn: CN=Alice,OU=Users,DC=corp,DC=example
objectClass: user
cn: Alice
sAMAccountName: alice
description: Staff

dn: CN=Bob,OU=Users,DC=corp,DC=example
objectClass: user
cn: Bob
sAMAccountName: bob
)";

std::string BuiltQuery(const std::string& domain, const std::string& object_class) {
  return "SELECT AdsPath,cn,comment,company,description,info,lastLogon,location,managedby,mail,"
         "operatingSystem,operatingSystemServicePack,operatingSystemVersion,samAccountName,"
         "serialNumber,userAccountControl,whenChanged,whenCreated From 'LDAP://" +
         domain + "' WHERE objectClass='" + object_class + "' ORDER BY cn";
}

// The lines from "test" to the opening of the query.
std::string Opening(const std::string& domain, const std::string& query) {
  return "test\nDomain: " + domain + "\n" + query +
         "\n1110\n1120\n1130 b4 ADOQuery.Connection:=ADOConnection\n1150 before add(sql)\n";
}

struct Shown {
  std::string cn, description, comment, serial_number;
};

// One record's lines up to "CanModify=", and the rest.
std::string RecordHead(int count, const Shown& r) {
  return "iCount=" + std::to_string(count) + "\n1250\ncn: " + r.cn +
         "\nDescription: " + r.description + "\nComment: " + r.comment +
         "\nSerialNumber: " + r.serial_number +
         "\nSetting comment...\nSetting description...\nCanModify=True\n";
}
std::string RecordTail() { return "description: description\n\n"; }
std::string Record(int count, const Shown& r) { return RecordHead(count, r) + RecordTail(); }

const Shown kShownPC01{"PC01", "", "", ""};
const Shown kShownPC02{"pc02", "Lab", "", "A1"};
const Shown kShownPC03{"PC03", "Old desk PC", "plain comment", "SN-0003"};
const Shown kShownAlice{"Alice", "Staff", "", ""};
const Shown kShownBob{"Bob", "", "", ""};

std::string Closing() { return std::string("done - ") + kVersion + "\n"; }

std::string ShortHostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  std::string host = name;
  return host.substr(0, host.find('.'));
}

std::string StartLine() {
  return std::string("<5>ADOQuery v") + kVersion + " Started on " + ShortHostName();
}

std::string FailureNotice(int sequence, int trace) {
  char seq[16];
  std::snprintf(seq, sizeof seq, "%05d", sequence);
  return std::string("<0>Corvenel:") + seq +
         " EXCEPTION:Func=main() Trace=" + std::to_string(trace) +
         " File=\"e!ADOQuery.XML\" SelfNameCorvenel Version=" + kVersion + " H=\"" +
         ShortHostName() + "\" (ID=00001)";
}

// The report file with its clock entries blanked out.
std::string ExpectedReport(int trace, const std::string& class_name, const std::string& message) {
  return "<xml>\r\n<Exception>\r\n<DateTime></DateTime>\r\n<MachineUpTime></MachineUpTime>\r\n"
         "<SelfName>Corvenel</SelfName>\r\n<Version>" +
         std::string(kVersion) +
         "</Version>\r\n<Function>main()</Function>\r\n<CallingFunction></CallingFunction>\r\n"
         "<Trace>" +
         std::to_string(trace) + "</Trace>\r\n<HostName>" + ShortHostName() +
         "</HostName>\r\n<ClassName>" + class_name + "</ClassName>\r\n<e.Message>" + message +
         "</e.Message>\r\n<SQL></SQL>\r\n<Notes></Notes>\r\n<Count>0</Count>\r\n"
         "</Exception>\r\n</xml>\r\n";
}

std::string BlankClockEntries(const std::string& report) {
  static const std::regex date(R"(<DateTime>\d{4}-\d\d-\d\d \d\d.\d\d.\d\d\.\d{3}</DateTime>)");
  static const std::regex uptime(R"(<MachineUpTime>\d+w\dd\d\dh\d\dm\d\ds</MachineUpTime>)");
  std::string out = std::regex_replace(report, date, "<DateTime></DateTime>");
  return std::regex_replace(out, uptime, "<MachineUpTime></MachineUpTime>");
}

class CorvenelTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

  void SetUp() override {
    char pattern[] = "/tmp/corvenel-e2e-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(root_ / "home");
    fs::create_directories(root_ / "wd");
    ldap_uri_ = "ldap://127.0.0.1:1";  // nothing listens there
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(root_);
  }

  void StartDirectory() {
    server_ = SlapdServer::Start(kDirectoryLdif);
    ldap_uri_ = server_->uri();
  }

  fs::path Wd() const { return root_ / "wd"; }

  void WriteWd(const std::string& name, const std::string& content) {
    std::ofstream(Wd() / name, std::ios::binary) << content;
  }
  std::string ReadWd(const std::string& name) {
    std::ifstream in(Wd() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool ExistsWd(const std::string& name) { return fs::exists(Wd() / name); }
  std::vector<std::string> WdFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Wd())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env = {
        "PATH=/usr/local/bin:/usr/bin:/bin",
        "HOME=" + (root_ / "home").string(),
        "LDAPURI=" + ldap_uri_,
        // Short limits keep the unreachable-server case quick.
        "CORVENEL_LDAP_CONNECT_TIMEOUT=3",
        "CORVENEL_LDAP_TIMEOUT=10",
    };
    if (server_) {
      env.push_back("LDAPBINDDN=" + server_->admin_dn());
      env.push_back("CORVENEL_BINDPW_FILE=" + server_->password_file());
    }
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    return env;
  }

  e2e::ProgramResult Run(std::vector<std::string> args = {}, std::string input = "",
                         e2e::ProgramRun run = {}) {
    run.working_dir = Wd();
    run.args = std::move(args);
    run.input = std::move(input);
    run.env = Environment();
    e2e::ProgramResult result = e2e::RunProgram(CORVENEL_EXECUTABLE, run);
    EXPECT_EQ(0, result.exit_status) << result.err;
    return result;
  }

  std::string AdminPassword() {
    std::ifstream in(server_->password_file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::vector<std::string> Descriptions(const std::string& dn) {
    return server_->Values(dn, "description");
  }
  using Values = std::vector<std::string>;

  fs::path root_;
  std::string ldap_uri_;
  std::unique_ptr<SlapdServer> server_;
  testsupport::UdpListener listener_{514};
};

TEST_F(CorvenelTest, WalksAndUpdatesEveryComputer) {
  StartDirectory();
  WriteWd("ldapdomain.txt", std::string(kSuffix) + "\r\n");
  const std::string query = BuiltQuery(kSuffix, "computer");

  auto result = Run();

  EXPECT_EQ(Opening(kSuffix, query) + Record(1, kShownPC01) + Record(2, kShownPC02) +
                Record(3, kShownPC03) + Closing(),
            result.out);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(std::vector<std::string>{StartLine()}, listener_.Drain());
  EXPECT_EQ((std::vector<std::string>{"ldapdomain.txt", "sql.txt"}), WdFiles());
  EXPECT_EQ(std::string(kSuffix) + "\r\n", ReadWd("ldapdomain.txt"));
  EXPECT_EQ(query, ReadWd("sql.txt"));
  for (const auto& dn : {kPC01, kPC02, kPC03})
    EXPECT_EQ(Values{"description"}, Descriptions(dn)) << dn;
  EXPECT_EQ(Values{"Staff"}, Descriptions(kAlice));
  EXPECT_EQ(Values{}, Descriptions(kBob));
  EXPECT_EQ((Values{"A1", "B2"}), server_->Values(kPC02, "serialNumber"));

  // The saved query serves the next run whatever the argument says.
  auto again = Run({"user"});
  EXPECT_EQ(Opening(kSuffix, query) + Record(1, {"PC01", "description", "", ""}) +
                Record(2, {"pc02", "description", "", "A1"}) +
                Record(3, {"PC03", "description", "plain comment", "SN-0003"}) + Closing(),
            again.out);
  EXPECT_EQ(Values{"Staff"}, Descriptions(kAlice));
}

TEST_F(CorvenelTest, EmptyAnswerAtThePromptEndsTheRun) {
  for (const char* input : {"\n", "", "\r\n"}) {
    SCOPED_TRACE(testing::Message() << "input " << testing::PrintToString(std::string(input)));
    auto result = Run({}, input);
    EXPECT_EQ(std::string("test\n") + kPrompt + Closing(), result.out);
    EXPECT_EQ(std::vector<std::string>{StartLine()}, listener_.Drain());
    EXPECT_EQ(std::vector<std::string>{}, WdFiles());
  }
}

TEST_F(CorvenelTest, TypedDomainIsUsedAsTypedAndSavedForTheNextRun) {
  StartDirectory();
  const std::string blanks = " \r\n\t\r\n";
  WriteWd("ldapdomain.txt", blanks);
  // The query names its own base, so the typed blanks stay out of the search.
  // Computers are users too, as in Active Directory.
  const std::string query =
      "SELECT cn,description FROM 'LDAP://DC=corp,DC=example' "
      "WHERE objectClass='user' AND NOT objectClass='computer' ORDER BY cn DESC";
  WriteWd("sql.txt", query);
  const Shown kBobNow{"Bob", "", "", ""};

  auto first = Run({}, " DC=corp,DC=example \nignored\n");
  EXPECT_EQ(std::string("test\n") + kPrompt + Opening(" DC=corp,DC=example ", query).substr(5) +
                Record(1, kBobNow) + Record(2, kShownAlice) + Closing(),
            first.out);
  EXPECT_EQ(blanks + " DC=corp,DC=example ", ReadWd("ldapdomain.txt"));

  auto second = Run();
  EXPECT_EQ(Opening(kSuffix, query) + Record(1, {"Bob", "description", "", ""}) +
                Record(2, {"Alice", "description", "", ""}) + Closing(),
            second.out);
  EXPECT_EQ(blanks + " DC=corp,DC=example ", ReadWd("ldapdomain.txt"));
}

TEST_F(CorvenelTest, ArgumentOneChoosesTheObjectClassOfTheBuiltQuery) {
  StartDirectory();
  const struct {
    std::vector<std::string> args;
    const char* object_class;
  } cases[] = {
      {{}, "computer"},        {{"USER"}, "user"},      {{"User"}, "user"},
      {{"users"}, "computer"}, {{" user"}, "computer"}, {{"Computer"}, "computer"},
      {{"user", "x"}, "user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    fs::remove_all(Wd());
    fs::create_directories(Wd());
    WriteWd("ldapdomain.txt", kSuffix);
    auto result = Run(c.args);
    EXPECT_EQ(BuiltQuery(kSuffix, c.object_class), ReadWd("sql.txt"));
    // Computers are users too, as in Active Directory: the user query walks both.
    const bool users = std::string(c.object_class) == "user";
    EXPECT_NE(std::string::npos, result.out.find("cn: PC01\n")) << result.out;
    EXPECT_EQ(users, result.out.find("cn: Alice\n") != std::string::npos) << result.out;
    listener_.Drain();
  }
}

TEST_F(CorvenelTest, QueryFromSqlFileIsUsedAndWrittenBackUnchanged) {
  StartDirectory();
  WriteWd("ldapdomain.txt", kSuffix);
  // Several lines, no ORDER BY: the server's order.
  const std::string query =
      "SELECT cn, description\r\nFROM 'LDAP://DC=corp,DC=example'\r\n"
      "WHERE objectClass = 'user' AND NOT (cn = 'Bob' OR objectClass = 'computer')\r\n";
  WriteWd("sql.txt", query);

  auto result = Run({"computer"});

  EXPECT_EQ(Opening(kSuffix, query) + Record(1, kShownAlice) + Closing(), result.out);
  EXPECT_EQ(query, ReadWd("sql.txt"));
  EXPECT_EQ(Values{"description"}, Descriptions(kAlice));
  EXPECT_EQ(Values{}, Descriptions(kBob));
  EXPECT_EQ(Values{"Old desk PC"}, Descriptions(kPC03));
}

TEST_F(CorvenelTest, ResultWithoutRecordsPrintsNoRecordLines) {
  StartDirectory();
  WriteWd("ldapdomain.txt", kSuffix);
  const std::string query =
      "SELECT cn,description FROM 'LDAP://DC=corp,DC=example' WHERE objectClass='printer'";
  WriteWd("sql.txt", query);
  auto result = Run();
  EXPECT_EQ(Opening(kSuffix, query) + Closing(), result.out);
  EXPECT_EQ(std::vector<std::string>{StartLine()}, listener_.Drain());
}

// A failure ends the run with the handler's line: the trace point, the class
// name and the message; a report file, a notice broadcast, no closing line.
struct FailureCase {
  const char* name;
  std::string query;           // written to sql.txt
  bool server_up;              // otherwise LDAPURI points at a closed port
  std::string expected_lines;  // what follows the opening lines
  int trace;
  const char* class_name;
  std::string message_regex;
};

TEST_F(CorvenelTest, FailuresAreReportedWithTheTracePointInForce) {
  const std::string base = "'LDAP://DC=corp,DC=example' WHERE objectClass='computer' ORDER BY cn";
  const FailureCase cases[] = {
      {"no cn column", "SELECT description,comment FROM " + base, true, "iCount=1\n1250\n", 1250,
       "FieldNotFound", ".*cn.*"},
      {"no description column", "SELECT cn FROM " + base, true,
       "iCount=1\n1250\ncn: PC01\nDescription: \nComment: \nSerialNumber: \nSetting comment...\n"
       "Setting description...\n",
       1310, "FieldNotFound", ".*description.*"},
      {"unknown base", "SELECT cn FROM 'LDAP://OU=Nowhere,DC=corp,DC=example'", true, "", 1150,
       "LdapError", ".*OU=Nowhere,DC=corp,DC=example.*No such object.*"},
      {"unreachable server", "SELECT cn FROM " + base, false, "", 1150, "LdapError",
       ".*ldap://127\\.0\\.0\\.1:1.*"},
      {"empty query", "", true, "", 1150, "QuerySyntaxError", ".*position.*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.reset();
    ldap_uri_ = "ldap://127.0.0.1:1";
    if (c.server_up) StartDirectory();
    fs::remove_all(Wd());
    fs::create_directories(Wd());
    WriteWd("ldapdomain.txt", kSuffix);
    WriteWd("sql.txt", c.query);

    auto result = Run();

    const std::string head = Opening(kSuffix, c.query) + c.expected_lines;
    ASSERT_EQ(head, result.out.substr(0, head.size()));
    const std::string last = result.out.substr(head.size());
    const std::string prefix = std::to_string(c.trace) + " " + c.class_name + " ";
    ASSERT_EQ(prefix, last.substr(0, prefix.size())) << last;
    ASSERT_EQ('\n', last.back());
    const std::string message = last.substr(prefix.size(), last.size() - prefix.size() - 1);
    EXPECT_TRUE(std::regex_match(message, std::regex(c.message_regex))) << message;
    if (server_) {
      EXPECT_EQ(std::string::npos, result.out.find(AdminPassword()));
    }

    EXPECT_EQ(ExpectedReport(c.trace, c.class_name, message),
              BlankClockEntries(ReadWd("e!ADOQuery.XML")));
    EXPECT_EQ((std::vector<std::string>{StartLine(), FailureNotice(1, c.trace)}),
              listener_.Drain());
    EXPECT_EQ(c.query, ReadWd("sql.txt"));
    if (server_) {
      EXPECT_EQ(Values{"Old desk PC"}, Descriptions(kPC03));
    }
  }
}

TEST_F(CorvenelTest, ChangeByAnotherWriterBetweenReadAndPostFailsThePost) {
  StartDirectory();
  WriteWd("ldapdomain.txt", kSuffix);
  const std::string query = BuiltQuery(kSuffix, "computer");
  const std::string before_post =
      Opening(kSuffix, query) + Record(1, kShownPC01) + RecordHead(2, kShownPC02);

  // Hold the program while pc02 is in edit mode, after its values were read.
  e2e::ProgramRun hold;
  hold.hold_after_bytes = static_cast<long>(before_post.size());
  hold.while_held = [this] {
    server_->Modify("dn: " + kPC02 +
                    "\nchangetype: modify\nreplace: description\ndescription: Moved to room 4\n");
  };
  auto result = Run({}, "", hold);

  ASSERT_TRUE(result.was_held);
  const std::string head = before_post + "description: description\n";
  ASSERT_EQ(head, result.out.substr(0, head.size()));
  const std::string last = result.out.substr(head.size());
  EXPECT_EQ("1330 UpdateConflict ", last.substr(0, 20)) << last;
  EXPECT_NE(std::string::npos, last.find("modify \"cn=pc02,ou=Computers,dc=corp,dc=example\""))
      << last;
  EXPECT_EQ(Values{"description"}, Descriptions(kPC01));
  EXPECT_EQ(Values{"Moved to room 4"}, Descriptions(kPC02));
  EXPECT_EQ(Values{"Old desk PC"}, Descriptions(kPC03));
  EXPECT_EQ((std::vector<std::string>{StartLine(), FailureNotice(1, 1330)}), listener_.Drain());
}

TEST_F(CorvenelTest, ClosedConsoleIsReportedAndTheRunStillEndsCleanly) {
  e2e::ProgramRun closed;
  closed.stdout_closed = true;
  auto result = Run({}, "", closed);

  // The first line already fails, before the settings are filled: the report
  // goes under the default name pattern with an empty program name.
  std::vector<std::string> files = WdFiles();
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(E!-\d{17}\.xml)"))) << files[0];
  const std::string report = ReadWd(files[0]);
  EXPECT_NE(std::string::npos, report.find("<Function>main()</Function>\r\n")) << report;
  EXPECT_NE(std::string::npos, report.find("<Trace>0</Trace>\r\n"));
  EXPECT_NE(std::string::npos, report.find("<ClassName>ConsoleError</ClassName>\r\n"));
  auto datagrams = listener_.Drain();
  ASSERT_EQ(1u, datagrams.size());
  EXPECT_EQ(0u, datagrams[0].rfind("<0>:00001 EXCEPTION:Func=main() Trace=0 File=\"E!-", 0))
      << datagrams[0];
}

}  // namespace
