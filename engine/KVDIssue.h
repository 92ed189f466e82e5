// engine/: the device record, the check model and the diagnostic manager that runs the checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "discovery/DeviceDetails.h"
#include "platform/api/IWindowMessages.h"

// Check results and presentation.
namespace issue {
inline constexpr int kPassed = 107;  // what Diagnose returns for a pass
inline constexpr int kFixed = 1;     // Fix results that mean fixed
inline constexpr int kFixedToo = 100;
inline constexpr int kNotFixed = 111;

// Whether a scan check passed in this run, as the checks after them are told (an empty
// function: not passed). A later problem is then a warning: the device can scan.
inline bool AnyPassed(const std::function<bool()>& wiaPassed,
                      const std::function<bool()>& twainPassed) {
  return (wiaPassed && wiaPassed()) || (twainPassed && twainPassed());
}
inline constexpr int kStatusNotRun = 0;
inline constexpr int kStatusPassed = 1;
inline constexpr int kStatusFailed = 2;
inline constexpr int kStatusWarning = 3;
}  // namespace issue

// The diagnosis page's buttons, as bits of m_nButtons.
namespace button {
inline constexpr int Fix = 0x001;
inline constexpr int Skip = 0x002;
inline constexpr int Update = 0x004;
inline constexpr int Restart = 0x008;
inline constexpr int Help = 0x010;
inline constexpr int Uninstall = 0x020;
inline constexpr int Navigation = 0x040;  // Back, Retest, Cancel and the window's Close
inline constexpr int Patch = 0x080;
inline constexpr int UpdateDriver = 0x100;
}  // namespace button

// The engine's window messages (WM_USER based).
namespace msg {
inline constexpr std::uint32_t Result = kvd::platform::kWmUser + 1;         // 1025
inline constexpr std::uint32_t Complete = kvd::platform::kWmUser + 2;       // 1026
inline constexpr std::uint32_t CheckStarts = kvd::platform::kWmUser + 3;    // 1027
inline constexpr std::uint32_t WorkerStarted = kvd::platform::kWmUser + 5;  // 1029
inline constexpr std::uint32_t Continue = kvd::platform::kWmUser + 6;       // 1030
inline constexpr std::uint32_t Progress = kvd::platform::kWmUser + 7;       // 1031
inline constexpr std::uint32_t DevicesReady = kvd::platform::kWmUser + 8;   // 1032
inline constexpr std::uintptr_t kFixSucceeded = 9999;  // wParam of 1025 after a fix
inline constexpr std::uintptr_t kFixFailed = 2000;
inline constexpr std::uintptr_t kNotResponding = 0xFFFFFFFF;  // wParam of the watchdog's 1030
}  // namespace msg

// One outcome of a check as its row shows it, for the checks' tables of outcomes: the code that
// selects it, the string key of its text, its status, and its buttons (-1: left as they are).
struct Outcome {
  int code = 0;
  const wchar_t* key = L"";
  int status = issue::kStatusFailed;
  int buttons = -1;
};

// The outcome of `code` in `outcomes`, else `other`.
template <std::size_t N>
const Outcome& OutcomeOf(const Outcome (&outcomes)[N], int code, const Outcome& other) {
  for (const Outcome& outcome : outcomes) {
    if (outcome.code == code) return outcome;
  }
  return other;
}

// The common shape of the thirteen checks.
class CKVDIssue {
 public:
  CKVDIssue() = default;
  virtual ~CKVDIssue() = default;
  CKVDIssue(const CKVDIssue&) = delete;
  CKVDIssue& operator=(const CKVDIssue&) = delete;

  // Runs the check and fills the fields below; 107 for a pass.
  virtual int Diagnose(const _DeviceDetails& device) = 0;
  // Repairs what Diagnose found (lastResult is what it returned): 1 or 100 fixed, 111 not fixed.
  virtual int Fix(const _DeviceDetails& device, int lastResult) = 0;
  // The window that receives the engine's messages.
  virtual void SetHandle(kvd::platform::WindowHandle window) = 0;

  kvd::platform::WindowHandle m_hNotifyWnd = 0;
  int m_nSimulatedCase = 0;
  bool m_bSimulate = false;
  bool m_bSimulatePass = false;
  std::wstring m_strName;
  int m_nStatus = issue::kStatusNotRun;
  std::wstring m_strMessage;
  int m_nButtons = 0;
  int m_nErrorCode = 0;
};
