// Syslog lines and the UDP broadcast.
#ifndef PALOMID_SYSLOG_H_
#define PALOMID_SYSLOG_H_

#include <cstdint>
#include <string>

#include "palomid/records.h"

namespace palomid {

// Advances GlobalSettings.SyslogSeq and broadcasts
// "<prio>SelfName:SEQ Text H=\"HostName\" (ID=IDENT)" to UDP port 514.
// Failures are reported, never thrown.
void PostSyslogMsg(tSyslogRec rec);

// Sends |msg| as one datagram to 255.255.255.255:|port|.  Returns 0 when
// handed to the socket layer (or |port| <= 0: nothing sent), -1 when the send
// failed (not reported), -2 when creating or closing the client failed
// (reported unless the message contains "10051").
int32_t PostUDPMessage(const std::string& msg, int32_t port);

}  // namespace palomid

#endif  // PALOMID_SYSLOG_H_
