// The real platform against the real OS: real files in a temporary folder
// and real datagrams, received on UDP port 514 inside the private network
// namespace the test binary runs in.
#include "palomid/posix_platform.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "palomid/exception.h"
#include "palomid/helpers.h"
#include "palomid/report.h"
#include "palomid/syslog.h"
#include "tests/palomid/test_fixture.h"
#include "tests/support/udp_listener.h"

namespace palomid {
namespace {

using namespace std::string_literals;

class PosixPlatformTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    UseProgramSettings();
  }

  PosixPlatform platform_;
};

TEST_F(PosixPlatformTest, PostUDPMessageSendsRealDatagrams) {
  testsupport::UdpListener listener(514);
  const std::string payloads[] = {
      "<5>ADOQuery v2023.2.5.1024 Started on PC1",
      "",
      "a\0b\r\n\xE9\xFF"s,
      std::string(60000, 'x'),
  };
  for (const std::string& payload : payloads) {
    SCOPED_TRACE(payload.size());
    EXPECT_EQ(0, PostUDPMessage(payload, 514));
    EXPECT_EQ(payload, listener.Receive());
  }
  EXPECT_EQ(0, PostUDPMessage("not sent", 0));
  EXPECT_TRUE(listener.Drain().empty());
  EXPECT_TRUE(Files().empty());
}

TEST_F(PosixPlatformTest, SendThatCannotGoOutAnswersMinusOneWithoutReport) {
  // 70000 would wrap to port 4464; it must not reach it.
  testsupport::UdpListener wrapped(70000 - 65536);
  testsupport::UdpListener syslog(514);
  EXPECT_EQ(-1, PostUDPMessage("wrapped", 70000));
  EXPECT_EQ(-1, PostUDPMessage(std::string(70000, 'x'), 514));  // too long for one datagram
  EXPECT_TRUE(wrapped.Drain().empty());
  EXPECT_TRUE(syslog.Drain().empty());
  EXPECT_TRUE(Files().empty());
}

TEST_F(PosixPlatformTest, WholeReportSendsItsNotice) {
  testsupport::UdpListener listener(514);
  GlobalSettings.SyslogSeq = 41;
  const tExceptionRec rec = MainRecord("LdapError", "Can't contact LDAP server");
  std::string file_name;

  SaveExceptionRecAsXML(rec, file_name);

  EXPECT_EQ(
      "<0>Corvenel:00042 EXCEPTION:Func=main() Trace=1150 File=\"e!ADOQuery.XML\" "
      "SelfNameCorvenel Version=2023.2.5.1024 H=\"PC1\" (ID=00001)",
      listener.Receive());
  EXPECT_TRUE(listener.Drain().empty());
  EXPECT_EQ("e!ADOQuery.XML", file_name);
  const std::string report = ReadBytes("e!ADOQuery.XML");
  EXPECT_EQ(0u, report.find("<xml>\r\n<Exception>\r\n<DateTime>"));
  EXPECT_EQ("Can't contact LDAP server", ReportEntry(report, "e.Message"));
  EXPECT_EQ(23u, ReportEntry(report, "DateTime").size());
  EXPECT_EQ(0, GlobalSettings.Depth);
}

// In a network namespace of its own, with no route at all, the broadcast
// cannot go out: the socket layer says so, and PostUDPMessage answers -1
// without a report.
TEST_F(PosixPlatformTest, NoRouteAnswersMinusOneWithoutReport) {
  int channel[2];
  ASSERT_EQ(0, pipe(channel));
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    close(channel[0]);
    std::string result;
    if (unshare(CLONE_NEWNET) != 0) {
      result = "unshare failed";
    } else {
      result = std::to_string(PostUDPMessage("x", 514)) + " " +
               std::to_string(GlobalSettings.Depth) + " ";
      try {
        PosixPlatform().NewUdpClient()->Broadcast("x", 514);
      } catch (const SocketError& e) {
        result += e.what();
      }
    }
    (void)!write(channel[1], result.data(), result.size());
    _exit(0);
  }
  close(channel[1]);
  std::string result;
  char buffer[256];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);

  EXPECT_EQ("-1 0 Socket Error # 101\r\nNetwork is unreachable", result);
  EXPECT_TRUE(Files().empty());
}

