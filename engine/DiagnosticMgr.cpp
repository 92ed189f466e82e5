#include "engine/DiagnosticMgr.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "discovery/Scanners.h"
#include "logging/Trace.h"
#include "repair/DriverRefresh.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace {

namespace kind = DUDiduzuz::kind;
namespace wait = kvd::platform::wait;
using kvd::platform::SyncHandle;

constexpr int kLastIssue = kCheckCount - 1;
constexpr int kDriver = 2;
constexpr std::uint32_t kEnumerationWaitMs = 20000;

}  // namespace

CDiagnosticMgr::CDiagnosticMgr(kvd::platform::Platform& platform, CheckTable checks)
    : m_platform(platform), m_table(std::move(checks)), m_threads(platform) {
  KVD_SCOPE(L"CDiagnosticMgr::CDiagnosticMgr");
}

CDiagnosticMgr::~CDiagnosticMgr() {
  KVD_SCOPE(L"CDiagnosticMgr::~CDiagnosticMgr");
  // The owner has ended the threads (Shutdown); this only makes sure of it before the checks
  // and the devices they use go.
  Shutdown(0);
  m_threads.JoinAll();
  const SyncHandle event = g_hListenEvent.exchange(0);
  if (event != 0) m_platform.sync.CloseHandle(event);
}

bool CDiagnosticMgr::Shutdown(std::uint32_t graceMs) {
  KVD_SCOPE(L"CDiagnosticMgr::Shutdown");
  m_bClosing = true;
  m_threads.RequestStop();
  const std::size_t running = m_threads.WaitForAll(graceMs);
  if (running == 0) return true;
  KVD_LOG(kind::Error, L"%u threads still run at exit (a check does not return): left behind.",
          static_cast<std::uint32_t>(running));
  return false;
}

std::intptr_t CDiagnosticMgr::Send(std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
  return m_platform.messages.SendMessage(m_hWnd.load(), message, wParam, lParam);
}

const _DeviceDetails& CDiagnosticMgr::DeviceAt(int device) const {
  if (device < 0 || static_cast<std::size_t>(device) >= m_arrDevices.size()) {
    throw std::invalid_argument("device index outside the device array");
  }
  return m_arrDevices[static_cast<std::size_t>(device)];
}

void CDiagnosticMgr::Init() {
  KVD_SCOPE(L"CDiagnosticMgr::Init");
  KVD_LOG(kind::Debug, L"Filling up the issue list.");
  m_nCurrentIssue = 0;
  for (std::size_t index = 0; index < m_table.size(); ++index) {
    const CheckRow& row = m_table[index];
    std::unique_ptr<CKVDIssue> check;
    if (row.factory) check = row.factory(m_platform);
    // Every slot is run and shown: a table with a hole in it is a fault of the build, found by
    // its first test rather than by a user's run.
    if (!check) {
      throw std::invalid_argument("the check table's slot " + std::to_string(index) +
                                  " builds no check");
    }
    m_issues[index] = {row.id, std::move(check)};
  }
  m_threads.Start(L"EnumerateScanners", [this] { EnumerateScanners(); });
}

