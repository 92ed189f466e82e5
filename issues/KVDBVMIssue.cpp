#include "issues/KVDBVMIssue.h"

#include <utility>

#include "discovery/DeviceRegistry.h"
#include "issues/ServiceControl.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
using kvd::platform::PathFileExists;
using kvd::platform::SyncHandle;

namespace {

constexpr int kNotFound = 100013;
constexpr int kNotRunning = 100014;
constexpr int kMultiple = 100015;
constexpr int kNotFoundCode = 1081;
constexpr int kNotRunningCode = 1082;
constexpr int kMultipleCode = 1083;
constexpr int kNotRestarted = 1084;
constexpr int kNotFoundButtons = button::Navigation | button::Uninstall | button::Skip;  // 0x62
constexpr int kFixButtons = button::Fix | button::Navigation;                            // 0x41
constexpr int kFixFailedButtons =
    button::Navigation | button::Uninstall | button::Restart | button::Skip;  // 0x6A
constexpr std::uint32_t kAfterEachEnd = 500;

bool IsMonitorName(std::wstring_view name) {
  return kvd::platform::EqualsNoCase(kvd::platform::Trim(name), CKVDBVMIssue::kMonitorExe);
}

}  // namespace

CKVDBVMIssue::CKVDBVMIssue(kvd::platform::Platform& platform, Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"BVM");
}

void CKVDBVMIssue::ShowNotFound() {
  m_strMessage = GlobalLag.GetString(L"BVM_NOT_FOUND");
  m_nStatus = issue::kStatusWarning;
  m_nButtons = kNotFoundButtons;
}

void CKVDBVMIssue::ShowMultiple() {
  m_strMessage = GlobalLag.GetString(L"BVM_MULTIPLE");
  m_nStatus = issue::kStatusWarning;
  m_nButtons = kFixButtons;
}

int CKVDBVMIssue::Diagnose(const _DeviceDetails&) {
  KVD_SCOPE(L"CKVDBVMIssue::Diagnose");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  if (m_bSimulate) {
    m_bSimulate = false;
    m_bSimulatePass = false;
    switch (m_nSimulatedCase) {
      case kNotFound:
        ShowNotFound();
        break;
      case kNotRunning:
      case kMultiple:
        ShowMultiple();
        break;
      default:
        m_strMessage = GlobalLag.GetString(L"BVM_OK");
        m_nStatus = issue::kStatusPassed;
        break;
    }
    return m_nSimulatedCase;
  }
  KVD_LOG(kind::Info, L"Checks if BVM is running and for Multiple instance of BVM.");
  m_arrProcessIds.clear();
  // The Parlo service never decides this check: it is only set right on the way.
  if (DiagnoseParlo() == 0 && FixParlo() != 1) {
    KVD_LOG(kind::Debug, L"KVD failed to start Parlo Service.");
  }

  const kvd::reg::RegText folder =
      kvd::reg::MachineText(m_platform.registry, CDeviceRegistry::kSuiteKey, L"InstallFolder");
  if (!folder.IsRead()) {
    if (folder.status == kvd::reg::RegStatus::Absent) {
      KVD_LOG(kind::Debug,
              L"Failed to get Install folder from registry for diagnosing BVM  issue.Path : %s",
              CDeviceRegistry::kSuiteKey);
    } else {
      KVD_LOG(kind::Debug,
              L"Failed to get Install folder from registry for diagnosing BVM issue.Path : %s",
              CDeviceRegistry::kSuiteKey);
    }
    m_nErrorCode = kNotFoundCode;
    ShowNotFound();
    return kNotFound;
  }
  const std::wstring installFolder = kvd::platform::WithoutTrailingBackslashes(folder.text);
  // An empty folder would name the monitor on the current drive, where anyone may put one.
  if (installFolder.empty() ||
      !PathFileExists(m_platform.files,
                      installFolder + L"\\Brevane\\bin\\" + std::wstring(kMonitorExe))) {
    m_nErrorCode = kNotFoundCode;
    ShowNotFound();
    return kNotFound;
  }
  if (!FindMonitorProcesses(m_arrProcessIds)) {
    KVD_LOG(kind::Debug, L"BVM not running.");
    m_bCheckMultiple = false;
    m_nErrorCode = kNotRunningCode;
    ShowMultiple();
    return kNotRunning;
  }
  if (m_bCheckMultiple && m_arrProcessIds.size() > 1) {
    KVD_LOG(kind::Debug, L"Multiple instance of BVM is running.");
    m_nErrorCode = kMultipleCode;
    ShowMultiple();
    return kMultiple;
  }
  m_strMessage = GlobalLag.GetString(L"BVM_OK");
  m_nStatus = issue::kStatusPassed;
  return issue::kPassed;
}

bool CKVDBVMIssue::FindMonitorProcesses(std::vector<std::uint32_t>& ids) {
  KVD_SCOPE(L"CKVDBVMIssue::FindMonitorProcesses");
  kvd::platform::IProcess& process = m_platform.process;
  const auto snapshot =
      kvd::platform::MakeUniqueProcessHandle(process, process.CreateProcessSnapshot());
  if (!snapshot.valid()) {
    KVD_LOG(kind::Error, L"The list of running processes cannot be had - %u",
            m_platform.errors.GetLastError());
    return false;
  }
  const std::size_t before = ids.size();
  kvd::platform::ProcessEntry entry;
  for (bool more = process.Process32First(snapshot.get(), &entry); more;
       more = process.Process32Next(snapshot.get(), &entry)) {
    if (IsMonitorName(entry.exeFile)) ids.push_back(entry.processId);
  }
  return ids.size() > before;
}

