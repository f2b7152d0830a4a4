// Exception report files, the machine up-time text and the text-file writer.
#ifndef PALOMID_REPORT_H_
#define PALOMID_REPORT_H_

#include <cstdint>
#include <string>

#include "palomid/records.h"

namespace palomid {

// Writes |rec| as a 17-entry XML report file, plays four rising tones when
// rec.Beep is set, and broadcasts a syslog notice (ID 1).  |file_name|
// receives the report file's name on every return (empty when a failure came
// before the name was settled).  Never throws a std::exception; a failure of
// its own becomes a nested report.
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
