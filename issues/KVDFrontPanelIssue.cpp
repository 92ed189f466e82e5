#include "issues/KVDFrontPanelIssue.h"

#include <array>
#include <exception>
#include <utility>

#include "discovery/DeviceRegistry.h"
#include "issues/KVDTabborIssue.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace hr = kvd::platform::hr;
namespace sam = kvd::platform::sam;
using kvd::platform::kHkeyLocalMachine;
using kvd::platform::ToLowerOrdinal;
using kvd::platform::Trim;
using kvd::reg::MachineText;
using kvd::reg::RegStatus;
using kvd::reg::RegText;

namespace {

constexpr int kProblemResult = 100020;
constexpr int kProblemFound = 1085;
constexpr int kNotAnswerable = 1086;
constexpr const wchar_t* kLibrary = L"qvdevset.dll";

// A scan-settings object, handed back to the library's destroy export (when it has one) on
// every way out, an open session closed first.
class SettingsObject {
 public:
  SettingsObject(kvd::platform::IModules& modules, kvd::platform::ProcAddress destroy,
                 kvd::platform::ScanSettings object)
      : modules_(modules), destroy_(destroy), object_(object) {}
  ~SettingsObject() {
    if (open_) modules_.ScanSettingsCloseSession(object_);
    if (object_ != 0 && destroy_ != 0) modules_.CallDestroyScanSettings(destroy_, object_);
  }
  SettingsObject(const SettingsObject&) = delete;
  SettingsObject& operator=(const SettingsObject&) = delete;
  bool Open() {
    open_ = object_ != 0 && modules_.ScanSettingsOpenSession(object_);
    return open_;
  }
  kvd::platform::ScanSettings get() const { return object_; }

 private:
  kvd::platform::IModules& modules_;
  kvd::platform::ProcAddress destroy_;
  kvd::platform::ScanSettings object_;
  bool open_ = false;
};

}  // namespace

CKVDFrontPanelIssue::CKVDFrontPanelIssue(kvd::platform::Platform& platform, Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"FRONT_PANEL");
}

bool CKVDFrontPanelIssue::ScanChecksPassed() const {
  return issue::AnyPassed(m_services.wiaPassed, m_services.twainPassed);
}

int CKVDFrontPanelIssue::Diagnose(const _DeviceDetails& device) {
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  int answer = 0;
  if (m_bSimulate) {
    m_bSimulatePass = false;
    m_bSimulate = false;
    answer = m_nSimulatedCase == issue::kPassed ? 0 : m_nSimulatedCase;
  } else if (device.bTarvel) {
    answer = IsFrontPanelIssueExist(device.strDriverKey);
  } else {
    // The run is not complete until this device's button is known to work.
    if (m_services.holdCompletion) m_services.holdCompletion(true);
    const RegText identifier =
        CDeviceRegistry(m_platform.registry).DeviceDataText(device.strDriverKey, L"KLEDeviceID");
    if (identifier.IsRead()) {
      answer = IsProblemExist(Trim(identifier.text));
    } else {
      // Without the identifier the library cannot be asked: the problem outcome, as when the
      // device has no shortcut.
      answer = 1;
    }
  }
  if (answer != 0 && answer != 1 && answer != -1) return 0;
  SetOutcome(answer, device);
  if (answer == 0) {
    if (m_services.holdCompletion) m_services.holdCompletion(false);
    return issue::kPassed;
  }
  return kProblemResult;
}

void CKVDFrontPanelIssue::SetOutcome(int answer, const _DeviceDetails& device) {
  using namespace button;
  if (answer == 0) {
    m_strMessage = GlobalLag.GetString(L"FRONT_PANEL_OK");
    m_nStatus = issue::kStatusPassed;
    m_nButtons = Update | Help | Navigation;  // 84
    return;
  }
  const bool dashra = m_services.dashraPresent && m_services.dashraPresent();
  const bool simulatingTarvel = m_services.simulatingTarvel && m_services.simulatingTarvel();
  const wchar_t* key = nullptr;
  if (answer == 1) {
    key = dashra ? L"FRONT_PANEL_ISSUE_FOUND" : L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA";
    m_nButtons = dashra ? (button::Fix | Skip | Navigation) : (Skip | Navigation);  // 67 : 66
    m_nErrorCode = kProblemFound;
  } else if (device.bTarvel || simulatingTarvel) {
    key = L"QV_BTN_MGR_FRONTPANEL_NOT_FOUND";
    m_nButtons = Skip | Uninstall | Navigation;  // 98
    m_nErrorCode = kNotAnswerable;
  } else {
    key =
        dashra ? L"FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED" : L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA";
    m_nButtons = Skip | Navigation;  // 66
    m_nErrorCode = kNotAnswerable;
  }
  m_strMessage = GlobalLag.GetString(key);
  m_nStatus = ScanChecksPassed() ? issue::kStatusWarning : issue::kStatusFailed;
}