TEST_F(PosixPlatformTest, ClientClosedByInactiveAndReopenedBySend) {
  testsupport::UdpListener listener(514);
  std::unique_ptr<UdpClient> client = platform_.NewUdpClient();
  client->SetActive(false);  // no socket yet
  client->Broadcast("one", 514);
  client->SetActive(false);
  client->Broadcast("two", 514);
  client->SetActive(false);
  EXPECT_EQ("one", listener.Receive());
  EXPECT_EQ("two", listener.Receive());
}

TEST_F(PosixPlatformTest, ReadFileExclusiveFailures) {
  try {
    platform_.ReadFileExclusive("missing.txt");
    ADD_FAILURE() << "read a missing file";
  } catch (const FileOpenError& e) {
    EXPECT_EQ("Cannot open file \"" + dir() + "/missing.txt\". No such file or directory",
              std::string(e.what()));
    EXPECT_EQ(ENOENT, e.error_number());
  }
  EXPECT_TRUE(platform_.FileExists("/dev/null"));
  EXPECT_FALSE(platform_.FileExists(dir()));
  EXPECT_FALSE(platform_.FileExists("missing.txt"));
}

TEST_F(PosixPlatformTest, TextFileFailuresNameTheFile) {
  try {
    platform_.CreateTextFile("no/such/folder.txt");
    ADD_FAILURE();
  } catch (const FileCreateError& e) {
    EXPECT_EQ("Cannot create file \"" + dir() + "/no/such/folder.txt\". No such file or directory",
              std::string(e.what()));
  }
  std::unique_ptr<TextFile> full = platform_.CreateTextFile("/dev/full");
  try {
    full->Write("x");
    ADD_FAILURE();
  } catch (const FileWriteError& e) {
    EXPECT_EQ("Cannot write file \"/dev/full\". No space left on device", std::string(e.what()));
  }
}

TEST(FullPathTest, AbsoluteAndNormalised) {
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(cwd + "/b.txt", FullPath("a/../b.txt"));
  EXPECT_EQ(cwd + "/b.txt", FullPath("./b.txt"));
  EXPECT_EQ("/w/sql.txt", FullPath("/w//x/../sql.txt"));
}

TEST(TimeSeparatorTest, FromLocaleTimeFormat) {
  struct {
    const char* format;
    const char* separator;
  } cases[] = {
      {"%H:%M:%S", ":"},    {"%H.%M.%S", "."},  {"%T", ":"},      {"%r", ":"},
      {"%I:%M:%S %p", ":"}, {"%Hh%Mm%Ss", "h"}, {"%OH:%OM", ":"}, {"%k.%M", "."},
      {"%p %l:%M", ":"},    {"%H%M%S", ":"},    {"%H", ":"},      {"", ":"},
      {"%%H-%H-%M", "-"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.separator, TimeSeparatorOfFormat(c.format)) << c.format;
}

TEST(TimeSeparatorTest, UserLocale) {
  const char* saved = getenv("LC_ALL");
  const std::string old = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(":", PosixPlatform().TimeSeparator());
  setenv("LC_ALL", "no_SUCH.locale", 1);
  EXPECT_EQ(":", PosixPlatform().TimeSeparator());
  if (saved) {
    setenv("LC_ALL", old.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST(PosixClockTest, TickCountIsBootTimeInMilliseconds) {
  auto boot_ms = [] {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
  };
  PosixPlatform platform;
  const uint32_t before = boot_ms();
  const uint32_t ticks = platform.TickCount();
  const uint32_t after = boot_ms();
  EXPECT_LE(ticks - before, after - before);  // modular: no wrap assumed
}

TEST(PosixClockTest, NowIsBrokenDownLocalTime) {
  PosixPlatform platform;
  const time_t before = time(nullptr);
  const LocalTime now = platform.Now();
  tm expected{};
  localtime_r(&before, &expected);
  EXPECT_EQ(expected.tm_year + 1900, now.year);
  EXPECT_EQ(expected.tm_mon + 1, now.month);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(PosixHostTest, ComputerNameIsShortHostName) {
  char host[256] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  const std::string full = host;
  const std::string name = PosixPlatform().ComputerName();
  EXPECT_EQ(full.substr(0, full.find('.')), name);
  EXPECT_EQ(std::string::npos, name.find('.'));
}

}  // namespace
}  // namespace palomid
