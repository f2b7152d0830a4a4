// The failure capture as every routine shares it: which failures it
// catches, what passes through, Depth, and the bound on nested reports.
#include "palomid/failure_capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "palomid/exception.h"
#include "palomid/helpers.h"
#include "palomid/report.h"
#include "palomid/syslog.h"
#include "tests/palomid/test_fixture.h"

namespace palomid {
namespace {

using Op = FakePlatform::Op;

class FailureCaptureTest : public FakePlatformTest {
 protected:
  void SetUp() override {
    FakePlatformTest::SetUp();
    UseProgramSettings();
  }
};

TEST(ClassNameTest, ReadableStableNames) {
  EXPECT_EQ("Error", ClassNameOf(Error("m")));
  EXPECT_EQ("SystemError", ClassNameOf(SystemError("m", 1)));
  EXPECT_EQ("SocketError", ClassNameOf(SocketError("m", 1)));
  EXPECT_EQ("FileOpenError", ClassNameOf(FileOpenError("m", 1)));
  EXPECT_EQ("FileCreateError", ClassNameOf(FileCreateError("m", 1)));
  EXPECT_EQ("FileReadError", ClassNameOf(FileReadError("m", 1)));
  EXPECT_EQ("FileWriteError", ClassNameOf(FileWriteError("m", 1)));
  EXPECT_EQ("std::runtime_error", ClassNameOf(std::runtime_error("m")));
  EXPECT_EQ("std::bad_alloc", ClassNameOf(std::bad_alloc()));
}

TEST_F(FailureCaptureTest, FillsRecordFromAnyStdException) {
  struct {
    std::function<void()> raise;
    const char* class_name;
    const char* message;
  } cases[] = {
      {[] { throw SocketError("Socket Error # 13\r\nPermission denied", 13); }, "SocketError",
       "Socket Error # 13\r\nPermission denied"},
      {[] { throw std::runtime_error("plain"); }, "std::runtime_error", "plain"},
      {[] { throw std::bad_alloc(); }, "std::bad_alloc", "std::bad_alloc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.class_name);
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    platform.InjectFault(Op::kComputerName, 1, c.raise);

    EXPECT_EQ("", GetHostName());

    const std::string report = ReadBytes("e!ADOQuery.XML");
    EXPECT_EQ(c.class_name, ReportEntry(report, "ClassName"));
    EXPECT_EQ(c.message, ReportEntry(report, "e.Message"));
    EXPECT_EQ("", ReportEntry(report, "SQL"));
    EXPECT_EQ("", ReportEntry(report, "CallingFunction"));
    EXPECT_EQ("", ReportEntry(report, "Notes"));
    EXPECT_EQ("0", ReportEntry(report, "Count"));
    EXPECT_EQ(4u, platform.tones().size());
  }
}

TEST_F(FailureCaptureTest, EmptyExceptionFileFallsBackToDefaultPattern) {
  GlobalSettings.ExceptionFile = "";
  platform_.set_times({LocalTime{2023, 2, 5, 10, 24, 7, 89}});
  platform_.Fail(Op::kComputerName, 1, "no name");
  GetHostName();
  EXPECT_EQ(std::vector<std::string>{"E!Corvenel-20230205102407089.xml"}, Files());
}

// Anything thrown that is not a std::exception leaves every routine
// unchanged, after its clean-up: Depth back, UDP client freed, file closed.
TEST_F(FailureCaptureTest, OtherThrownTypesPassThroughAfterCleanUp) {
  struct Exotic {
    int code;
  };
  WriteBytes("in.txt", "x");
  struct {
    const char* name;
    Op op;
    std::function<void()> call;
  } cases[] = {
      {"PostUDPMessage create", Op::kNewUdpClient, [] { PostUDPMessage("x", 514); }},
      {"PostUDPMessage send", Op::kUdpBroadcast, [] { PostUDPMessage("x", 514); }},
      {"PostUDPMessage close", Op::kUdpSetActive, [] { PostUDPMessage("x", 514); }},
      {"PostSyslogMsg", Op::kUdpBroadcast,
       [] {
         PostSyslogMsg(tSyslogRec{1, "t"});
       }},
      {"SaveExceptionRecAsXML", Op::kTone,
       [] {
         std::string name;
         tExceptionRec rec;
         rec.Beep = true;
         SaveExceptionRecAsXML(rec, name);
       }},
      {"MachineUpTime", Op::kTickCount,
       [] {
         tMachineUpTime up;
         MachineUpTime(up);
       }},
      {"BinToFile", Op::kTextWrite, [] { BinToFile("x", "out.txt", false, ""); }},
      {"FileToBin", Op::kReadFileExclusive, [] { FileToBin("in.txt"); }},
      {"GetHostName", Op::kComputerName, [] { GetHostName(); }},
  };
  const int descriptors = OpenDescriptorCount();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    platform.InjectFault(c.op, 1, [] { throw Exotic{42}; });
    GlobalSettings.Depth = 5;

    try {
      c.call();
      ADD_FAILURE() << "nothing passed through";
    } catch (const Exotic& e) {
      EXPECT_EQ(42, e.code);
    }

    EXPECT_EQ(5, GlobalSettings.Depth);
    EXPECT_EQ(0, platform.live_udp_clients());
    EXPECT_TRUE(platform.tones().empty());
    EXPECT_FALSE(std::filesystem::exists("e!ADOQuery.XML"));
    GlobalSettings.Depth = 0;
  }
  EXPECT_EQ(descriptors, OpenDescriptorCount());

  // The report bound was released too: a report still goes out in full.
  std::string name;
  SaveExceptionRecAsXML(tExceptionRec{}, name);
  EXPECT_EQ(1u, platform_.datagrams().size());
}

TEST_F(FailureCaptureTest, DepthCountsTheNestingAndComesBack) {
  // A report made at the top nests three deep: the report, its notice and
  // the send.  Depth is read when the send happens.
  int32_t depth_at_send = -1;
  platform_.InjectFault(Op::kUdpBroadcast, 0, [&] { depth_at_send = GlobalSettings.Depth; });
  GlobalSettings.Depth = 10;
  std::string name;

  SaveExceptionRecAsXML(tExceptionRec{}, name);

  EXPECT_EQ(13, depth_at_send);
  EXPECT_EQ(10, GlobalSettings.Depth);
  GlobalSettings.Depth = 0;
}

// A failure that recurs on every report ends after a fixed number of
// reports: no endless files, tones or datagrams, no runaway stack.
TEST_F(FailureCaptureTest, NestedReportsAreBounded) {
  struct {
    const char* name;
    std::vector<Op> always_failing;
    std::function<void()> start;
    int reports;
  } cases[] = {
      {"no UDP client, from a report",
       {Op::kNewUdpClient},
       [] {
         std::string name;
         tExceptionRec rec;
         rec.Beep = true;
         rec.FileName = "first.xml";
         SaveExceptionRecAsXML(rec, name);
       },
       2},
      {"no UDP client, from a send", {Op::kNewUdpClient}, [] { PostUDPMessage("x", 514); }, 2},
      {"no UDP client, from a helper",
       {Op::kNewUdpClient, Op::kComputerName},
       [] { GetHostName(); },
       2},
      {"no UDP client and no tick count",
       {Op::kNewUdpClient, Op::kTickCount},
       [] {
         tMachineUpTime up;
         MachineUpTime(up);
       },
       3},
      {"no clock, from a report",
       {Op::kNow},
       [] {
         std::string name;
         SaveExceptionRecAsXML(tExceptionRec{}, name);
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearDir();
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    for (Op op : c.always_failing) platform.Fail(op, 0, "Socket Error # 10013\r\nAccess denied.");

    c.start();

    EXPECT_EQ(0, GlobalSettings.Depth);
    EXPECT_EQ(c.reports, platform.calls(Op::kCreateTextFile));
    EXPECT_EQ(4u * c.reports, platform.tones().size());
  }
}

}  // namespace
}  // namespace palomid
