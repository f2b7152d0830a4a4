#include "palomid/syslog.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "tests/palomid/test_fixture.h"

namespace palomid {
namespace {

using namespace std::string_literals;
using Op = FakePlatform::Op;

class SyslogTest : public FakePlatformTest {
 protected:
  void SetUp() override {
    FakePlatformTest::SetUp();
    UseProgramSettings();
  }
};

TEST_F(SyslogTest, Lines) {
  struct {
    int32_t id;
    std::string text;
    const char* self_name;
    const char* host_name;
    int16_t sequence_before;
    std::string line;
  } cases[] = {
      {1, "abc", "Corvenel", "PC1", 6, "<0>Corvenel:00007 abc H=\"PC1\" (ID=00001)"},
      {9999, "t", "Corvenel", "PC1", 0, "<0>Corvenel:00001 t H=\"PC1\" (ID=09999)"},
      {50000, "t", "Corvenel", "PC1", 0, "<5>Corvenel:00001 t H=\"PC1\" (ID=50000)"},
      {1234567, "t", "Corvenel", "PC1", 0, "<123>Corvenel:00001 t H=\"PC1\" (ID=1234567)"},
      {-5000, "t", "Corvenel", "PC1", 0, "<0>Corvenel:00001 t H=\"PC1\" (ID=-05000)"},
      {-15000, "t", "Corvenel", "PC1", 0, "<-1>Corvenel:00001 t H=\"PC1\" (ID=-15000)"},
      {1, "t", "Corvenel", "PC1", 32766, "<0>Corvenel:32767 t H=\"PC1\" (ID=00001)"},
      {1, "t", "Corvenel", "PC1", 32767, "<0>Corvenel:00000 t H=\"PC1\" (ID=00001)"},
      {1, "", "Corvenel", "PC1", 0, "<0>Corvenel:00001  H=\"PC1\" (ID=00001)"},
      {1, "t", "Corvenel", "", 0, "<0>Corvenel:00001 t H=\"\" (ID=00001)"},
      {1, "t", "", "PC1", 0, "<0>:00001 t H=\"PC1\" (ID=00001)"},
      {1, "a\r\nb \"q\"\0\xE9"s, "Corvenel", "P\"C", 0,
       "<0>Corvenel:00001 a\r\nb \"q\"\0\xE9 H=\"P\"C\" (ID=00001)"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    GlobalSettings.SelfName = c.self_name;
    GlobalSettings.HostName = c.host_name;
    GlobalSettings.SyslogSeq = c.sequence_before;

    PostSyslogMsg(tSyslogRec{c.id, c.text});

    const std::vector<FakePlatform::Datagram> expected = {{c.line, 514}};
    EXPECT_EQ(expected, platform.datagrams());
  }
}

TEST_F(SyslogTest, SequenceStartsAtOneAndWrapsAfter32767) {
  for (int i = 0; i < 32769; ++i) PostSyslogMsg(tSyslogRec{1, ""});
  const auto& sent = platform_.datagrams();
  ASSERT_EQ(32769u, sent.size());
  EXPECT_EQ(0u, sent[0].payload.find("<0>Corvenel:00001 "));
  EXPECT_EQ(0u, sent[32766].payload.find("<0>Corvenel:32767 "));
  EXPECT_EQ(0u, sent[32767].payload.find("<0>Corvenel:00000 "));
  EXPECT_EQ(0u, sent[32768].payload.find("<0>Corvenel:00001 "));
  EXPECT_EQ(1, GlobalSettings.SyslogSeq);
}

TEST_F(SyslogTest, PostUDPMessageSends) {
  struct {
    std::string msg;
    int32_t port;
    bool sent;
  } cases[] = {
      {"<5>ADOQuery v2023.2.5.1024 Started on PC1", 514, true},
      {"", 514, true},
      {"a\0b"s, 9, true},
      {"x", 0, false},
      {"x", -1, false},
      {"x", INT32_MIN, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);

    EXPECT_EQ(0, PostUDPMessage(c.msg, c.port));

    std::vector<FakePlatform::Datagram> expected;
    if (c.sent) expected.push_back({c.msg, c.port});
    EXPECT_EQ(expected, platform.datagrams());
    EXPECT_EQ(1, platform.calls(Op::kNewUdpClient));
    EXPECT_EQ(2, platform.calls(Op::kUdpSetActive));
    EXPECT_EQ(0, platform.live_udp_clients());
    EXPECT_TRUE(platform.tones().empty());
  }
  EXPECT_FALSE(std::filesystem::exists("e!ADOQuery.XML"));
}

TEST_F(SyslogTest, PostUDPMessageFailures) {
  struct Fault {
    Op op;
    int nth;
    const char* message;
  };
  struct {
    const char* name;
    std::vector<Fault> faults;
    int32_t status;
    int32_t reported_trace;  // -1: nothing reported
  } cases[] = {
      {"creation",
       {{Op::kNewUdpClient, 1, "Socket Error # 10048\r\nAddress already in use."}},
       -2,
       200},
      {"creation 10051",
       {{Op::kNewUdpClient, 1, "Socket Error # 10051\r\nNetwork is unreachable."}},
       -2,
       -1},
      {"first inactive",
       {{Op::kUdpSetActive, 1, "Socket Error # 10038\r\nNot a socket."}},
       -2,
       200},
      {"first inactive 10051", {{Op::kUdpSetActive, 1, "x10051x"}}, -2, -1},
      {"send", {{Op::kUdpBroadcast, 1, "Socket Error # 10040\r\nMessage too long."}}, -1, -1},
      {"send 10051",
       {{Op::kUdpBroadcast, 1, "Socket Error # 10051\r\nNetwork is unreachable."}},
       -1,
       -1},
      {"closing", {{Op::kUdpSetActive, 2, "Socket Error # 10038\r\nNot a socket."}}, -2, 700},
      {"send then closing",
       {{Op::kUdpBroadcast, 1, "Socket Error # 10051\r\nNetwork is unreachable."},
        {Op::kUdpSetActive, 2, "Socket Error # 10038\r\nNot a socket."}},
       -2,
       700},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("e!ADOQuery.XML");
    GlobalSettings.SyslogSeq = 0;
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    for (const Fault& f : c.faults) platform.Fail(f.op, f.nth, f.message);

    EXPECT_EQ(c.status, PostUDPMessage("hello", 514));

    EXPECT_EQ(0, platform.live_udp_clients());
    // The faults hit the first client only, so a report's notice goes out.
    std::vector<std::string> payloads;
    for (const auto& d : platform.datagrams()) payloads.push_back(d.payload);
    if (c.reported_trace < 0) {
      EXPECT_FALSE(std::filesystem::exists("e!ADOQuery.XML"));
      EXPECT_TRUE(platform.tones().empty());
      EXPECT_TRUE(payloads.empty() || payloads == std::vector<std::string>{"hello"});
      continue;
    }
    const std::string report = ReadBytes("e!ADOQuery.XML");
    EXPECT_EQ("palomid.PostUDPMessage", ReportEntry(report, "Function"));
    EXPECT_EQ(std::to_string(c.reported_trace), ReportEntry(report, "Trace"));
    EXPECT_EQ("Error", ReportEntry(report, "ClassName"));
    EXPECT_EQ(c.faults.back().message, ReportEntry(report, "e.Message"));
    EXPECT_EQ(4u, platform.tones().size());
    ASSERT_FALSE(payloads.empty());
    EXPECT_EQ("<0>Corvenel:00001 EXCEPTION:Func=palomid.PostUDPMessage Trace=" +
                  std::to_string(c.reported_trace) +
                  " File=\"e!ADOQuery.XML\" SelfNameCorvenel Version=2023.2.5.1024 H=\"PC1\" "
                  "(ID=00001)",
              payloads.back());
  }
}

}  // namespace
}  // namespace palomid