int CKVDFrontPanelIssue::Fix(const _DeviceDetails& device, int) {
  const bool fixed =
      device.bTarvel ? FixTarvelFronPanelIssue(device) : FixAiOFrontPanelIssue(device);
  using namespace button;
  if (fixed) {
    m_strMessage = GlobalLag.GetString(L"FRONT_PANEL_OK");
    m_nStatus = issue::kStatusPassed;
    m_nButtons = Update | Help | Navigation;  // 84
    return issue::kFixed;
  }
  m_strMessage = GlobalLag.GetString(L"GENERIC_FIX_FAIL");
  m_nStatus = ScanChecksPassed() ? issue::kStatusWarning : issue::kStatusFailed;
  m_nButtons = Skip | Restart | Uninstall | Navigation;  // 106
  return 0;
}

int CKVDFrontPanelIssue::IsFrontPanelIssueExist(const std::wstring& driverKey) {
  KVD_SCOPE(L"CKVDFrontPanelIssue::IsFrontPanelIssueExist");
  KVD_LOG(kind::Info, L"Checks the FrontPanel issue for Tarvel.");
  auto& registry = m_platform.registry;
  const std::wstring eventsPath = CDeviceRegistry::ClassKey(driverKey) + L"\\Events";
  std::wstring commandLine;
  {
    auto events = kvd::platform::MakeUniqueHkey(registry);
    if (registry.OpenKeyEx(kHkeyLocalMachine, eventsPath.c_str(),
                           sam::AllAccess | kvd::reg::kView32, events.put()) != 0) {
      KVD_LOG(kind::Debug, L"Failed to open registry path.Path : %s", eventsPath);
      return -1;
    }
    // Only the first event whose name holds "scan" is the button's; later ones are not looked at.
    for (const std::wstring& name : kvd::reg::SubKeyNames(registry, events.get())) {
      const std::wstring lower = ToLowerOrdinal(Trim(name));
      if (lower.find(L"scan") == std::wstring::npos) continue;
      std::wstring eventPath = eventsPath;
      eventPath.append(L"\\").append(lower);
      const RegText handler = MachineText(registry, eventPath, L"DefaultHandler");
      if (!handler.IsRead()) {
        if (handler.status == RegStatus::Unreadable) {
          KVD_LOG(kind::Debug,
                  L"Failed to get the DefaultHandler value from registry for diagnosing FrontPanel "
                  L"issue.Path : %s",
                  eventPath);
        }
        return -1;
      }
      const std::wstring handlerPath = eventPath + L"\\" + handler.text;
      // An empty handler name would make the event's own key the handler's.
      const RegText command =
          handler.text.empty() ? RegText{} : MachineText(registry, handlerPath, L"CmdLine");
      if (!command.IsRead()) {
        KVD_LOG(kind::Debug,
                L"Failed to get the CmdLine value from registry for diagnosing FrontPanel "
                L"issue.Path : %s",
                handlerPath);
        return -1;
      }
      commandLine = command.text;
      break;
    }
  }
  std::wstring program = ToLowerOrdinal(Trim(commandLine));
  // A program path with blanks is quoted in a command line: the quote is not part of the path.
  if (!program.empty() && program.front() == L'"') program.erase(0, 1);
  const std::size_t exe = program.find(L".exe");
  if (exe == std::wstring::npos) return -1;
  program.resize(exe + 4);
  return kvd::platform::PathFileExists(m_platform.files, program) ? 0 : -1;
}

std::wstring CKVDFrontPanelIssue::ScanSettingsLibraryPath() {
  KVD_SCOPE(L"CKVDFrontPanelIssue::ScanSettingsLibraryPath");
  // Never by bare name: this program runs elevated, and the search order would take a library
  // planted in its own or the current folder.
  std::wstring bin;
  if (CUtil(m_platform).GetBrevaneBinFolder(bin)) {
    std::wstring path = kvd::platform::WithoutTrailingBackslashes(Trim(bin)) + L"\\" + kLibrary;
    if (kvd::platform::PathFileExists(m_platform.files, path)) return path;
  }
  std::array<wchar_t, 260> system{};
  const std::uint32_t chars = m_platform.modules.GetSystemDirectory(
      system.data(), static_cast<std::uint32_t>(system.size()));
  if (chars > 0 && chars < system.size()) {
    std::wstring path =
        kvd::platform::WithoutTrailingBackslashes(std::wstring(system.data(), chars)) + L"\\" +
        kLibrary;
    if (kvd::platform::PathFileExists(m_platform.files, path)) return path;
  }
  KVD_LOG(kind::Debug, L"%s is neither in the suite's bin folder nor in the system folder.",
          kLibrary);
  return {};
}