void CDiagnosticMgr::EnumerateScanners() {
  KVD_SCOPE(L"CDiagnosticMgr::EnumerateScanners");
  try {
    if (m_enumerator) {
      m_enumerator(m_arrDevices);
    } else {
      CScanners(m_platform).EnumerateScanners(m_arrDevices);
    }
  } catch (const std::exception& e) {
    // What was found so far stays listed.
    KVD_LOG(kind::Error, L"Enumerating the scanners failed: %S", e.what());
  }
  const SyncHandle event = g_hListenEvent.load();
  std::uint32_t woken = wait::Failed;
  if (event == 0) {
    KVD_LOG(kind::Error,
            L"Listen_Event is missing: the device page's acknowledgement cannot come.");
  } else {
    const SyncHandle handles[] = {event, m_threads.StopEvent()};
    woken = m_platform.sync.WaitForMultipleObjects(handles[1] != 0 ? 2 : 1, handles, false,
                                                   kEnumerationWaitMs);
  }
  if (woken == wait::Object0 + 1 || m_bClosing) {
    // The program ends before the device page came: nobody to tell, nothing acknowledged.
    KVD_LOG(kind::Debug, L"The program ends: the device list is not announced.");
    return;
  }
  if (woken == wait::Timeout) {
    KVD_LOG(kind::Error, L"TIMEOUT: Enumerate Scanners may not update scaners list");
  } else {
    if (woken != wait::Object0 && event != 0) {
      KVD_LOG(kind::Error, L"The wait for the device page failed - %u",
              m_platform.errors.GetLastError());
    }
    // After a failed wait the page may or may not be there: a registered page is told, since
    // the list is ready either way.
    const kvd::platform::WindowHandle window = m_hWnd.load();
    if (window == 0) {
      KVD_LOG(kind::Debug, L"No device page is registered: the device list is not announced.");
    } else {
      KVD_LOG(kind::Debug, L"EnumerateScanners update scaners list at handle: %d",
              static_cast<std::int64_t>(window));
      Send(msg::DevicesReady, 0, 0);
    }
  }
  if (event != 0 && woken != wait::Failed) m_platform.sync.ResetEvent(event);
}

void CDiagnosticMgr::SetHandle(kvd::platform::WindowHandle window) {
  KVD_SCOPE(L"CDiagnosticMgr::SetHandle");
  KVD_LOG(kind::Debug, L"Sets the window handle.");
  m_hWnd = window;
  KVD_LOG(kind::Debug, L"Handle : %d", static_cast<std::int64_t>(window));
  for (auto& entry : m_issues) {
    if (entry.issue) entry.issue->SetHandle(window);
  }
}

void CDiagnosticMgr::StartRun() {
  KVD_SCOPE(L"CDiagnosticMgr::StartRun");
  // A new run: whatever an earlier run's worker still does is no longer reported, and a hold on
  // completion left by an earlier run does not stop this one.
  ++m_nRun;
  m_nCurrentIssue = 0;
  m_bComplete = false;
  m_bDashraPresent = false;
  m_bHoldCompletion = false;
}

bool CDiagnosticMgr::IsSkipped(const _DeviceDetails& device, int index) {
  return !Applies(m_table, index, device,
                  [&] { return CUtil(m_platform).HasScanButton(device.strDriverKey); });
}

void CDiagnosticMgr::Watch(std::uintptr_t thread) {
  CUtil(m_platform).StartWatcher(m_threads.Find(thread), m_threads);
}

void CDiagnosticMgr::FailUnexpectedly(int index, const char* what) {
  KVD_SCOPE(L"CDiagnosticMgr::FailUnexpectedly");
  KVD_LOG(kind::Error, L"The check %s failed unexpectedly: %S",
          m_table[static_cast<std::size_t>(index)].nameKey, what);
  CKVDIssue* check = Issue(index);
  check->m_nStatus = issue::kStatusFailed;
  check->m_strMessage = GlobalLag.GetString(L"PROBLEM_FOUND");
  check->m_nErrorCode = 0;
  // The user can skip it, start again or leave.
  check->m_nButtons = button::Navigation | button::Skip;
}

