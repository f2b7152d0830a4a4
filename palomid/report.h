// Exception report files, the machine up-time text and the text-file writer.
#ifndef PALOMID_REPORT_H_
#define PALOMID_REPORT_H_

#include <cstdint>
#include <string>

#include "palomid/records.h"

namespace palomid {

// How many reports may run at once, the outermost included.  A report
// whose own machinery fails (no UDP client, no clock) starts a nested
// report about that failure; if the failure recurs on every report, each
// nested report would start the next.  With 2, the failure of a report is
// still reported once, and a report started while two are already running
// does nothing at all: no file, no tones, no notice, and an empty
// |file_name|.  So a failure that recurs on every report ends after a small,
// fixed number of reports (two when only the notice fails), and the stack
// never grows beyond two reports.
inline constexpr int kMaxRunningReports = 2;

// Writes |rec| as a 17-entry XML report file, plays four rising tones when
// rec.Beep is set, and broadcasts a syslog notice (ID 1).
//
// The file is named by rec.FileName, or "E!{selfname}-{timestamp}.xml" when
// that is empty; the first "{selfname}" becomes GlobalSettings.SelfName, then
// the first "{timestamp}" becomes the local time as yyyymmddhhnnsszzz.  An
// existing file of that name is replaced.  Values are written unescaped.
//
// |file_name| receives the report file's name on every return, as far as
// it had been settled (empty when a failure came before that, or when the
// report was dropped by kMaxRunningReports).  Never throws a
// std::exception; a failure of its own becomes a nested report about its
// working copy of |rec|.  Raises GlobalSettings.Depth while it runs.
void SaveExceptionRecAsXML(tExceptionRec rec, std::string& file_name);

// Fills |up| from the platform's 32-bit millisecond tick count.  A failure is
// reported and leaves |up|.Text either complete or unchanged.
void MachineUpTime(tMachineUpTime& up);

// Writes |data| to |file_name|, replacing it, or appending when |append| is
// set and the file exists.  Returns 0 when written, -1 when |data| is empty
// (the file is not touched), -5 when opening, writing, flushing or closing
// failed.  Reports nothing.
int32_t BinToFile(const std::string& data, const std::string& file_name, bool append,
                  const std::string& calling_function);

}  // namespace palomid

#endif  // PALOMID_REPORT_H_