int CKVDFrontPanelIssue::IsProblemExist(const std::wstring& deviceId) {
  KVD_SCOPE(L"CKVDFrontPanelIssue::IsProblemExist");
  auto& com = m_platform.com;
  auto& modules = m_platform.modules;
  const bool initialised = hr::Succeeded(com.CoInitialize());
  int answer = -1;
  try {
    // The library, and the object inside it, are given back before COM is left.
    const std::wstring path = ScanSettingsLibraryPath();
    const auto library = kvd::platform::MakeUniqueLibrary(
        modules, path.empty() ? 0 : modules.LoadLibrary(path.c_str()));
    const auto ask = [&]() -> int {
      if (!library.valid()) {
        KVD_LOG(kind::Debug, L"Could not load qvdevset.dll");
        return -1;
      }
      const kvd::platform::ProcAddress create =
          modules.GetProcAddress(library.get(), "CreateAiODeviceScanSettings");
      if (create == 0) {
        KVD_LOG(kind::Debug, L"pAIODeviceScanSettingsInfc->OpenSession() failed.");
        return -1;
      }
      SettingsObject settings(modules,
                              modules.GetProcAddress(library.get(), "DestroyAiODeviceScanSettings"),
                              modules.CallCreateScanSettings(create, deviceId));
      if (!settings.Open()) {
        KVD_LOG(kind::Debug, L"pAIODeviceScanSettingsInfc->OpenSession() failed.");
        return -1;
      }
      std::uint32_t count = 0;
      if (!modules.ScanSettingsShortcuts(settings.get(), &count)) {
        KVD_LOG(kind::Debug, L"pAIODeviceScanSettingsInfc->GetDeviceShortcutList() failed.");
        return -1;
      }
      if (count == 0) {
        KVD_LOG(kind::Debug, L"Could not find any shortcuts.");
        return 1;
      }
      KVD_LOG(kind::Debug, L"Shortcuts found.");
      return 0;
    };
    answer = ask();
  } catch (const std::exception&) {
    KVD_LOG(kind::Debug, L"Exception occured.");
    answer = -1;
  }
  if (initialised) com.CoUninitialize();
  return answer;
}

bool CKVDFrontPanelIssue::FixTarvelFronPanelIssue(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDFrontPanelIssue::FixTarvelFronPanelIssue");
  KVD_LOG(kind::Info, L"Fixes the FrontPanel issue of Tarvel.");
  CDeviceRegistry registry(m_platform.registry);
  const std::wstring dataPath = CDeviceRegistry::DeviceDataKey(device.strDriverKey);
  const RegText installPath = registry.DeviceDataText(device.strDriverKey, L"InstallRegPath");
  // An empty path names no settings key (it would become one below HKLM itself).
  const std::wstring settingsRoot = kvd::platform::TrimBackslashes(installPath.Or(L""));
  if (!installPath.IsRead() || settingsRoot.empty()) {
    KVD_LOG(kind::Debug,
            L"Failed to get the InstallRegPath value from registry for fixing FrontPanel "
            L"issue.Path : %s",
            dataPath);
    return false;
  }
  const RegText classId = registry.DeviceDataText(device.strDriverKey, L"InstallCLSID");
  if (!classId.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get the InstallCLSID value from registry for fixing FrontPanel "
            L"issue.Path : %s",
            dataPath);
    return false;
  }
  const std::wstring settingsPath = settingsRoot + L"\\" + classId.text;
  const RegText program = MachineText(m_platform.registry, settingsPath, L"ButSet");
  if (!program.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get the ButSet value from registry for fixing FrontPanel issue.Path : %s",
            settingsPath);
    return false;
  }
  kvd::platform::ProcessInformation started;
  if (!m_platform.shell.CreateProcess(program.text.c_str(), nullptr, &started)) return false;
  // The settings program is the user's to finish: not waited for.
  m_platform.sync.CloseHandle(started.process);
  m_platform.sync.CloseHandle(started.thread);
  return true;
}

bool CKVDFrontPanelIssue::FixAiOFrontPanelIssue(const _DeviceDetails& device) {
  const RegText programDir =
      MachineText(m_platform.registry, CDeviceRegistry::kSuiteKey, L"ProgramDir");
  const std::wstring folder = Trim(programDir.Or(L""));
  // No path is made from an empty folder (it would name the current drive's root).
  if (!programDir.IsRead() || folder.empty()) return false;
  const std::wstring tabbor = folder + L"\\qvtabbor.exe";
  if (!kvd::platform::PathFileExists(m_platform.files, tabbor)) return false;
  const RegText identifier =
      CDeviceRegistry(m_platform.registry).DeviceDataText(device.strDriverKey, L"KLEDeviceID");
  if (!identifier.IsRead()) return false;
  const std::wstring id = Trim(identifier.text);
  const std::wstring commandLine = CKVDTabborIssue::ButtonSettingsCommandLine(id);
  kvd::platform::ProcessInformation started;
  if (!m_platform.shell.CreateProcess(tabbor.c_str(), commandLine.c_str(), &started)) return false;
  // Tabbor applies the setting on its own; it is given this long, not waited for otherwise.
  m_platform.clock.Sleep(kTabborSettleMs);
  m_platform.sync.CloseHandle(started.process);
  m_platform.sync.CloseHandle(started.thread);
  return IsProblemExist(id) == 0;
}
