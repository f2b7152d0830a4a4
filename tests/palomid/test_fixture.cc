#include "tests/palomid/test_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace palomid {

void TempDirTest::SetUp() {
  GlobalSettings = tGlobalSettings{};
  old_cwd_ = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "palomid_test.XXXXXX").string();
  ASSERT_NE(nullptr, mkdtemp(pattern.data()));
  dir_ = std::filesystem::canonical(pattern).string();
  std::filesystem::current_path(dir_);
}

void TempDirTest::TearDown() {
  EXPECT_EQ(0, GlobalSettings.Depth);
  std::filesystem::current_path(old_cwd_);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
  GlobalSettings = tGlobalSettings{};
}

void TempDirTest::ClearDir() const {
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    std::filesystem::remove_all(entry.path());
  }
}

std::vector<std::string> TempDirTest::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void TempDirTest::UseProgramSettings() {
  GlobalSettings.SelfName = "Corvenel";
  GlobalSettings.ExceptionFile = "e!ADOQuery.XML";
  GlobalSettings.HostName = "PC1";
  GlobalSettings.Log.Name = "ADOQuery";
  GlobalSettings.Version = "2023.2.5.1024";
}

void FakePlatformTest::ExpectNoReport() {
  EXPECT_FALSE(std::filesystem::exists(
      GlobalSettings.ExceptionFile.empty() ? "no-exception-file" : GlobalSettings.ExceptionFile));
  EXPECT_TRUE(platform_.tones().empty());
  EXPECT_TRUE(platform_.datagrams().empty());
}

tExceptionRec MainRecord(const std::string& class_name, const std::string& message) {
  tExceptionRec rec;
  rec.Function = "main()";
  rec.ClassName = class_name;
  rec.Message = message;
  rec.Trace = 1150;
  rec.FileName = "e!ADOQuery.XML";
  rec.Beep = true;
  return rec;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteBytes(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string ReportEntry(const std::string& xml, const std::string& tag) {
  const std::string open = "<" + tag + ">";
  const std::string close = "</" + tag + ">";
  const auto begin = xml.find(open);
  if (begin == std::string::npos) return "(missing)";
  const auto end = xml.find(close, begin);
  if (end == std::string::npos) return "(missing)";
  return xml.substr(begin + open.size(), end - begin - open.size());
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

}  // namespace palomid