int CKVDBVMIssue::DiagnoseParlo() {
  KVD_SCOPE(L"CKVDBVMIssue::DiagnoseParlo");
  KVD_LOG(kind::Info, L"Diagnoses Parlo Service.");
  switch (kvd::service::Ask(m_platform, kParloService, kvd::service::kGenericRead)) {
    case kvd::service::Answer::Usable:
      KVD_LOG(kind::Info, L"Parlo Service OK.");
      return issue::kPassed;
    case kvd::service::Answer::ServiceNotOpened:
      KVD_LOG(kind::Error, L"Failed to access the Parlo Service.");
      return 0;
    default:
      return 0;
  }
}

int CKVDBVMIssue::FixParlo() {
  KVD_SCOPE(L"CKVDBVMIssue::FixParlo");
  KVD_LOG(kind::Info, L"Fixes Parlo Service Issue");
  switch (kvd::service::StartAutomatically(m_platform, kParloService)) {
    case kvd::service::Repair::Started:
      return 1;
    case kvd::service::Repair::ServiceNotOpened:
      KVD_LOG(kind::Error, L"Failed to access the Parlo Service.");
      return 0;
    default:
      return 0;
  }
}

bool CKVDBVMIssue::EndMonitor(std::uint32_t id) {
  KVD_SCOPE(L"CKVDBVMIssue::EndMonitor");
  namespace access = kvd::platform::processaccess;
  kvd::platform::IProcess& process = m_platform.process;
  const auto opened = kvd::platform::MakeUniqueProcessHandle(
      process, process.OpenProcess(
                   access::Terminate | access::Synchronize | access::QueryLimitedInformation, id));
  if (!opened.valid()) return false;
  // The id was read earlier: a monitor that ended since may have left it to another program,
  // which administrator rights would end just as well.
  std::wstring image;
  if (!process.QueryFullProcessImageName(opened.get(), &image) ||
      !IsMonitorName(kvd::platform::PathFindFileName(image))) {
    KVD_LOG(kind::Error, L"Process %u is not the monitor any more: it is left running.", id);
    return false;
  }
  if (!process.TerminateProcess(opened.get(), 0)) return false;
  m_platform.clock.Sleep(kAfterEachEnd);
  return true;
}

int CKVDBVMIssue::Fix(const _DeviceDetails&, int) {
  KVD_SCOPE(L"CKVDBVMIssue::Fix");
  KVD_LOG(kind::Info, L"Fixes the BVM Issues.");
  const auto fail = [this] {
    m_strMessage = GlobalLag.GetString(L"GENERIC_FIX_FAIL");
    m_nButtons = kFixFailedButtons;
    m_nStatus = issue::kStatusWarning;
    if (m_services.holdCompletion) m_services.holdCompletion(true);
    return 0;
  };
  if (m_arrProcessIds.size() >= 2) {
    for (const std::uint32_t id : m_arrProcessIds) {
      if (!EndMonitor(id)) {
        KVD_LOG(kind::Debug, L"Failed to kill BVM.");
        m_nErrorCode = kNotRestarted;
        return fail();
      }
    }
  }
  const int started = RunBVM();
  if (started != 0) {
    KVD_LOG(kind::Debug, L"Failed to start BVM.");
    m_nErrorCode = started;
    return fail();
  }
  if (m_services.holdCompletion) m_services.holdCompletion(false);
  m_strMessage = GlobalLag.GetString(L"BVM_OK");
  m_nStatus = issue::kStatusPassed;
  m_nButtons = 0;
  return issue::kFixed;
}

int CKVDBVMIssue::RunBVM() {
  KVD_SCOPE(L"CKVDBVMIssue::RunBVM");
  KVD_LOG(kind::Info, L"Starts BVM process.");
  std::wstring folder;
  if (!CUtil(m_platform).GetBrevaneBinFolder(folder)) {
    KVD_LOG(kind::Debug, L"Failed to identify the QV Program Directory for starting the BVM.");
    return kNotRestarted;
  }
  const std::wstring monitor = kvd::platform::Trim(folder) + L"\\" + kMonitorExe;
  if (!PathFileExists(m_platform.files, monitor)) {
    KVD_LOG(kind::Error, L"The BVM exe not found.");
    return kNotRestarted;
  }
  kvd::platform::ProcessInformation started;
  if (!m_platform.shell.CreateProcess(monitor.c_str(), nullptr, &started)) {
    KVD_LOG(kind::Debug, L"Failed to Create BVM Process.");
    return kNotRestarted;
  }
  m_platform.sync.CloseHandle(started.process);
  m_platform.sync.CloseHandle(started.thread);

  // The copy makes the monitor start at the next logon; the monitor runs now whatever it does.
  wchar_t startup[260] = {};
  if (!kvd::platform::hr::Succeeded(
          m_platform.files.GetFolderPath(kvd::platform::csidl::Startup, startup))) {
    KVD_LOG(kind::Debug, L"The Startup folder is not known: the monitor is not copied there.");
    return 0;
  }
  const std::wstring copy = kvd::platform::TrimBackslashes(startup) + L"\\" + kMonitorExe;
  if (!m_platform.files.CopyFile(monitor.c_str(), copy.c_str(), false)) {
    KVD_LOG(kind::Debug, L"The monitor could not be copied to %s - %u", copy.c_str(),
            m_platform.errors.GetLastError());
  }
  return 0;
}
