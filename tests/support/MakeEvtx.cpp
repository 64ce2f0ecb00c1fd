// make_evtx: writes a Windows event log file of made-up events with the
// test writer, for the Python tests and the benchmarks.
//
//   make_evtx OUT COUNT [security|sysmon]
//
// security: logons (4624, and 4625 for every third), users admin,
//           adm_backup, bob and Administrator in turn, a minute apart.
// sysmon:   process creations (EventID 1) with Sysmon's 20-odd fields,
//           a second apart, every seventh a powershell.exe.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "EvtxWriter.h"

namespace {

evtxtest::Event Security(uint64_t i) {
  static const char* users[] = {"admin", "adm_backup", "bob", "Administrator"};
  evtxtest::Event e;
  e.record_id = i;
  e.event_id = i % 3 == 0 ? 4625 : 4624;
  e.filetime = 133800000000000000ULL + i * 600000000ULL;
  e.user_sid = "S-1-5-18";
  e.data = {{"SubjectUserSid", "S-1-5-18"},
            {"SubjectUserName", "WS01$"},
            {"TargetUserName", users[i % 4]},
            {"TargetDomainName", "CORP"},
            {"LogonType", i % 2 == 0 ? "3" : "10"},
            {"IpAddress", "10.0.0." + std::to_string(i % 250)},
            {"IpPort", std::to_string(49152 + i % 16000)}};
  return e;
}

evtxtest::Event Sysmon(uint64_t i) {
  evtxtest::Event e;
  e.record_id = i;
  e.event_id = 1;
  e.version = 5;
  e.level = 4;
  e.task = 1;
  e.keywords = 0x8000000000000000ULL;
  e.filetime = 133800000000000000ULL + i * 10000000ULL;
  e.provider = "Microsoft-Windows-Sysmon";
  e.provider_guid = "{5770385F-C22A-43E0-BF4C-06F5698FFBD9}";
  e.channel = "Microsoft-Windows-Sysmon/Operational";
  e.computer = "MSEDGEWIN10";
  e.user_sid = "S-1-5-18";
  const bool ps = i % 7 == 0;
  const std::string image = ps ? "C:\\Windows\\System32\\WindowsPowerShell\\"
                                 "v1.0\\powershell.exe"
                               : "C:\\Windows\\System32\\svchost.exe";
  const std::string pid = std::to_string(1000 + i % 60000);
  e.data = {{"RuleName", ""},
            {"UtcTime", "2024-12-30 02:40:00.000"},
            {"ProcessGuid", "{747F3D96-D87C-5D31-0000-00101D5E3100}"},
            {"ProcessId", pid},
            {"Image", image},
            {"FileVersion", "10.0.17763.1 (WinBuild.160101.0800)"},
            {"Description", ps ? "Windows PowerShell" : "Host Process"},
            {"Product", "Microsoft\xC2\xAE Windows\xC2\xAE Operating System"},
            {"Company", "Microsoft Corporation"},
            {"CommandLine",
             ps ? "powershell.exe -nop -w hidden -enc " + std::to_string(i)
                : "C:\\Windows\\system32\\svchost.exe -k netsvcs"},
            {"CurrentDirectory", "C:\\Windows\\system32\\"},
            {"User", "NT AUTHORITY\\SYSTEM"},
            {"LogonGuid", "{747F3D96-D4B4-5D31-0000-0020E7030000}"},
            {"LogonId", "0x3e7"},
            {"TerminalSessionId", "0"},
            {"IntegrityLevel", "System"},
            {"Hashes",
             "SHA1=429DF8371B437209D79DC97978C33157D1A71C4B,MD5="
             "8A93ACAC33151793F8D52000071C0B06"},
            {"ParentProcessGuid", "{747F3D96-D87C-5D31-0000-0010CA5B3100}"},
            {"ParentProcessId", "956"},
            {"ParentImage", "C:\\Windows\\System32\\services.exe"},
            {"ParentCommandLine", "C:\\Windows\\system32\\services.exe"}};
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: make_evtx OUT COUNT [security|sysmon]\n");
    return 2;
  }
  const uint64_t count = std::strtoull(argv[2], nullptr, 10);
  const bool sysmon = argc == 4 && std::strcmp(argv[3], "sysmon") == 0;
  if (argc == 4 && !sysmon && std::strcmp(argv[3], "security") != 0) {
    std::fprintf(stderr, "make_evtx: unknown kind '%s'\n", argv[3]);
    return 2;
  }
  evtxtest::Writer writer;
  for (uint64_t i = 1; i <= count; ++i)
    writer.Add(sysmon ? Sysmon(i) : Security(i));
  const std::string bytes = writer.Bytes();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 2;
  }
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 2;
  }
  return 0;
}
