// Text and host helpers.
#ifndef PALOMID_HELPERS_H_
#define PALOMID_HELPERS_H_

#include <string>

namespace palomid {

// The whole content of |file_name|, byte for byte.  Empty when the file does
// not exist (or is a folder), without a report; empty and a report (Trace
// 3000) when it exists but cannot be opened or read, e.g. because another
// process holds it locked.
std::string FileToBin(const std::string& file_name);

// |true_text| when |flag| is set, else |false_text|.
std::string BooleanTStr(bool flag, const std::string& true_text, const std::string& false_text);

// The computer's short host name, also stored in GlobalSettings.HostName.
// Empty after a reported failure, leaving GlobalSettings.HostName as it was.
std::string GetHostName();

}  // namespace palomid

#endif  // PALOMID_HELPERS_H_
