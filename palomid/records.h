// The library's settings record and the plain records its routines exchange.
//
// Records are plain values that own their texts.  Texts are byte strings:
// NUL bytes and bytes above 127 pass unchanged.
#ifndef PALOMID_RECORDS_H_
#define PALOMID_RECORDS_H_

#include <cstdint>
#include <string>

namespace palomid {

struct tLog {
  std::string Name;  // the log named at the head of the program's start line
};

struct tGlobalSettings {
  std::string SelfName;       // the program's own name: syslog tag, report entry
  std::string Version;        // the program's version
  std::string HostName;       // the computer name, stored by GetHostName
  std::string ExceptionFile;  // report file name or pattern for every failure capture
  tLog Log;
  int32_t Depth = 0;      // running SaveExceptionRecAsXML/PostSyslogMsg/PostUDPMessage calls
  int16_t SyslogSeq = 0;  // sequence number of the latest syslog line, 0..32767
};

// The one settings record of the process.  Read and written field by field.
extern tGlobalSettings GlobalSettings;

// A failure record, filled by a failure capture and handed to
// SaveExceptionRecAsXML.
struct tExceptionRec {
  std::string Function;   // "palomid.<Routine>" or "main()"
  std::string ClassName;  // ClassNameOf the caught exception
  std::string Message;
  int32_t Trace = 0;
  std::string SQL;
  std::string CallingFunction;
  std::string Notes;
  std::string FileName;  // report file name or pattern; empty selects the default pattern
  bool Beep = false;
  int32_t Count = 0;
};

// One syslog message.  ID / 10000 (truncated) is the line's priority.
struct tSyslogRec {
  int32_t ID = 0;
  std::string Text;
};

// The result of MachineUpTime.
struct tMachineUpTime {
  std::string Text;          // e.g. "0w3d04h05m06s"
  int64_t Milliseconds = 0;  // the 32-bit tick count the text was made from
  double Days = 0;
};

}  // namespace palomid

#endif  // PALOMID_RECORDS_H_
