// The failure capture that every library routine puts around its body.
//
// A routine keeps a fresh tExceptionRec and a trace point, runs its body
// through CaptureFailure and, when that returns false, reports the filled
// record (or, for the few routines that differ, answers with a code).
// Only members of the failure family (std::exception and everything derived
// from it) are caught; anything else thrown leaves the body unchanged, and
// the routine's RAII clean-up (DepthScope, owned resources) still runs.
#ifndef PALOMID_FAILURE_CAPTURE_H_
#define PALOMID_FAILURE_CAPTURE_H_

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "palomid/records.h"

namespace palomid {

// Fills |rec| from |e| in the capture's order: Function, ClassName,
// Message, Trace, FileName (GlobalSettings.ExceptionFile), Beep (true).
// SQL, CallingFunction, Notes and Count keep their values.
void FillFailureRecord(tExceptionRec& rec, const char* function, const std::exception& e,
                       int32_t trace);

// Hands |rec| to SaveExceptionRecAsXML and drops the file name it returns.
void ReportFailure(const tExceptionRec& rec);

// Runs |body|.  True when it completed.  False when it threw a
// std::exception: then |rec| has been filled with |function| and the value
// |trace| held at that moment.  The record is filled after the exception
// object is gone, and nothing is reported here, so a report made by the
// caller runs outside any handler.
template <typename Body>
bool CaptureFailure(tExceptionRec& rec, const char* function, const int32_t& trace, Body&& body) {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (const std::exception& e) {
    FillFailureRecord(rec, function, e, trace);
  }
  return false;
}

// Raises GlobalSettings.Depth for the lifetime of the scope.
class DepthScope {
 public:
  DepthScope();
  ~DepthScope();
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;
};

}  // namespace palomid

#endif  // PALOMID_FAILURE_CAPTURE_H_
