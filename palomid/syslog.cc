#include "palomid/syslog.h"

#include <cstdio>
#include <memory>

#include "palomid/failure_capture.h"
#include "palomid/platform.h"

namespace palomid {

namespace {

constexpr int32_t kSyslogPort = 514;

// "%.5d": at least five digits, the minus sign in front of them.
std::string FiveDigits(int32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.5d", value);
  return buffer;
}

std::string SyslogLine(const tSyslogRec& rec, int16_t sequence) {
  // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about
  // a chain of operator+ that starts with a literal.
  std::string line = "<";
  line.append(std::to_string(rec.ID / 10000)).append(">").append(GlobalSettings.SelfName);
  line.append(":").append(FiveDigits(sequence)).append(" ").append(rec.Text);
  line.append(" H=\"").append(GlobalSettings.HostName).append("\" (ID=");
  line.append(FiveDigits(rec.ID)).append(")");
  return line;
}

}  // namespace

void PostSyslogMsg(tSyslogRec rec) {
  DepthScope depth;
  tExceptionRec failure;
  int32_t trace = 0;
  const bool completed = CaptureFailure(failure, "palomid.PostSyslogMsg", trace, [&] {
    trace = 100;
    // The number is used up before the line is built, so a line that fails
    // still takes its number.
    GlobalSettings.SyslogSeq =
        GlobalSettings.SyslogSeq == 32767 ? 0 : static_cast<int16_t>(GlobalSettings.SyslogSeq + 1);
    trace = 200;
    PostUDPMessage(SyslogLine(rec, GlobalSettings.SyslogSeq), kSyslogPort);
    trace = 400;
  });
  if (!completed) ReportFailure(failure);
}

int32_t PostUDPMessage(const std::string& msg, int32_t port) {
  DepthScope depth;
  // Declared after |depth| so that the client is freed before Depth drops.
  std::unique_ptr<UdpClient> client;
  tExceptionRec failure;
  int32_t trace = 0;
  int32_t status = 0;
  const bool completed = CaptureFailure(failure, "palomid.PostUDPMessage", trace, [&] {
    trace = 100;
    trace = 200;
    client = CurrentPlatform().NewUdpClient();
    client->SetActive(false);
    trace = 300;
    if (port > 0) {
      trace = 400;
      trace = 410;
      // A failed send is answered by the code alone: whoever listens will
      // miss the datagram, and reporting it would only send another.  Only
      // the failure family is swallowed; anything else passes on.
      try {
        client->Broadcast(msg, port);
      } catch (const std::exception&) {
        status = -1;
      }
    }
    trace = 600;
    trace = 700;
    client->SetActive(false);
    trace = 800;
  });
  if (!completed) {
    status = -2;
    // 10051 is the socket layer's "network unreachable": nowhere to send a
    // report's notice either.
    if (failure.Message.find("10051") == std::string::npos) ReportFailure(failure);
  }
  return status;
}

}  // namespace palomid
