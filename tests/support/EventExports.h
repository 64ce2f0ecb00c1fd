// Generators of small event files in the shapes that log tools export:
// nested Sysmon-like JSON Lines, a pretty-printed JSON array, a PowerShell
// Export-Csv file, an Event Viewer "Save as CSV" file, TSV, journald JSON
// Lines; and gzip of any text. Record k (0-based) of every shape carries
// the same event, so one expected answer serves every shape.

#ifndef TESTS_EVENTEXPORTS_H_
#define TESTS_EVENTEXPORTS_H_

#include <zlib.h>

#include <stdexcept>
#include <string>

namespace exports {

// Event k: its id (4624 or 4625 alternating, 4688 every fifth), user,
// and the time 2026-12-08 15:04:05 UTC plus k minutes.
inline int Id(int k) { return k % 5 == 4 ? 4688 : k % 2 == 0 ? 4624 : 4625; }
inline std::string User(int k) {
  return k % 3 == 0 ? "admin" + std::to_string(k) : "user" + std::to_string(k);
}
inline long long Epoch(int k) { return 1796742245LL + 60LL * k; }
// "2026-12-08T15:04:05Z" plus k minutes (k < 55).
inline std::string Iso(int k) {
  char b[32];
  std::snprintf(b, sizeof b, "2026-12-08T15:%02d:05Z", 4 + k);
  return b;
}
// "12/8/2026 3:04:05 PM" plus k minutes (k < 55), as Windows writes it.
inline std::string WindowsTime(int k) {
  char b[32];
  std::snprintf(b, sizeof b, "12/8/2026 3:%02d:05 PM", 4 + k);
  return b;
}

// {"Event":{"System":{"EventID":..,"TimeCreated":{"SystemTime":..},
// "Computer":..},"EventData":{"TargetUserName":..}},"Tags":[..],"a.b":k}
inline std::string SysmonObject(int k) {
  return "{\"Event\":{\"System\":{\"EventID\":" + std::to_string(Id(k)) +
         ",\"TimeCreated\":{\"SystemTime\":\"" + Iso(k) +
         "\"},\"Computer\":\"host" + std::to_string(k % 2) +
         "\"},\"EventData\":{\"TargetUserName\":\"" + User(k) +
         "\",\"CommandLine\":\"cmd.exe /c \\\"echo " + std::to_string(k) +
         "\\\"\"}},\"Tags\":[\"" + (k % 2 == 0 ? "logon" : "failure") +
         "\",\"security\"],\"a.b\":" + std::to_string(k) + "}";
}

inline std::string SysmonJsonLines(int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += SysmonObject(k) + "\n";
  return out;
}

// The same objects as one array, pretty-printed with two-space indents.
inline std::string JsonArray(int n) {
  std::string out = "[\n";
  for (int k = 0; k < n; ++k) {
    out += "  {\n    \"EventID\": " + std::to_string(Id(k)) +
           ",\n    \"User\": \"" + User(k) + "\",\n    \"Event\": {\n" +
           "      \"System\": {\"EventID\": " + std::to_string(Id(k)) +
           "}\n    },\n    \"Message\": \"line one\\nline [two], {x}\"\n  }" +
           (k + 1 < n ? ",\n" : "\n");
  }
  return out + "]\n";
}

// Windows PowerShell: a byte-order mark, a #TYPE line, every field quoted,
// CRLF line ends, a Message spanning lines.
inline std::string PowerShellCsv(int n) {
  std::string out =
      "\xEF\xBB\xBF#TYPE System.Diagnostics.Eventing.Reader.EventLogRecord\r\n"
      "\"Message\",\"Id\",\"LevelDisplayName\",\"MachineName\","
      "\"TimeCreated\"\r\n";
  for (int k = 0; k < n; ++k)
    out += "\"An account logged on.\r\n\r\nSubject:\r\n\tAccount Name:\t\t" +
           User(k) + "\r\n\t\"\"quoted\"\", here\",\"" + std::to_string(Id(k)) +
           "\",\"Information\",\"host" + std::to_string(k % 2) + "\",\"" +
           WindowsTime(k) + "\"\r\n";
  return out;
}

// Event Viewer's "Save as CSV": a header without quotes whose names have
// blanks, and a sixth, unnamed cell holding the message.
inline std::string EventViewerCsv(int n) {
  std::string out = "Level,Date and Time,Source,Event ID,Task Category\r\n";
  for (int k = 0; k < n; ++k)
    out += "Information," + WindowsTime(k) +
           ",Microsoft-Windows-Security-Auditing," + std::to_string(Id(k)) +
           ",Logon,\"An account was logged on.\r\n\r\nAccount Name:\t" +
           User(k) + "\"\r\n";
  return out;
}

inline std::string Tsv(int n) {
  std::string out = "EventID\tUser\tTime\tMessage\n";
  for (int k = 0; k < n; ++k)
    out += std::to_string(Id(k)) + "\t" + User(k) + "\t" + Iso(k) +
           "\tline one\\nline\\ttwo \\\\ end\n";
  return out;
}

// journalctl -o json: every value a string, the time in microseconds.
inline std::string JournalJson(int n) {
  std::string out;
  for (int k = 0; k < n; ++k)
    out += "{\"__REALTIME_TIMESTAMP\":\"" + std::to_string(Epoch(k)) +
           "123456\",\"_HOSTNAME\":\"host" + std::to_string(k % 2) +
           "\",\"PRIORITY\":\"" + std::to_string(k % 8) +
           "\",\"_SYSTEMD_UNIT\":\"sshd.service\",\"MESSAGE\":\"Failed "
           "password for " +
           User(k) + "\"}\n";
  return out;
}

// `text` as one gzip member.
inline std::string Gzip(const std::string& text) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace exports

#endif  // TESTS_EVENTEXPORTS_H_
