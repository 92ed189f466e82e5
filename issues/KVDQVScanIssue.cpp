#include "issues/KVDQVScanIssue.h"

#include <utility>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/ISystem.h"
#include "platform/api/Text.h"
#include "repair/L2Uninstall.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;

namespace {

constexpr int kNoTwainFolder = 100021;
constexpr int kNoQvScan = 100022;
constexpr int kQvScanMissing = 1087;
constexpr int kTwainFolderMissing = 1088;
constexpr int kScanToUnreadable = 1089;
constexpr int kScanToMissing = 1090;
constexpr int kNotFoundButtons = button::Uninstall | button::Skip | button::Navigation;  // 98

}  // namespace

CKVDQVScanIssue::CKVDQVScanIssue(kvd::platform::Platform& platform, Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"QVSCAN");
}

int CKVDQVScanIssue::Fix(const _DeviceDetails&, int) { return issue::kFixed; }

bool CKVDQVScanIssue::ScanChecksPassed() const {
  return issue::AnyPassed(m_services.wiaPassed, m_services.twainPassed);
}

int CKVDQVScanIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDQVScanIssue::Diagnose");
  m_nStatus = issue::kStatusNotRun;
  // In this record's scope: the executable and its TWAIN folder.
  const auto look = [&]() -> int {
    std::wstring folder = CUtil(m_platform).GetInstallDirForModel(device.strDeviceDesc);
    // Without the suite's product there is no QV Scan: a path made from nothing would name
    // "\bin\QVScan.exe" on the current drive, which anyone could create, and start it elevated.
    if (folder.empty()) {
      if (m_services.qvScanPath) m_services.qvScanPath(L"");
      KVD_LOG(kind::Debug, L"QV Scan not found. Path: %s", L"");
      m_nErrorCode = kQvScanMissing;
      return kNoQvScan;
    }
    const std::size_t slash = folder.rfind(L'\\');
    const std::wstring name = slash == std::wstring::npos ? folder : folder.substr(slash);
    bool wow64 = false;
    if (m_platform.system.IsWow64Process(&wow64) && wow64 &&
        folder.find(L"Program Files (x86)") == std::wstring::npos) {
      const std::size_t at = folder.find(L"Program Files");
      if (at != std::wstring::npos) folder.replace(at, 13, L"Program Files (x86)");
    }
    const std::wstring path = folder + L"\\bin\\QVScan.exe";
    if (m_services.qvScanPath) m_services.qvScanPath(path);
    if (!kvd::platform::PathFileExists(m_platform.files, path)) {
      KVD_LOG(kind::Debug, L"QV Scan not found. Path: %s", path);
      m_nErrorCode = kQvScanMissing;
      return kNoQvScan;
    }
    std::wstring windows;
    if (!kvd::platform::ExpandEnvironment(m_platform.environment, L"%windir%", windows) ||
        windows.find(L'%') != std::wstring::npos) {
      KVD_LOG(kind::Debug, L"Failed to expand %%windir%%.");
      m_nErrorCode = kTwainFolderMissing;
      return kNoTwainFolder;
    }
    const std::wstring twain = windows + L"\\twain_32\\" + name;
    if (kvd::platform::PathFileExists(m_platform.files, twain)) return issue::kPassed;
    KVD_LOG(kind::Debug, L"Failed to detect the Device folder in the twain_32 folder. Path: %s",
            twain);
    m_nErrorCode = kTwainFolderMissing;
    return kNoTwainFolder;
  };
  int result = 0;
  if (m_bSimulate) {
    m_bSimulate = false;
    if (m_bSimulatePass) {
      m_bSimulatePass = false;
      SetOutcome(issue::kPassed);
      return issue::kPassed;
    }
    result = m_nSimulatedCase;
  } else {
    result = look();
  }
  SetOutcome(result);
  return result;
}

void CKVDQVScanIssue::SetOutcome(int result) {
  if (result == issue::kPassed) {
    m_strMessage = GlobalLag.GetString(L"QVSCAN_OK");
    m_nStatus = issue::kStatusPassed;
    return;
  }
  m_strMessage =
      GlobalLag.GetString(result == kNoQvScan ? L"QV_SCAN_NOT_FOUND" : L"QV_SCAN_UNKNOWN");
  m_nStatus = ScanChecksPassed() ? issue::kStatusWarning : issue::kStatusFailed;
  m_nButtons = kNotFoundButtons;
}

void CKVDScanToIssue::SetScanToOutcome(bool found) {
  if (found) {
    m_strMessage = GlobalLag.GetString(L"QVSCAN_OK");
    m_nStatus = issue::kStatusPassed;
    return;
  }
  m_strMessage = GlobalLag.GetString(L"QV_SCAN_TO_FOUND");
  m_nStatus = ScanChecksPassed() ? issue::kStatusWarning : issue::kStatusFailed;
  m_nButtons = kNotFoundButtons;
}

int CKVDScanToIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDScanToIssue::Diagnose");
  if (m_bSimulate) {
    m_bSimulate = false;
    if (!m_bSimulatePass) {
      SetScanToOutcome(false);
      return 0;
    }
    m_bSimulatePass = false;
    SetScanToOutcome(true);
    return issue::kPassed;
  }
  if (DiagnoseSCanToIssue(device)) {
    SetScanToOutcome(true);
    return issue::kPassed;
  }
  CKVDQVScanIssue fallback(m_platform, m_services);
  const int result = fallback.Diagnose(device);
  if (result == issue::kPassed) {
    SetScanToOutcome(true);
    return issue::kPassed;
  }
  m_nErrorCode = fallback.m_nErrorCode;
  SetScanToOutcome(false);
  return result;
}

bool CKVDScanToIssue::DiagnoseSCanToIssue(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDScanToIssue::DiagnoseSCanToIssue");
  using End = CL2Uninstall::LumeqModelFolder::End;
  const CL2Uninstall::LumeqModelFolder found =
      CL2Uninstall(m_platform).FindLumeqModelFolder(device);
  switch (found.end) {
    case End::Found:
      break;
    case End::NoMatchingDeviceId:
      KVD_LOG(kind::Debug,
              L"Failed to get the MatchingDEviceID from registry for diagnosing QVScanTo issue.");
      m_nErrorCode = kScanToUnreadable;
      return false;
    case End::NoInstallFolder:
      KVD_LOG(kind::Debug,
              L"Failed to get the InstallFolder from registry for diagnosing QVScanTo issue.");
      m_nErrorCode = kScanToUnreadable;
      return false;
    case End::NoInfPath:
      KVD_LOG(kind::Debug,
              L"Failed to get the InfPath from registry for diagnosing QVScanTo issue.");
      m_nErrorCode = kScanToUnreadable;
      return false;
    case End::NoWindowsFolder:
      KVD_LOG(kind::Debug, L"Failed to expand %%windir%%.");
      m_nErrorCode = kScanToUnreadable;
      return false;
    case End::NotFound:
      KVD_LOG(kind::Debug, L"Failed to get the ScanTo folder Path.");
      SetScanToOutcome(false);
      m_nErrorCode = kScanToMissing;
      return false;
  }
  const std::wstring path = found.installFolder + L"\\" + found.name + L"\\Scan To\\qvscanto.exe";
  if (m_services.scanToPath) m_services.scanToPath(path);
  if (kvd::platform::PathFileExists(m_platform.files, path)) return true;
  KVD_LOG(kind::Debug, L"Failed to find the ScanTo exe. Pat: %s", path);
  m_nErrorCode = kScanToMissing;
  return false;
}
