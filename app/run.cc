#include "app/run.h"

#include <cstdint>
#include <filesystem>

#include "app/pass.h"
#include "palomid/exception.h"
#include "palomid/helpers.h"
#include "palomid/records.h"
#include "palomid/report.h"
#include "palomid/syslog.h"

namespace corvenel {

namespace {

constexpr char kDomainFile[] = "ldapdomain.txt";
constexpr char kQueryFile[] = "sql.txt";
constexpr int32_t kSyslogPort = 514;

// Run state: one run per process.
std::string Domain;
std::string ObjectClass;
std::string QueryText;
int32_t trace_point = 0;
palomid::tExceptionRec failure_record;

// Removes leading and trailing bytes 0 to 32 (blanks, line breaks, controls).
std::string TrimControls(const std::string& text) {
  auto is_control = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && is_control(text[begin])) ++begin;
  while (end > begin && is_control(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string BuiltQueryText(const std::string& domain, const std::string& object_class) {
  return "SELECT AdsPath,cn,comment,company,description,info,lastLogon,location,managedby,mail,"
         "operatingSystem,operatingSystemServicePack,operatingSystemVersion,samAccountName,"
         "serialNumber,userAccountControl,whenChanged,whenCreated From 'LDAP://" +
         domain + "'" + " WHERE objectClass=" + "'" + object_class + "'" + " ORDER BY cn";
}

void FillSettings() {
  palomid::GlobalSettings.SelfName = "Corvenel";
  palomid::GlobalSettings.ExceptionFile = "e!ADOQuery.XML";
  palomid::GetHostName();
  palomid::GlobalSettings.Log.Name = "ADOQuery";
  palomid::GlobalSettings.Version = "2023.2.5.1024";
}

// Returns false when no domain was given: the run then ends at once.
bool SettleDomain(Console& console) {
  Domain = TrimControls(palomid::FileToBin(kDomainFile));
  if (Domain.empty()) {
    console.Write(kDomainPrompt);
    console.Flush();
    Domain = console.ReadLine();
    if (!Domain.empty()) palomid::BinToFile(Domain, kDomainFile, true, "");
  }
  if (Domain.empty()) return false;
  console.WriteLine("Domain: " + Domain);
  return true;
}

void SettleObjectClass(const std::string& argument1) {
  ObjectClass = "computer";
  const std::string wanted = AsciiLower(argument1);
  if (wanted == "computer") {
    ObjectClass = "computer";
  } else if (wanted == "user") {
    ObjectClass = "user";
  }
}

void SettleQueryText(Console& console) {
  std::error_code ignored;
  if (std::filesystem::exists(kQueryFile, ignored)) {
    QueryText = palomid::FileToBin(kQueryFile);
  } else {
    QueryText = BuiltQueryText(Domain, ObjectClass);
  }
  palomid::BinToFile(QueryText, kQueryFile, false, "");
  console.WriteLine(QueryText);
}

void ReportFailure(const std::exception& e, Console& console) {
  failure_record.Function = "main()";
  failure_record.ClassName = palomid::ClassNameOf(e);
  failure_record.Message = e.what();
  failure_record.Trace = trace_point;
  failure_record.FileName = palomid::GlobalSettings.ExceptionFile;
  failure_record.Beep = true;
  std::string report_name;
  palomid::SaveExceptionRecAsXML(failure_record, report_name);
  try {
    console.WriteLine(std::to_string(failure_record.Trace) + " " + failure_record.ClassName + " " +
                      failure_record.Message);
  } catch (const std::exception&) {
    // The console itself is gone; the report above is all that can be told.
  }
}

}  // namespace

int RunDirectory(const std::string& argument1, Directory& directory, Console& console) {
  DirectoryPass pass(directory, console, trace_point);  // releases the objects on every way out
  try {
    console.WriteLine("test");
    pass.CreateObjects();
    FillSettings();
    palomid::PostUDPMessage("<5>" + palomid::GlobalSettings.Log.Name + " v" +
                                palomid::GlobalSettings.Version + " Started on " +
                                palomid::GlobalSettings.HostName,
                            kSyslogPort);
    if (SettleDomain(console)) {
      SettleObjectClass(argument1);
      SettleQueryText(console);
      pass.Run(QueryText);
    }
    console.WriteLine("done - " + palomid::GlobalSettings.Version);
  } catch (const std::exception& e) {
    ReportFailure(e, console);
  } catch (...) {
    // Not ours to handle, but the directory objects are released first: an
    // uncaught exception need not unwind the stack.
    pass.ReleaseObjects();
    throw;
  }
  pass.ReleaseObjects();
  return 0;
}

}  // namespace corvenel
