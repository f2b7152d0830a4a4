// Fixtures and small helpers shared by the palomid tests.
#ifndef CORVENEL_TESTS_PALOMID_TEST_FIXTURE_H_
#define CORVENEL_TESTS_PALOMID_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "palomid/platform.h"
#include "palomid/records.h"
#include "tests/palomid/fake_platform.h"

namespace palomid {

// Every test starts with fresh GlobalSettings, inside a new empty working
// folder that is removed afterwards.  Each test must leave Depth where it
// found it (0).
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The working folder, as an absolute path.
  const std::string& dir() const { return dir_; }

  // Removes everything in the working folder.
  void ClearDir() const;

  // The names in the working folder, sorted.
  std::vector<std::string> Files() const;

  // Fills the settings the way the program does.
  static void UseProgramSettings();

 private:
  std::string old_cwd_;
  std::string dir_;
};

// TempDirTest with a FakePlatform installed (clock, tones and UDP faked;
// files real).
class FakePlatformTest : public TempDirTest {
 protected:
  FakePlatformTest() : scope_(&platform_) {}

  // Nothing at all was reported: no report file under the program's
  // settings, no tone, no datagram.
  void ExpectNoReport();

  FakePlatform platform_;

 private:
  ScopedPlatformForTesting scope_;
};

// A record as the program's top-level handler fills it: main(), trace 1150,
// report file e!ADOQuery.XML, tones on.
tExceptionRec MainRecord(const std::string& class_name, const std::string& message);

// The whole content of |path|; empty when it cannot be read.
std::string ReadBytes(const std::string& path);
// Writes |data| to |path|, replacing it.
void WriteBytes(const std::string& path, const std::string& data);
// The text between <tag> and </tag> in |xml|; "(missing)" when absent.
std::string ReportEntry(const std::string& xml, const std::string& tag);
// The number of descriptors this process has open.
int OpenDescriptorCount();

}  // namespace palomid

#endif  // CORVENEL_TESTS_PALOMID_TEST_FIXTURE_H_