void CDiagnosticMgr::Diagnose(int device) {
  KVD_SCOPE(L"CDiagnosticMgr::Diagnose");
  if (m_bClosing) return;
  _DeviceDetails record;
  try {
    record = DeviceAt(device);
  } catch (const std::exception& e) {
    // The page passes only its selected device; a wrong one fails the check the run is at.
    const int index = m_nCurrentIssue;
    FailUnexpectedly(index <= kLastIssue ? index : kLastIssue, e.what());
    m_nLastResult = kUnexpectedFailure;
    UpdateUI();
    return;
  }
  m_nSelectedDevice = device;
  for (int i = m_nCurrentIssue; i <= kLastIssue; ++i) {
    m_nCurrentIssue = i;
    if (IsSkipped(record, i)) continue;
    Send(msg::CheckStarts, 0, i);
    if (i == kDriver && m_pProgressDlg != nullptr && !m_bProgressShown) {
      m_hProgressWnd = m_pProgressDlg->Show();
      m_bProgressShown = true;
    }
    const std::uint64_t run = m_nRun.load();
    const bool watched = IsWatched(m_table, i);
    // A signal left over from before (another watched check signalling twice, the device page)
    // would release this check's watchdog at once and leave the check unwatched. A watchdog of
    // an earlier check that still waits loses nothing by it: it also ends when its check does.
    if (watched && g_hListenEvent.load() != 0) m_platform.sync.ResetEvent(g_hListenEvent.load());
    const CThreadGroup::Thread worker =
        m_threads.Start(L"ThreadProc", [this, run, i] { ThreadProc(run, i); });
    m_bNotResponding = false;
    if (watched) {
      CUtil(m_platform).StartWatcher(worker, m_threads);
      m_hWatchedThread = worker.Id();
    }
    return;
  }
  // Nothing left to start: the run ends here. Without the hold only; with it, the hold's owner
  // or the user's Skip completes it.
  if (m_nCurrentIssue >= kLastIssue && !m_bHoldCompletion) {
    m_bComplete = true;
    Send(msg::Complete, 0, 0);
  }
}

void CDiagnosticMgr::ThreadProc(std::uint64_t run, int index) {
  KVD_SCOPE(L"CDiagnosticMgr::ThreadProc");
  if (m_bClosing) return;
  Send(msg::WorkerStarted, 0, 0);
  int result = kUnexpectedFailure;
  try {
    const _DeviceDetails record = DeviceAt(m_nSelectedDevice);
    result = Issue(index)->Diagnose(record);
  } catch (const std::exception& e) {
    FailUnexpectedly(index, e.what());
  } catch (...) {
    FailUnexpectedly(index, "an exception of unknown type");
  }
  if (m_bClosing) {
    KVD_LOG(kind::Debug, L"The program ends: the check's result is not reported.");
    return;
  }
  if (run != m_nRun.load()) {
    KVD_LOG(kind::Debug, L"A check of an earlier run ended; its result is not reported.");
    return;
  }
  m_nLastResult = result;
  if (UpdateUI()) return;
  if (m_nCurrentIssue == kLastIssue) m_bHoldCompletion = false;
  if (m_nCurrentIssue >= kLastIssue) {
    m_bComplete = true;
    Send(msg::Complete, 0, 0);
  } else {
    ++m_nCurrentIssue;
    m_platform.messages.PostMessage(m_hWnd.load(), msg::Continue, 0, 0);
  }
}

bool CDiagnosticMgr::UpdateUI() {
  KVD_SCOPE(L"CDiagnosticMgr::UpdateUI");
  const int result = m_nLastResult;
  Send(msg::Result, result == issue::kPassed ? 0 : static_cast<std::uintptr_t>(result),
       m_nCurrentIssue);
  return result != issue::kPassed;
}

bool CDiagnosticMgr::MoveNext() {
  KVD_SCOPE(L"CDiagnosticMgr::MoveNext");
  // Moving on (a Skip, or after a fix) releases a hold at any index: a hold left at a check
  // below 12 would otherwise keep a family whose last check is below 12 from ever completing.
  m_bHoldCompletion = false;
  if (m_nCurrentIssue < kLastIssue) {
    ++m_nCurrentIssue;
    return true;
  }
  m_bComplete = true;
  Send(msg::Complete, 0, 0);
  return false;
}

