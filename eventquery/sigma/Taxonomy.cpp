#include "Taxonomy.h"

#include <initializer_list>

#include "SigmaValue.h"
#include "common/Ascii.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {
namespace {

constexpr char kSysmon[] = "Microsoft-Windows-Sysmon/Operational";

struct Category {
  const char* name;
  std::initializer_list<int> ids;
  std::initializer_list<const char*> channels;  // empty: Sysmon's
};

// The Windows categories, as the taxonomy appendix maps them.
const Category kCategories[] = {
    {"process_creation", {1}, {}},
    {"file_change", {2}, {}},
    {"network_connection", {3}, {}},
    {"sysmon_status", {4, 16}, {}},
    {"process_termination", {5}, {}},
    {"driver_load", {6}, {}},
    {"image_load", {7}, {}},
    {"create_remote_thread", {8}, {}},
    {"raw_access_thread", {9}, {}},
    {"process_access", {10}, {}},
    {"file_event", {11}, {}},
    {"registry_event", {12, 13, 14}, {}},
    {"registry_add", {12}, {}},
    {"registry_delete", {12}, {}},
    {"registry_set", {13}, {}},
    {"registry_rename", {14}, {}},
    {"create_stream_hash", {15}, {}},
    {"pipe_created", {17, 18}, {}},
    {"wmi_event", {19, 20, 21}, {}},
    {"dns_query", {22}, {}},
    {"file_delete", {23}, {}},
    {"clipboard_capture", {24}, {}},
    {"process_tampering", {25}, {}},
    {"file_delete_detected", {26}, {}},
    {"file_block_executable", {27}, {}},
    {"file_block_shredding", {28}, {}},
    {"file_executable_detected", {29}, {}},
    {"sysmon_error", {255}, {}},
    {"ps_classic_start", {400}, {"Windows PowerShell"}},
    {"ps_classic_provider_start", {600}, {"Windows PowerShell"}},
    {"ps_classic_script", {800}, {"Windows PowerShell"}},
    {"ps_module",
     {4103},
     {"Microsoft-Windows-PowerShell/Operational",
      "PowerShellCore/Operational"}},
    {"ps_script",
     {4104},
     {"Microsoft-Windows-PowerShell/Operational",
      "PowerShellCore/Operational"}},
};

struct Service {
  const char* name;
  std::initializer_list<const char*> channels;
};

const Service kServices[] = {
    {"application", {"Application"}},
    {"application-experience",
     {"Microsoft-Windows-Application-Experience/Program-Telemetry",
      "Microsoft-Windows-Application-Experience/"
      "Program-Compatibility-Assistant"}},
    {"applocker",
     {"Microsoft-Windows-AppLocker/MSI and Script",
      "Microsoft-Windows-AppLocker/EXE and DLL",
      "Microsoft-Windows-AppLocker/Packaged app-Deployment",
      "Microsoft-Windows-AppLocker/Packaged app-Execution"}},
    {"appmodel-runtime", {"Microsoft-Windows-AppModel-Runtime/Admin"}},
    {"appxdeployment-server",
     {"Microsoft-Windows-AppXDeploymentServer/Operational"}},
    {"appxpackaging-om", {"Microsoft-Windows-AppxPackaging/Operational"}},
    {"bitlocker", {"Microsoft-Windows-BitLocker/BitLocker Management"}},
    {"bits-client", {"Microsoft-Windows-Bits-Client/Operational"}},
    {"capi2", {"Microsoft-Windows-CAPI2/Operational"}},
    {"certificateservicesclient-lifecycle-system",
     {"Microsoft-Windows-CertificateServicesClient-Lifecycle-System/"
      "Operational"}},
    {"codeintegrity-operational",
     {"Microsoft-Windows-CodeIntegrity/Operational"}},
    {"dhcp", {"Microsoft-Windows-DHCP-Server/Operational"}},
    {"diagnosis-scripted",
     {"Microsoft-Windows-Diagnosis-Scripted/Operational"}},
    {"dns-client", {"Microsoft-Windows-DNS Client Events/Operational"}},
    {"dns-server", {"DNS Server"}},
    {"dns-server-analytic", {"Microsoft-Windows-DNS-Server/Analytical"}},
    {"dns-server-audit", {"Microsoft-Windows-DNS-Server/Audit"}},
    {"driver-framework",
     {"Microsoft-Windows-DriverFrameworks-UserMode/Operational"}},
    {"firewall-as",
     {"Microsoft-Windows-Windows Firewall With Advanced Security/Firewall"}},
    {"hyper-v-worker", {"Microsoft-Windows-Hyper-V-Worker"}},
    {"iis-configuration", {"Microsoft-IIS-Configuration/Operational"}},
    {"kernel-event-tracing", {"Microsoft-Windows-Kernel-EventTracing"}},
    {"kernel-shimengine",
     // The appendix writes the second with a "WinEventLog:" prefix, which
     // no event's Channel has.
     {"Microsoft-Windows-Kernel-ShimEngine/Operational",
      "Microsoft-Windows-Kernel-ShimEngine/Diagnostic"}},
    {"ldap", {"Microsoft-Windows-LDAP-Client/Debug"}},
    {"lsa-server", {"Microsoft-Windows-LSA/Operational"}},
    {"msexchange-management", {"MSExchange Management"}},
    {"ntfs", {"Microsoft-Windows-Ntfs/Operational"}},
    {"ntlm", {"Microsoft-Windows-NTLM/Operational"}},
    {"openssh", {"OpenSSH/Operational"}},
    {"powershell", {"Microsoft-Windows-PowerShell/Operational"}},
    {"powershell-classic", {"Windows PowerShell"}},
    {"printservice-admin", {"Microsoft-Windows-PrintService/Admin"}},
    {"printservice-operational",
     {"Microsoft-Windows-PrintService/Operational"}},
    {"security", {"Security"}},
    {"security-mitigations",
     {"Microsoft-Windows-Security-Mitigations/Kernel Mode",
      "Microsoft-Windows-Security-Mitigations/User Mode"}},
    {"sense", {"Microsoft-Windows-SENSE/Operational"}},
    {"servicebus-client",
     {"Microsoft-ServiceBus-Client/Operational",
      "Microsoft-ServiceBus-Client/Admin"}},
    {"shell-core", {"Microsoft-Windows-Shell-Core/Operational"}},
    {"smbclient-security", {"Microsoft-Windows-SmbClient/Security"}},
    {"sysmon", {kSysmon}},
    {"system", {"System"}},
    {"taskscheduler", {"Microsoft-Windows-TaskScheduler/Operational"}},
    {"terminalservices-localsessionmanager",
     {"Microsoft-Windows-TerminalServices-LocalSessionManager/Operational"}},
    {"vhdmp", {"Microsoft-Windows-VHDMP/Operational"}},
    {"windefend", {"Microsoft-Windows-Windows Defender/Operational"}},
    {"wmi", {"Microsoft-Windows-WMI-Activity/Operational"}},
};

}  // namespace

