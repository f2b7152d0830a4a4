#include "palomid/failure_capture.h"

#include "palomid/exception.h"
#include "palomid/report.h"

namespace palomid {

void FillFailureRecord(tExceptionRec& rec, const char* function, const std::exception& e,
                       int32_t trace) {
  rec.Function = function;
  rec.ClassName = ClassNameOf(e);
  rec.Message = e.what();
  rec.Trace = trace;
  rec.FileName = GlobalSettings.ExceptionFile;
  rec.Beep = true;
}

void ReportFailure(const tExceptionRec& rec) {
  std::string file_name;
  SaveExceptionRecAsXML(rec, file_name);
}

DepthScope::DepthScope() { ++GlobalSettings.Depth; }

DepthScope::~DepthScope() { --GlobalSettings.Depth; }

}  // namespace palomid
