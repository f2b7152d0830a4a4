#include "palomid/report.h"

#include <cstdio>
#include <memory>

#include "palomid/failure_capture.h"
#include "palomid/platform.h"
#include "palomid/syslog.h"

namespace palomid {

namespace {

constexpr char kDefaultReportName[] = "E!{selfname}-{timestamp}.xml";
constexpr int kToneFrequenciesHz[] = {200, 400, 800, 1600};
constexpr int kToneMs = 50;

// Reports running right now; guards the nesting bound.
int running_reports = 0;

class RunningReport {
 public:
  RunningReport() { ++running_reports; }
  ~RunningReport() { --running_reports; }
  RunningReport(const RunningReport&) = delete;
  RunningReport& operator=(const RunningReport&) = delete;
  bool allowed() const { return running_reports <= kMaxRunningReports; }
};

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

// "YYYY-MM-DD HH:NN:SS.ZZZ" with the locale's separator for ':'.
std::string ReportDateTime(const LocalTime& t, const std::string& separator) {
  return Digits(t.year, 4) + "-" + Digits(t.month, 2) + "-" + Digits(t.day, 2) + " " +
         Digits(t.hour, 2) + separator + Digits(t.minute, 2) + separator + Digits(t.second, 2) +
         "." + Digits(t.millisecond, 3);
}

// "yyyymmddhhnnsszzz".
std::string FileNameTimestamp(const LocalTime& t) {
  return Digits(t.year, 4) + Digits(t.month, 2) + Digits(t.day, 2) + Digits(t.hour, 2) +
         Digits(t.minute, 2) + Digits(t.second, 2) + Digits(t.millisecond, 3);
}

void ReplaceFirst(std::string& text, const std::string& placeholder, const std::string& value) {
  const std::string::size_type at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}

std::string Entry(const char* tag, const std::string& value) {
  return std::string("<") + tag + ">" + value + "</" + tag + ">\r\n";
}

}  // namespace

void SaveExceptionRecAsXML(tExceptionRec rec, std::string& file_name) {
  DepthScope depth;
  RunningReport running;
  std::string name;
  if (running.allowed()) {
    int32_t trace = 0;
    const bool completed = CaptureFailure(rec, "palomid.SaveExceptionRecAsXML", trace, [&] {
      Platform& platform = CurrentPlatform();
      trace = 100;
      std::string xml = "<xml>\r\n";
      trace = 230;
      xml += "<Exception>\r\n";
      trace = 300;
      xml += Entry("DateTime", ReportDateTime(platform.Now(), platform.TimeSeparator()));
      trace = 305;
      tMachineUpTime up;
      MachineUpTime(up);
      xml += Entry("MachineUpTime", up.Text);
      trace = 310;
      xml += Entry("SelfName", GlobalSettings.SelfName);
      trace = 315;
      xml += Entry("Version", GlobalSettings.Version);
      trace = 320;
      xml += Entry("Function", rec.Function);
      xml += Entry("CallingFunction", rec.CallingFunction);
      trace = 325;
      xml += Entry("Trace", std::to_string(rec.Trace));
      trace = 330;
      xml += Entry("HostName", GlobalSettings.HostName);
      trace = 340;
      xml += Entry("ClassName", rec.ClassName);
      trace = 350;
      xml += Entry("e.Message", rec.Message);
      trace = 360;
      xml += Entry("SQL", rec.SQL);
      trace = 370;
      xml += Entry("Notes", rec.Notes);
      xml += Entry("Count", std::to_string(rec.Count));
      xml += "</Exception>\r\n";
      xml += "</xml>\r\n";

      trace = 380;
      // |name| follows each replacement, so a failure here hands back the
      // name as far as it got.
      name = rec.FileName.empty() ? kDefaultReportName : rec.FileName;
      ReplaceFirst(name, "{selfname}", GlobalSettings.SelfName);
      ReplaceFirst(name, "{timestamp}", FileNameTimestamp(platform.Now()));

      trace = 420;
      BinToFile(xml, name, false, "");

      trace = 460;
      if (rec.Beep) {
        for (int frequency : kToneFrequenciesHz) platform.Tone(frequency, kToneMs);
      }

      trace = 480;
      tSyslogRec notice;
      notice.ID = 1;
      notice.Text = "EXCEPTION:Func=" + rec.Function + " Trace=" + std::to_string(rec.Trace) +
                    " File=\"" + name + "\" SelfName" + GlobalSettings.SelfName +
                    " Version=" + GlobalSettings.Version;
      PostSyslogMsg(notice);
    });
    if (!completed) ReportFailure(rec);
  }
  file_name = name;
}

void MachineUpTime(tMachineUpTime& up) {
  tExceptionRec rec;
  const int32_t trace = 0;
  const bool completed = CaptureFailure(rec, "palomid.MachineUpTime", trace, [&] {
    const uint32_t t = CurrentPlatform().TickCount();
    uint32_t r = t;
    const uint32_t weeks = r / 604800000u;
    r %= 604800000u;
    const uint32_t days = r / 86400000u;
    r %= 86400000u;
    const uint32_t hours = r / 3600000u;
    r %= 3600000u;
    const uint32_t minutes = r / 60000u;
    r %= 60000u;
    const uint32_t seconds = r / 1000u;

    char text[48];
    std::snprintf(text, sizeof text, "%uw%ud%02uh%02um%02us", weeks, days, hours, minutes, seconds);
    up.Text = text;
    up.Milliseconds = t;
    up.Days =
        static_cast<double>(weeks * 7 + days) + hours / 24.0 + minutes / 1440.0 + seconds / 86400.0;
  });
  if (!completed) ReportFailure(rec);
}

int32_t BinToFile(const std::string& data, const std::string& file_name, bool append,
                  const std::string& /*calling_function*/) {
  if (data.empty()) return -1;
  tExceptionRec unreported;
  const int32_t trace = 0;
  const bool completed = CaptureFailure(unreported, "palomid.BinToFile", trace, [&] {
    Platform& platform = CurrentPlatform();
    std::unique_ptr<TextFile> file = append && platform.FileExists(file_name)
                                         ? platform.AppendTextFile(file_name)
                                         : platform.CreateTextFile(file_name);
    file->Write(data);
    file->Flush();
    file->Close();
  });
  return completed ? 0 : -5;
}

}  // namespace palomid