SourceConditions MapLogSource(std::string_view product,
                              std::string_view category,
                              std::string_view service) {
  SourceConditions out;
  if (product == "windows" && category.empty() && service.empty()) return out;
  if (product.empty() && category.empty() && service.empty()) {
    out.unmapped = "the rule names no log source";
    return out;
  }
  if (product != "windows") {
    out.unmapped = "log source " +
                   std::string(product.empty()
                                   ? "without a product"
                                   : "product '" + std::string(product) + "'") +
                   " has no mapping to event log fields";
    return out;
  }
  if (!category.empty()) {
    for (const Category& c : kCategories) {
      if (category != c.name) continue;
      out.event_ids.assign(c.ids.begin(), c.ids.end());
      if (c.channels.size() == 0)
        out.channels.push_back(kSysmon);
      else
        out.channels.assign(c.channels.begin(), c.channels.end());
      break;
    }
    if (out.event_ids.empty())
      out.unmapped = "log source category '" + std::string(category) +
                     "' has no mapping to event log fields";
  }
  if (!service.empty()) {
    std::vector<std::string> channels;
    for (const Service& s : kServices)
      if (service == s.name)
        channels.assign(s.channels.begin(), s.channels.end());
    if (channels.empty()) {
      if (out.unmapped.empty())
        out.unmapped = "log source service '" + std::string(service) +
                       "' has no mapping to event log fields";
    } else if (out.channels.empty()) {
      // An unmapped category: the service's channels alone.
      out.channels = std::move(channels);
      out.partly = true;
    } else {
      // Both name channels: an event must be in one that both allow.
      std::vector<std::string> both;
      for (const std::string& c : out.channels)
        for (const std::string& s : channels)
          if (c == s) both.push_back(c);
      if (both.empty())
        throw Unsupported(
            "the log source's category and service name no common channel");
      out.channels = std::move(both);
    }
  }
  return out;
}

namespace {

bool IsWindowsCategory(std::string_view category) {
  for (const Category& c : kCategories)
    if (category == c.name) return true;
  return false;
}

bool IsWindowsService(std::string_view service) {
  for (const Service& s : kServices)
    if (service == s.name) return true;
  return false;
}

bool HasColumn(const std::vector<std::string>& columns, std::string_view name) {
  for (const std::string& c : columns)
    if (common::EqualsNoCase(c, name)) return true;
  return false;
}

}  // namespace

LogSource SourceOfInput(const LogSource& declared,
                        const std::vector<std::string>& columns) {
  if (!declared.product.empty()) return declared;
  // The most telling fields first: CloudTrail's records have an eventID,
  // which is no Windows EventID.
  if (HasColumn(columns, "eventSource") && HasColumn(columns, "awsRegion"))
    return {"aws", ""};
  if (HasColumn(columns, "__REALTIME_TIMESTAMP") ||
      HasColumn(columns, "_SYSTEMD_UNIT"))
    return {"linux", ""};
  for (const std::string& c : columns)
    if (c == "EventID" || common::EqualsNoCase(c, "Channel") ||
        common::EqualsNoCase(c, "Event ID") ||
        (c.size() > 13 &&
         common::EqualsNoCase(c.substr(0, 13), "Event.System.")))
      return {"windows", ""};
  return {};
}

bool RuleRunsOn(const RuleMeta& meta, const LogSource& source) {
  if (source.product.empty()) return true;
  if (!meta.product.empty()) {
    if (!common::EqualsNoCase(meta.product, source.product)) return false;
    return !common::EqualsNoCase(source.product, "zeek") ||
           meta.service.empty() || source.service.empty() ||
           common::EqualsNoCase(meta.service, source.service);
  }
  if (meta.category.empty() && meta.service.empty()) return true;
  // No product: the category and service tell whose logs the rule reads.
  const bool windows =
      (meta.category.empty() || IsWindowsCategory(meta.category)) &&
      (meta.service.empty() || IsWindowsService(meta.service));
  return windows == common::EqualsNoCase(source.product, "windows");
}

}  // namespace eventquery::sigma
