#include "palomid/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "palomid/exception.h"
#include "tests/palomid/test_fixture.h"

namespace palomid {
namespace {

using namespace std::string_literals;
using Op = FakePlatform::Op;

constexpr LocalTime kEntryTime{2023, 2, 5, 10, 24, 7, 89};
constexpr LocalTime kNameTime{2023, 2, 5, 10, 24, 8, 1};
constexpr char kNameStamp[] = "20230205102408001";

class ReportTest : public FakePlatformTest {
 protected:
  void SetUp() override {
    FakePlatformTest::SetUp();
    UseProgramSettings();
    platform_.set_times({kEntryTime, kNameTime});
    platform_.set_tick_count(4294967295u);
  }

  static tExceptionRec MainRecord() { return palomid::MainRecord("SocketError", "query failed"); }

  static std::string Notice(const std::string& text) {
    return "<0>Corvenel:00001 " + text + " H=\"PC1\" (ID=00001)";
  }
};

TEST_F(ReportTest, WritesFileTonesAndNoticeByteExact) {
  tExceptionRec rec = MainRecord();
  rec.Message = "a<b&c\r\nd\0\xE9\"x\""s;
  rec.Trace = -1150;
  rec.SQL = "SELECT cn FROM 'LDAP://DC=corp'";
  rec.CallingFunction = "caller";
  rec.Notes = "n";
  rec.Count = -3;
  std::string file_name = "stale";

  SaveExceptionRecAsXML(rec, file_name);

  EXPECT_EQ("e!ADOQuery.XML", file_name);
  EXPECT_EQ(
      "<xml>\r\n"
      "<Exception>\r\n"
      "<DateTime>2023-02-05 10:24:07.089</DateTime>\r\n"
      "<MachineUpTime>7w0d17h02m47s</MachineUpTime>\r\n"
      "<SelfName>Corvenel</SelfName>\r\n"
      "<Version>2023.2.5.1024</Version>\r\n"
      "<Function>main()</Function>\r\n"
      "<CallingFunction>caller</CallingFunction>\r\n"
      "<Trace>-1150</Trace>\r\n"
      "<HostName>PC1</HostName>\r\n"
      "<ClassName>SocketError</ClassName>\r\n"
      "<e.Message>a<b&c\r\nd\0\xE9\"x\"</e.Message>\r\n"
      "<SQL>SELECT cn FROM 'LDAP://DC=corp'</SQL>\r\n"
      "<Notes>n</Notes>\r\n"
      "<Count>-3</Count>\r\n"
      "</Exception>\r\n"
      "</xml>\r\n"s,
      ReadBytes("e!ADOQuery.XML"));
  const std::vector<std::pair<int, int>> tones = {{200, 50}, {400, 50}, {800, 50}, {1600, 50}};
  EXPECT_EQ(tones, platform_.tones());
  const std::vector<FakePlatform::Datagram> notices = {
      {Notice("EXCEPTION:Func=main() Trace=-1150 File=\"e!ADOQuery.XML\" SelfNameCorvenel "
              "Version=2023.2.5.1024"),
       514}};
  EXPECT_EQ(notices, platform_.datagrams());
  EXPECT_EQ(1, GlobalSettings.SyslogSeq);
}

TEST_F(ReportTest, FreshRecordGivesEmptyEntriesAndDefaultName) {
  GlobalSettings = tGlobalSettings{};
  platform_.set_time_separator(".");
  platform_.set_tick_count(0);
  std::string file_name;

  SaveExceptionRecAsXML(tExceptionRec{}, file_name);

  EXPECT_EQ("E!-"s + kNameStamp + ".xml", file_name);
  EXPECT_EQ(
      "<xml>\r\n<Exception>\r\n"
      "<DateTime>2023-02-05 10.24.07.089</DateTime>\r\n"
      "<MachineUpTime>0w0d00h00m00s</MachineUpTime>\r\n"
      "<SelfName></SelfName>\r\n<Version></Version>\r\n<Function></Function>\r\n"
      "<CallingFunction></CallingFunction>\r\n<Trace>0</Trace>\r\n<HostName></HostName>\r\n"
      "<ClassName></ClassName>\r\n<e.Message></e.Message>\r\n<SQL></SQL>\r\n<Notes></Notes>\r\n"
      "<Count>0</Count>\r\n</Exception>\r\n</xml>\r\n",
      ReadBytes(file_name));
  EXPECT_TRUE(platform_.tones().empty());  // Beep is false in a fresh record
  ASSERT_EQ(1u, platform_.datagrams().size());
  EXPECT_EQ("<0>:00001 EXCEPTION:Func= Trace=0 File=\"E!-"s + kNameStamp +
                ".xml\" SelfName Version= H=\"\" (ID=00001)",
            platform_.datagrams()[0].payload);
}

TEST_F(ReportTest, FileNamePlaceholders) {
  const std::string stamp = kNameStamp;
  struct {
    const char* self_name;
    const char* pattern;
    std::string expected;
  } cases[] = {
      {"Corvenel", "", "E!Corvenel-" + stamp + ".xml"},
      {"", "", "E!-" + stamp + ".xml"},
      {"Corvenel", "e!ADOQuery.XML", "e!ADOQuery.XML"},
      {"Corvenel", "{selfname}+{selfname}.xml", "Corvenel+{selfname}.xml"},
      {"Corvenel", "{timestamp}{timestamp}.xml", stamp + "{timestamp}.xml"},
      {"Corvenel", "{SelfName}-{TimeStamp}.xml", "{SelfName}-{TimeStamp}.xml"},
      // The second replacement works on the result of the first.
      {"A{timestamp}", "{selfname}_{timestamp}.xml", "A" + stamp + "_{timestamp}.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.self_name) + " / " + c.pattern);
    ClearDir();
    GlobalSettings.SelfName = c.self_name;
    platform_.set_times({kEntryTime, kNameTime});
    tExceptionRec rec = MainRecord();
    rec.FileName = c.pattern;
    std::string file_name;

    SaveExceptionRecAsXML(rec, file_name);

    EXPECT_EQ(c.expected, file_name);
    EXPECT_EQ(std::vector<std::string>{c.expected}, Files());
    EXPECT_NE(std::string::npos,
              platform_.datagrams().back().payload.find(" File=\"" + c.expected + "\" "));
  }
}

TEST_F(ReportTest, FixedNameHoldsLatestReport) {
  tExceptionRec rec = MainRecord();
  std::string file_name;
  SaveExceptionRecAsXML(rec, file_name);
  rec.Message = "second";
  SaveExceptionRecAsXML(rec, file_name);

  EXPECT_EQ(std::vector<std::string>{"e!ADOQuery.XML"}, Files());
  EXPECT_EQ("second", ReportEntry(ReadBytes("e!ADOQuery.XML"), "e.Message"));
  ASSERT_EQ(2u, platform_.datagrams().size());
  EXPECT_EQ(
      "<0>Corvenel:00002 EXCEPTION:Func=main() Trace=1150 File=\"e!ADOQuery.XML\" "
      "SelfNameCorvenel Version=2023.2.5.1024 H=\"PC1\" (ID=00001)",
      platform_.datagrams()[1].payload);
}

TEST_F(ReportTest, UnwritableNameStillBeepsNotifiesAndHandsNameBack) {
  std::filesystem::create_directory("taken");
  tExceptionRec rec = MainRecord();
  rec.FileName = "taken";
  std::string file_name;

  SaveExceptionRecAsXML(rec, file_name);

  EXPECT_EQ("taken", file_name);
  EXPECT_TRUE(std::filesystem::is_directory("taken"));
  EXPECT_EQ(std::vector<std::string>{"taken"}, Files());
  EXPECT_EQ(4u, platform_.tones().size());
  ASSERT_EQ(1u, platform_.datagrams().size());
  EXPECT_NE(std::string::npos, platform_.datagrams()[0].payload.find("File=\"taken\""));
}

// A failure of the report's own steps becomes a nested report about the
// report's working copy; the steps after the failing one are skipped.
TEST_F(ReportTest, OwnFailureBecomesNestedReport) {
  struct {
    Op op;
    int nth;
    int32_t trace;
    bool original_written;
    std::string handed_back;
  } cases[] = {
      {Op::kNow, 1, 300, false, ""},
      {Op::kTimeSeparator, 1, 300, false, ""},
      {Op::kNow, 2, 380, false, "Corvenel-{timestamp}.xml"},
      {Op::kTone, 1, 460, true, "Corvenel-"s + kNameStamp + ".xml"},
      {Op::kTone, 4, 460, true, "Corvenel-"s + kNameStamp + ".xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace);
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    platform.set_times({kEntryTime, kNameTime});
    platform.Fail(c.op, c.nth, "device gone\r\n<&>");
    GlobalSettings.SyslogSeq = 0;
    std::filesystem::remove("e!ADOQuery.XML");
    tExceptionRec rec = MainRecord();
    rec.FileName = "{selfname}-{timestamp}.xml";
    rec.SQL = "q";
    rec.CallingFunction = "c";
    rec.Notes = "n";
    rec.Count = 7;
    const tExceptionRec original = rec;
    std::string file_name = "stale";

    SaveExceptionRecAsXML(rec, file_name);

    EXPECT_EQ(c.handed_back, file_name);
    EXPECT_EQ(original.Message, rec.Message);  // the caller's record is untouched
    EXPECT_EQ(c.original_written, std::filesystem::exists(c.handed_back));
    const std::string nested = ReadBytes("e!ADOQuery.XML");
    EXPECT_EQ("palomid.SaveExceptionRecAsXML", ReportEntry(nested, "Function"));
    EXPECT_EQ(std::to_string(c.trace), ReportEntry(nested, "Trace"));
    EXPECT_EQ("Error", ReportEntry(nested, "ClassName"));
    EXPECT_EQ("device gone\r\n<&>", ReportEntry(nested, "e.Message"));
    EXPECT_EQ("q", ReportEntry(nested, "SQL"));
    EXPECT_EQ("c", ReportEntry(nested, "CallingFunction"));
    EXPECT_EQ("n", ReportEntry(nested, "Notes"));
    EXPECT_EQ("7", ReportEntry(nested, "Count"));
    // Only the nested report got as far as its notice.
    const std::vector<FakePlatform::Datagram> notices = {
        {Notice("EXCEPTION:Func=palomid.SaveExceptionRecAsXML Trace=" + std::to_string(c.trace) +
                " File=\"e!ADOQuery.XML\" SelfNameCorvenel Version=2023.2.5.1024"),
         514}};
    EXPECT_EQ(notices, platform.datagrams());
    if (::testing::Test::HasFailure()) break;
  }
}

TEST_F(ReportTest, FailedUpTimeLeavesEntryEmpty) {
  platform_.Fail(Op::kTickCount, 1, "no clock");
  tExceptionRec rec = MainRecord();
  rec.FileName = "main.xml";
  std::string file_name;

  SaveExceptionRecAsXML(rec, file_name);

  EXPECT_EQ("", ReportEntry(ReadBytes("main.xml"), "MachineUpTime"));
  const std::string nested = ReadBytes("e!ADOQuery.XML");
  EXPECT_EQ("palomid.MachineUpTime", ReportEntry(nested, "Function"));
  EXPECT_EQ("0", ReportEntry(nested, "Trace"));
  EXPECT_EQ("no clock", ReportEntry(nested, "e.Message"));
  EXPECT_EQ("7w0d17h02m47s", ReportEntry(nested, "MachineUpTime"));
  EXPECT_EQ(8u, platform_.tones().size());
  EXPECT_EQ(2u, platform_.datagrams().size());
}

TEST_F(ReportTest, MachineUpTime) {
  struct {
    uint32_t ticks;
    const char* text;
    double days;
  } cases[] = {
      {0, "0w0d00h00m00s", 0},
      {999, "0w0d00h00m00s", 0},
      {3 * 86400000u + 4 * 3600000u + 5 * 60000u + 6 * 1000u + 999u, "0w3d04h05m06s",
       3 + 4 / 24.0 + 5 / 1440.0 + 6 / 86400.0},
      {604800000u, "1w0d00h00m00s", 7},
      {4294967295u, "7w0d17h02m47s", 49 + 17 / 24.0 + 2 / 1440.0 + 47 / 86400.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ticks);
    platform_.set_tick_count(c.ticks);
    tMachineUpTime up;
    MachineUpTime(up);
    EXPECT_EQ(c.text, up.Text);
    EXPECT_EQ(static_cast<int64_t>(c.ticks), up.Milliseconds);
    EXPECT_DOUBLE_EQ(c.days, up.Days);
  }
  EXPECT_NEAR(
      49.7102662,
      [] {
        tMachineUpTime up;
        MachineUpTime(up);
        return up.Days;
      }(),
      1e-7);
}

TEST_F(ReportTest, MachineUpTimeFailureKeepsOldValuesAndReports) {
  platform_.Fail(Op::kTickCount, 1, "no clock");
  tMachineUpTime up;
  up.Text = "old";
  up.Milliseconds = 5;

  MachineUpTime(up);

  EXPECT_EQ("old", up.Text);
  EXPECT_EQ(5, up.Milliseconds);
  const std::string report = ReadBytes("e!ADOQuery.XML");
  EXPECT_EQ("palomid.MachineUpTime", ReportEntry(report, "Function"));
  EXPECT_EQ("Error", ReportEntry(report, "ClassName"));
  EXPECT_EQ("0", ReportEntry(report, "Trace"));
}

TEST_F(ReportTest, BinToFileCodesAndAppend) {
  const std::string bytes = "a\0b\r\nc\xE9\xFF"s;
  struct {
    const char* before;  // nullptr: no file
    std::string data;
    bool append;
    int32_t code;
    const char* after;  // nullptr: no file
  } cases[] = {
      {nullptr, "", false, -1, nullptr}, {"keep", "", false, -1, "keep"},
      {"keep", "", true, -1, "keep"},    {nullptr, "new", false, 0, "new"},
      {nullptr, "new", true, 0, "new"},  {"old content", "x", false, 0, "x"},
      {"a", "b", true, 0, "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data + (c.append ? " appended" : " written"));
    std::filesystem::remove("f.txt");
    if (c.before) WriteBytes("f.txt", c.before);
    EXPECT_EQ(c.code, BinToFile(c.data, "f.txt", c.append, ""));
    EXPECT_EQ(c.after != nullptr, std::filesystem::exists("f.txt"));
    if (c.after) {
      EXPECT_EQ(c.after, ReadBytes("f.txt"));
    }
  }
  EXPECT_EQ(0, BinToFile(bytes, "bytes", false, "caller"));
  EXPECT_EQ(0, BinToFile(bytes, "bytes", true, ""));
  EXPECT_EQ(bytes + bytes, ReadBytes("bytes"));
  ExpectNoReport();
}

TEST_F(ReportTest, BinToFileFailuresAnswerMinusFiveWithoutReport) {
  std::filesystem::create_directory("folder");
  const int descriptors = OpenDescriptorCount();
  EXPECT_EQ(-5, BinToFile("x", "folder", false, ""));
  EXPECT_EQ(-5, BinToFile("x", "folder", true, ""));
  EXPECT_EQ(-5, BinToFile("x", "missing/f.txt", false, ""));
  EXPECT_EQ(-5, BinToFile("x", "/dev/full", false, ""));  // the disk is full

  struct {
    Op op;
    bool append;
  } faults[] = {
      {Op::kFileExists, true}, {Op::kAppendTextFile, true}, {Op::kCreateTextFile, false},
      {Op::kTextWrite, false}, {Op::kTextWrite, true},      {Op::kTextFlush, false},
      {Op::kTextClose, false}, {Op::kTextClose, true},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(static_cast<int>(f.op));
    WriteBytes("f.txt", "old");
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    platform.Fail(f.op, 0, "disk on fire");
    EXPECT_EQ(-5, BinToFile("new", "f.txt", f.append, ""));
    EXPECT_TRUE(platform.tones().empty());
    EXPECT_TRUE(platform.datagrams().empty());
  }
  EXPECT_EQ(descriptors, OpenDescriptorCount());
  ExpectNoReport();
}

}  // namespace
}  // namespace palomid
