#include "issues/KVDDeviceManagerIssue.h"

#include <cstdint>
#include <string>

#include "logging/Trace.h"
#include "repair/DeviceManagerHelper.h"
#include "repair/DeviceNode.h"
#include "repair/DriverRefresh.h"
#include "repair/L2Uninstall.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace mb = kvd::platform::mb;
using kvd::repair::NodeOperation;

namespace {

constexpr std::uint32_t kHelperWaitMs = 60000;

using Group = kvd::repair::ProblemGroup;
Group GroupOf(int code) { return kvd::repair::GroupOfProblem(code); }

// The error code a problem number stands for; 0 for one that has none.
int ErrorCodeOf(int code) {
  struct Pair {
    int problem;
    int error;
  };
  constexpr Pair kCodes[] = {{1, 1004},  {3, 1005},  {10, 1006}, {14, 1009}, {18, 1007}, {19, 1018},
                             {21, 1010}, {22, 1016}, {24, 1011}, {28, 1019}, {31, 1008}, {32, 1017},
                             {38, 1012}, {40, 1020}, {42, 1013}, {44, 1014}, {47, 1015}};
  for (const Pair& pair : kCodes) {
    if (pair.problem == code) return pair.error;
  }
  return 0;
}

}  // namespace

CKVDDeviceManagerIssue::CKVDDeviceManagerIssue(kvd::platform::Platform& platform)
    : m_platform(platform) {
  m_strName = GlobalLag.GetString(L"DEVICEMANAGER");
}

bool CKVDDeviceManagerIssue::OnWow64() { return CUtil(m_platform).IsWow64(); }

bool CKVDDeviceManagerIssue::AskYesNo(const wchar_t* key) {
  return m_platform.shell.MessageBox(m_hParentWnd, GlobalLag.GetString(key).c_str(),
                                     GlobalLag.GetString(L"TITLE").c_str(),
                                     mb::YesNo | mb::IconWarning) == mb::IdYes;
}

void CKVDDeviceManagerIssue::SetUI(int code) {
  KVD_SCOPE(L"CKVDDeviceManagerIssue::SetUI");
  KVD_LOG(kind::Info, L"Device manager issue found: %d", code);
  struct Face {
    Group group;
    const wchar_t* key;
    int buttons;
  };
  static constexpr Face kFaces[] = {
      {Group::Reinstall, L"DEVMGRISSUE_L2UINSTALL", button::Navigation | button::Uninstall},
      {Group::Restart, L"DEVMGRISSUE_RESTART", button::Navigation | button::Restart},
      {Group::Fixable, L"DEVMGRISSUE_FIX", button::Navigation | button::Fix},
      {Group::Unknown, L"DEVMGRISSUE_UNKNOWN", button::Navigation | button::Uninstall},
  };
  const Group group = GroupOf(code);
  for (const Face& face : kFaces) {
    if (face.group != group) continue;
    m_strMessage = GlobalLag.GetString(face.key);
    m_nButtons = face.buttons;
  }
}

int CKVDDeviceManagerIssue::DeviceManagerIssue64(const _DeviceDetails& device, bool fixMode,
                                                 int problem, bool* answered) {
  KVD_SCOPE(L"CKVDDeviceManagerIssue::DeviceManagerIssue64");
  KVD_LOG(kind::Debug, L"Diagnosing the Device Manegr issue for 64bit OS.");
  using kvd::repair::Quoted;
  std::wstring parameters = Quoted(fixMode ? L"-f" : L"-d") + L" ";
  parameters += Quoted(device.strDeviceDesc) + L" ";
  parameters += Quoted(device.strHardwareId) + L" ";
  if (fixMode) {
    parameters += Quoted(kvd::repair::DriverPackageInfPath(m_platform, device)) + L" ";
    parameters += std::to_wstring(problem) + L" ";
  }
  const kvd::repair::HelperRun run = kvd::repair::RunHelper(
      m_platform, parameters, kvd::platform::sw::Hide, m_hParentWnd, kHelperWaitMs);
  // Told apart here, not by the number: a helper that exits 1 has found problem 1, which is
  // also what a launch failure answers. A command line the helper refused, or its own failure,
  // is no answer either: neither a problem number nor a repair.
  if (answered != nullptr) {
    const std::uint32_t code = run.exitCode;
    *answered = run.started && run.exitCodeRead && code != kvd::repair::kStillActive &&
                code != static_cast<std::uint32_t>(kvd::repair::kHelperBadCommandLine) &&
                code != kvd::repair::kHelperNoExitCode;
  }
  if (!run.started) return static_cast<int>(kvd::repair::kHelperNotStarted);
  if (!run.exitCodeRead) return fixMode ? 2000 : kNoAnswer;
  return static_cast<int>(run.exitCode);
}

