#include "palomid/helpers.h"

#include "palomid/failure_capture.h"
#include "palomid/platform.h"
#include "palomid/records.h"

namespace palomid {

std::string FileToBin(const std::string& file_name) {
  tExceptionRec failure;
  int32_t trace = 0;
  std::string content;
  const bool completed = CaptureFailure(failure, "palomid.FileToBin()", trace, [&] {
    trace = 100;
    Platform& platform = CurrentPlatform();
    if (!platform.FileExists(file_name)) return;
    content = platform.ReadFileExclusive(file_name);
  });
  if (completed) return content;
  // Every report of this routine carries the same trace point, whatever
  // stage failed.
  failure.Trace = 3000;
  ReportFailure(failure);
  return std::string();
}

std::string BooleanTStr(bool flag, const std::string& true_text, const std::string& false_text) {
  tExceptionRec failure;
  const int32_t trace = 0;
  std::string result;
  const bool completed = CaptureFailure(failure, "palomid.BooleanTStr", trace,
                                        [&] { result = flag ? true_text : false_text; });
  if (completed) return result;
  ReportFailure(failure);
  return "Exception";
}

std::string GetHostName() {
  tExceptionRec failure;
  const int32_t trace = 0;
  std::string name;
  const bool completed = CaptureFailure(failure, "palomid.GetHostName", trace, [&] {
    name = CurrentPlatform().ComputerName();
    GlobalSettings.HostName = name;
  });
  if (completed) return name;
  ReportFailure(failure);
  return std::string();
}

}  // namespace palomid
