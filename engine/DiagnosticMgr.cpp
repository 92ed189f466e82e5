#include "engine/DiagnosticMgr.h"

#include <stdexcept>

#include "discovery/Scanners.h"
#include "engine/PlaceholderIssue.h"
#include "issues/KVDConnectionIssue.h"
#include "logging/Trace.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace {

namespace kind = DUDiduzuz::kind;

constexpr int kLastIssue = 12;
constexpr std::uint32_t kEnumerationWaitMs = 20000;

constexpr int kConnection = 0;
constexpr int kDriver = 2;
constexpr int kWindowsScan = 3;
constexpr int kTwain = 5;
constexpr int kFrontPanel = 12;

bool OneOf(int index, std::initializer_list<int> set) {
  for (const int i : set) {
    if (i == index) return true;
  }
  return false;
}

}  // namespace

CDiagnosticMgr::CDiagnosticMgr(kvd::platform::Platform& platform) : m_platform(platform) {
  KVD_SCOPE(L"CDiagnosticMgr::CDiagnosticMgr");
  m_issueFactory = [this](int index) -> std::unique_ptr<CKVDIssue> {
    if (index == kConnection) return std::make_unique<CKVDConnectionIssue>(m_platform);
    return std::make_unique<CKVDPlaceholderIssue>(kIssueNameKeys[index]);
  };
}

CDiagnosticMgr::~CDiagnosticMgr() {
  KVD_SCOPE(L"CDiagnosticMgr::~CDiagnosticMgr");
  // The checks and the device array are used by the workers: they go only after them.
  JoinThreads();
  const kvd::platform::SyncHandle event = g_hListenEvent.exchange(0);
  if (event != 0) m_platform.sync.CloseHandle(event);
}

void CDiagnosticMgr::JoinThreads() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_threadsLock);
    threads.swap(m_threads);
  }
  for (auto& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

void CDiagnosticMgr::Start(std::function<void()> body) {
  std::lock_guard<std::mutex> lock(m_threadsLock);
  m_threads.emplace_back(std::move(body));
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
  for (int index = 0; index <= kLastIssue; ++index) {
    m_issues[static_cast<std::size_t>(index)] = {index + 1, m_issueFactory(index)};
  }
  Start([this] { EnumerateScanners(); });
}

void CDiagnosticMgr::EnumerateScanners() {
  KVD_SCOPE(L"CDiagnosticMgr::EnumerateScanners");
  if (m_enumerator) {
    m_enumerator(m_arrDevices);
  } else {
    CScanners(m_platform).EnumerateScanners(m_arrDevices);
  }
  const kvd::platform::SyncHandle event = g_hListenEvent.load();
  if (event == 0 || m_platform.sync.WaitForSingleObject(event, kEnumerationWaitMs) !=
                        kvd::platform::wait::Object0) {
    KVD_LOG(kind::Error, L"TIMEOUT: Enumerate Scanners may not update scaners list");
  } else {
    KVD_LOG(kind::Debug, L"EnumerateScanners update scaners list at handle: %d",
            static_cast<std::int64_t>(m_hWnd.load()));
    Send(msg::DevicesReady, 0, 0);
  }
  if (event != 0) m_platform.sync.ResetEvent(event);
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
  bool skip = false;
  if (device.bTarvel && OneOf(index, {4, 8, 9, 10, 11})) skip = true;
  if (device.bLumeq && OneOf(index, {2, 4, 6, 7, 8, 9, 12})) skip = true;
  if (device.bOstrel && OneOf(index, {2, 4, 7, 8, 10, 11, 12})) skip = true;
  if (!device.bOstrel && index == 9) skip = true;
  if (!device.bLumeq && (index == 10 || index == 11)) skip = true;
  if (!device.bTarvel && !device.bOstrel && !device.bLumeq && index == kFrontPanel &&
      !CUtil(m_platform).HasScanButton(device.strDriverKey)) {
    skip = true;
  }
  return skip;
}

void CDiagnosticMgr::Diagnose(int device) {
  KVD_SCOPE(L"CDiagnosticMgr::Diagnose");
  const _DeviceDetails record = DeviceAt(device);
  m_nSelectedDevice = device;
  for (int i = m_nCurrentIssue; i <= kLastIssue; ++i) {
    m_nCurrentIssue = i;
    if (IsSkipped(record, i)) continue;
    Send(msg::CheckStarts, 0, i);
    if (i == kDriver && m_pProgressDlg != nullptr && !m_bProgressShown) {
      m_hProgressWnd = m_pProgressDlg->Show();
      m_bProgressShown = true;
    }
    const std::uintptr_t thread = m_nextThreadId++;
    const std::uint64_t run = m_nRun.load();
    const bool watched = i == kDriver || i == kWindowsScan || i == kTwain;
    // A signal left over from before (another watched check signalling twice, the device page)
    // would release this check's watchdog at once and leave the check unwatched.
    if (watched && g_hListenEvent.load() != 0) m_platform.sync.ResetEvent(g_hListenEvent.load());
    Start([this, run] { ThreadProc(run); });
    m_bNotResponding = false;
    if (watched) {
      CUtil(m_platform).StartWatcher(thread);
      m_hWatchedThread = thread;
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

void CDiagnosticMgr::ThreadProc(std::uint64_t run) {
  KVD_SCOPE(L"CDiagnosticMgr::ThreadProc");
  Send(msg::WorkerStarted, 0, 0);
  const int index = m_nCurrentIssue;
  const _DeviceDetails record = DeviceAt(m_nSelectedDevice);
  const int result = Issue(index)->Diagnose(record);
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
  const _DeviceDetails record = DeviceAt(device);
  const int index = m_nCurrentIssue;
  if (index >= 13) {
    KVD_LOG(kind::Debug, L"Current index is greater than than the total issues.");
    return false;
  }
  const int result = Issue(index)->Fix(record, m_nLastResult);
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

bool CDiagnosticMgr::IsTarvel(int device) const {
  return !m_arrDevices.empty() && DeviceAt(device).bTarvel;
}

bool CDiagnosticMgr::IsOstrel(int device) const {
  return !m_arrDevices.empty() && DeviceAt(device).bOstrel;
}

bool CDiagnosticMgr::IsLumeq(int device) const {
  return !m_arrDevices.empty() && DeviceAt(device).bLumeq;
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
