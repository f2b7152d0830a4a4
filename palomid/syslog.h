// Syslog lines and the UDP broadcast.
#ifndef PALOMID_SYSLOG_H_
#define PALOMID_SYSLOG_H_

#include <cstdint>
#include <string>

#include "palomid/records.h"

namespace palomid {

// Advances GlobalSettings.SyslogSeq (32767 is followed by 0) and broadcasts
// "<prio>SelfName:SEQ Text H=\"HostName\" (ID=IDENT)" to UDP port 514,
// where prio is rec.ID / 10000 truncated toward zero, and SEQ and IDENT are
// printed with at least five digits ("%.5d").  Nothing is escaped.  Failures
// are reported, never thrown.  Raises GlobalSettings.Depth while it runs.
void PostSyslogMsg(tSyslogRec rec);

// Sends |msg| as one datagram to 255.255.255.255:|port| from a new client
// that is closed and freed before the call returns.  Returns
//   0  when handed to the socket layer, or when |port| <= 0 (nothing sent);
//  -1  when the send failed: unreachable network, too long for one
//      datagram, a port above 65535.  Never reported;
//  -2  when creating the client or setting it inactive failed.  Reported
//      unless the failure's message contains "10051".
// Only the failure family is caught; anything else thrown passes on after
// the client is freed.  Raises GlobalSettings.Depth while it runs.
int32_t PostUDPMessage(const std::string& msg, int32_t port);

}  // namespace palomid

#endif  // PALOMID_SYSLOG_H_