bool CDiagnosticMgr::Fix(int device) {
  KVD_SCOPE(L"CDiagnosticMgr::Fix");
  KVD_LOG(kind::Debug, L"Fixes the issue.");
  if (device < 0) {
    KVD_LOG(kind::Debug, L"Invalid index found.");
    return false;
  }
  const int index = m_nCurrentIssue;
  if (index >= kCheckCount) {
    KVD_LOG(kind::Debug, L"Current index is greater than than the total issues.");
    return false;
  }
  int result = kUnexpectedFailure;
  try {
    const _DeviceDetails record = DeviceAt(device);
    result = Issue(index)->Fix(record, m_nLastResult);
  } catch (const std::exception& e) {
    FailUnexpectedly(index, e.what());
  } catch (...) {
    FailUnexpectedly(index, "an exception of unknown type");
  }
  if (result == issue::kFixed || result == issue::kFixedToo) {
    Send(msg::Result, msg::kFixSucceeded, index);
    MoveNext();
    return true;
  }
  if (result != issue::kNotFixed) KVD_LOG(kind::Debug, L"Failed to fix the Issue.");
  Send(msg::Result, msg::kFixFailed, index);
  return false;
}

bool CDiagnosticMgr::AllIssuesPassed() {
  KVD_SCOPE(L"CDiagnosticMgr::AllIssuesPassed");
  const kvd::platform::WindowHandle window = m_hWnd;
  // Only the checks this run applied count: a status left by a run of another device or family
  // says nothing about this one.
  const _DeviceDetails* device = nullptr;
  const int selected = m_nSelectedDevice;
  if (selected >= 0 && static_cast<std::size_t>(selected) < m_arrDevices.size()) {
    device = &m_arrDevices[static_cast<std::size_t>(selected)];
  }
  bool passed = true;
  for (int index = 0; index <= kLastIssue; ++index) {
    CKVDIssue* check = Issue(index);
    check->SetHandle(window);
    if (device != nullptr && IsSkipped(*device, index)) continue;
    if (check->m_nStatus == issue::kStatusFailed || check->m_nStatus == issue::kStatusWarning) {
      passed = false;
      break;
    }
  }
  return passed;
}

namespace {
// The family questions of the pages: a device index outside the array is logged and answers
// false, where an exception would unwind through the page's window procedure.
template <class Flag>
bool AskFamily(const std::vector<_DeviceDetails>& devices, int device, Flag flag) {
  KVD_SCOPE(L"CDiagnosticMgr::AskFamily");
  if (devices.empty()) return false;
  if (device < 0 || static_cast<std::size_t>(device) >= devices.size()) {
    KVD_LOG(kind::Error, L"No device %d: the list has %u.", device,
            static_cast<std::uint32_t>(devices.size()));
    return false;
  }
  return flag(devices[static_cast<std::size_t>(device)]);
}
}  // namespace

bool CDiagnosticMgr::IsTarvel(int device) const {
  return AskFamily(m_arrDevices, device, [](const _DeviceDetails& d) { return d.bTarvel; });
}

bool CDiagnosticMgr::IsOstrel(int device) const {
  return AskFamily(m_arrDevices, device, [](const _DeviceDetails& d) { return d.bOstrel; });
}

bool CDiagnosticMgr::IsLumeq(int device) const {
  return AskFamily(m_arrDevices, device, [](const _DeviceDetails& d) { return d.bLumeq; });
}

bool CDiagnosticMgr::RefreshDrivers(const _DeviceDetails& device, int& errorCode) {
  kvd::repair::RefreshHost host;
  host.showInstructions = m_showInstructions;
  host.owner = m_hWnd.load();
  host.stopEvent = m_threads.StopEvent();
  return kvd::repair::RefreshDrivers(m_platform, device, host, errorCode);
}

void CDiagnosticMgr::RunCurrentAgain() {
  int current = m_nCurrentIssue.load();
  while (current > 0 && !m_nCurrentIssue.compare_exchange_weak(current, current - 1)) {
  }
}

void CDiagnosticMgr::SetProgress(int percent) {
  KVD_SCOPE(L"CDiagnosticMgr::SetProgress");
  if (m_pProgressDlg == nullptr || !m_bProgressShown) return;
  m_pProgressDlg->SetPosition(percent);
  if (percent >= 100) {
    m_pProgressDlg->Close();
    m_bProgressShown = false;
    m_hProgressWnd = 0;
  }
}
