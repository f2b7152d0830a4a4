#include "palomid/helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/palomid/test_fixture.h"

namespace palomid {
namespace {

using namespace std::string_literals;
using Op = FakePlatform::Op;

class HelpersTest : public FakePlatformTest {
 protected:
  void SetUp() override {
    FakePlatformTest::SetUp();
    UseProgramSettings();
  }

  // The report FileToBin must have written for a failure with |message|.
  void ExpectFileToBinReport(const std::string& class_name, const std::string& message) {
    const std::string report = ReadBytes("e!ADOQuery.XML");
    EXPECT_EQ("palomid.FileToBin()", ReportEntry(report, "Function"));
    EXPECT_EQ("3000", ReportEntry(report, "Trace"));
    EXPECT_EQ(class_name, ReportEntry(report, "ClassName"));
    EXPECT_EQ(message, ReportEntry(report, "e.Message"));
    EXPECT_EQ(4u, platform_.tones().size());
    EXPECT_EQ(1u, platform_.datagrams().size());
  }
};

// Holds an exclusive flock on a file from another process until destroyed.
class LockingChild {
 public:
  explicit LockingChild(const std::string& path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDONLY);
      const char ok = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &ok, 1);
      char ignored;
      (void)!read(release[0], &ignored, 1);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_fd_ = release[1];
    char ok = 'n';
    locked_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
  }
  ~LockingChild() {
    if (release_fd_ >= 0) close(release_fd_);  // the child's read returns
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
  bool locked_ = false;
};

TEST_F(HelpersTest, FileToBinReadsBytesUnchanged) {
  std::string every_byte;
  for (int i = 0; i < 100000; ++i) every_byte += static_cast<char>(i % 256);
  const std::string cases[] = {
      "", "sql", "a\0b\r\nc\xE9\xFF\r\n"s, "\0"s, every_byte,
  };
  for (const std::string& content : cases) {
    SCOPED_TRACE(content.size());
    WriteBytes("in.bin", content);
    const std::string read = FileToBin("in.bin");
    EXPECT_EQ(content.size(), read.size());
    EXPECT_EQ(content, read);
    EXPECT_EQ(content, FileToBin(dir() + "/in.bin"));
  }
  ExpectNoReport();
}

TEST_F(HelpersTest, FileToBinMissingFileOrFolderIsEmptyWithoutReport) {
  std::filesystem::create_directory("folder");
  for (const char* name : {"missing.txt", "folder", "missing/x.txt", "", "/"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ("", FileToBin(name));
  }
  ExpectNoReport();
}

TEST_F(HelpersTest, FileToBinOnFileLockedByAnotherProcessReports) {
  WriteBytes("locked.txt", "secret");
  const int descriptors = OpenDescriptorCount();
  {
    LockingChild child("locked.txt");
    ASSERT_TRUE(child.locked());
    EXPECT_EQ("", FileToBin("locked.txt"));
  }
  EXPECT_EQ(descriptors, OpenDescriptorCount());
  ExpectFileToBinReport(
      "FileOpenError",
      "Cannot open file \"" + dir() + "/locked.txt\". The file is locked by another process");
  // Released, it reads again; and FileToBin's own lock is gone after it.
  EXPECT_EQ("secret", FileToBin("locked.txt"));
  EXPECT_EQ("secret", FileToBin("locked.txt"));
}

TEST_F(HelpersTest, FileToBinReportsTrace3000WhateverStageFailed) {
  WriteBytes("in.txt", "x");
  for (Op op : {Op::kFileExists, Op::kReadFileExclusive}) {
    SCOPED_TRACE(static_cast<int>(op));
    FakePlatform platform;
    ScopedPlatformForTesting scope(&platform);
    platform.Fail(op, 1, "stage failed");
    EXPECT_EQ("", FileToBin("in.txt"));
    const std::string report = ReadBytes("e!ADOQuery.XML");
    EXPECT_EQ("palomid.FileToBin()", ReportEntry(report, "Function"));
    EXPECT_EQ("3000", ReportEntry(report, "Trace"));
    EXPECT_EQ("stage failed", ReportEntry(report, "e.Message"));
  }
}

TEST_F(HelpersTest, BooleanTStr) {
  struct {
    bool flag;
    std::string true_text;
    std::string false_text;
    std::string result;
  } cases[] = {
      {true, "True", "False", "True"},
      {false, "True", "False", "False"},
      {true, "", "", ""},
      {false, "", "", ""},
      {true, "\0\xE9"s, "x", "\0\xE9"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, BooleanTStr(c.flag, c.true_text, c.false_text)) << c.flag;
  }
  ExpectNoReport();
}

TEST_F(HelpersTest, GetHostNameStoresName) {
  GlobalSettings.HostName = "";
  platform_.set_computer_name("WS-0042");
  EXPECT_EQ("WS-0042", GetHostName());
  EXPECT_EQ("WS-0042", GlobalSettings.HostName);
  ExpectNoReport();
}

TEST_F(HelpersTest, GetHostNameFailureKeepsOldNameAndReports) {
  GlobalSettings.HostName = "OLD";
  platform_.Fail(Op::kComputerName, 1, "no name");

  EXPECT_EQ("", GetHostName());

  EXPECT_EQ("OLD", GlobalSettings.HostName);
  const std::string report = ReadBytes("e!ADOQuery.XML");
  EXPECT_EQ("palomid.GetHostName", ReportEntry(report, "Function"));
  EXPECT_EQ("0", ReportEntry(report, "Trace"));
  EXPECT_EQ("no name", ReportEntry(report, "e.Message"));
}

}  // namespace
}  // namespace palomid