int CKVDDeviceManagerIssue::UninstallBranch(const _DeviceDetails& device) {
  if (!AskYesNo(L"UNINSTALL_MSG")) {
    // Declined: nothing was repaired, and the page must not say so.
    return issue::kNotFixed;
  }
  // The same choice by family as the page's Uninstall button: a Lumeq device's software is not
  // the suite's, and its scrubber would not remove it.
  if (kvd::repair::UninstallDeviceSoftware(m_platform, device)) return kUninstallBranch;
  m_platform.shell.MessageBox(m_hParentWnd, GlobalLag.GetString(L"UNINSTALL_FAIL_MSG").c_str(),
                              GlobalLag.GetString(L"TITLE").c_str(), mb::Ok | mb::IconWarning);
  return kRepairFailed;
}

int CKVDDeviceManagerIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDDeviceManagerIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses the device manager issue.");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  if (m_bSimulate) {
    if (m_bSimulatePass) {
      m_bSimulatePass = false;
      m_strMessage = GlobalLag.GetString(L"DEVMGRISSUE_OK");
      m_nStatus = issue::kStatusPassed;
    } else {
      SetUI(m_nSimulatedCase);
      m_nStatus = issue::kStatusFailed;
    }
    m_bSimulate = false;
    return m_nSimulatedCase;
  }

  int code = kNoDevice;
  if (OnWow64()) {
    bool answered = false;
    code = DeviceManagerIssue64(device, false, 0, &answered);
    // A helper that never started or never ended says nothing about the device: that is not
    // its problem 1 ("reinstall") nor the STILL_ACTIVE number.
    if (!answered) {
      KVD_LOG(kind::Error, L"The device-manager helper gave no answer (%d).", code);
      code = kNoAnswer;
    }
  } else {
    std::uint32_t problem = 0;
    int errorCode = m_nErrorCode;
    const kvd::repair::NodeHost noRestart;
    if (kvd::repair::ApplyToMatchingImageDevices(m_platform, device, NodeOperation::Query,
                                                 noRestart, &problem, errorCode)) {
      code = static_cast<int>(problem);
    }
    m_nErrorCode = errorCode;
  }
  if (code == 0 || code == issue::kPassed) {
    KVD_LOG(kind::Info, L"Device manager is OK");
    m_strMessage = GlobalLag.GetString(L"DEVMGRISSUE_OK");
    m_nStatus = issue::kStatusPassed;
    return issue::kPassed;
  }
  KVD_LOG(kind::Info, L"Device manager issue found: %d", code);
  m_nStatus = issue::kStatusFailed;
  if (const int error = ErrorCodeOf(code); error != 0) m_nErrorCode = error;
  SetUI(code);
  return code;
}

int CKVDDeviceManagerIssue::Fix(const _DeviceDetails& device, int code) {
  KVD_SCOPE(L"CKVDDeviceManagerIssue::Fix");
  KVD_LOG(kind::Debug, L"Fixes the device manager issue.");
  int result = issue::kFixedToo;
  if (GroupOf(code) == Group::Unknown) {
    // The device software's uninstall needs the whole device record and no access to the
    // native device tree: it is made here on both kinds of Windows, with its question over the
    // page, rather than by the helper, which is given only the description and hardware id.
    result = UninstallBranch(device);
  } else if (OnWow64()) {
    bool answered = false;
    result = DeviceManagerIssue64(device, true, code, &answered);
    // No helper, no end, no exit code: nothing was repaired. Every other answer but its
    // failure and the declined restart is the helper's success.
    if (!answered) {
      KVD_LOG(kind::Error, L"The device-manager helper did not repair (%d).", result);
      result = kRepairFailed;
    } else if (result != kRepairFailed && result != issue::kNotFixed) {
      result = issue::kFixedToo;
    }
  } else {
    kvd::repair::NodeHost host;
    host.confirmRestart = [this] { return AskYesNo(L"RESTART_MSG"); };
    host.restart = [this] { return CUtil(m_platform).RequestReboot(); };
    int errorCode = m_nErrorCode;
    result = kvd::repair::RepairDeviceNode(m_platform, device,
                                           kvd::repair::DriverPackageInfPath(m_platform, device),
                                           code, host, errorCode);
    m_nErrorCode = errorCode;
  }
  if (result == kRepairFailed) {
    m_strMessage = GlobalLag.GetString(L"GENERIC_FIX_FAIL");
    m_nButtons = button::Navigation | button::Uninstall | button::Restart;
    m_nStatus = issue::kStatusFailed;
  } else if (result == issue::kNotFixed) {
    m_nStatus = issue::kStatusFailed;
  } else {
    m_strMessage = GlobalLag.GetString(L"GENERIC_FIX_SUCCESS");
    m_nStatus = issue::kStatusPassed;
    m_nButtons = 0;
  }
  return result;
}
