#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

// The progress window the Driver check shows while it scans; supplied by the user interface.
class IProgressDialog {
 public:
  virtual ~IProgressDialog() = default;
  // Creates and shows the modeless dialog; its window handle.
  virtual kvd::platform::WindowHandle Show() = 0;
  // PBM_SETPOS on the dialog's progress control.
  virtual void SetPosition(int percent) = 0;
  // Destroys the window.
  virtual void Close() = 0;
};

// The one engine object: owns the device list and the thirteen checks and drives a run for the
// selected device, reporting every step to the diagnosis page through window messages.
//
// The fields shared by the UI thread, the workers, the fix thread and the watchdog are atomics:
// the run's order (page timer, Diagnose, worker, message) already keeps them consistent, and
// atomics make each single read and write well defined where that order leaves two threads
// touching one field (a hung worker that the user left behind).
class CDiagnosticMgr {
 public:
  using IssueFactory = std::function<std::unique_ptr<CKVDIssue>(int index)>;
  using Enumerator = std::function<void(std::vector<_DeviceDetails>& devices)>;

  explicit CDiagnosticMgr(kvd::platform::Platform& platform);
  ~CDiagnosticMgr();
  CDiagnosticMgr(const CDiagnosticMgr&) = delete;
  CDiagnosticMgr& operator=(const CDiagnosticMgr&) = delete;

  // What Init uses to make the checks and to list the devices; the defaults are the checks of
  // this version and CScanners::EnumerateScanners.
  void SetIssueFactory(IssueFactory factory) { m_issueFactory = std::move(factory); }
  void SetEnumerator(Enumerator enumerator) { m_enumerator = std::move(enumerator); }
  void SetProgressDialog(IProgressDialog* dialog) { m_pProgressDlg = dialog; }

  void Init();
  void SetHandle(kvd::platform::WindowHandle window);
  // Starts a run from the first check (what the page does before arming its first timer).
  void StartRun();
  void Diagnose(int device);
  bool Fix(int device);
  bool UpdateUI();
  bool MoveNext();
  bool AllIssuesPassed();
  bool IsTarvel(int device) const;
  bool IsOstrel(int device) const;
  bool IsLumeq(int device) const;
  void SetProgress(int percent);

  // Whether the family rule excludes check `index` for a device.
  bool IsSkipped(const _DeviceDetails& device, int index);

  // Waits until every thread this manager started has ended (tests, orderly exit).
  void JoinThreads();

  CKVDIssue* Issue(int index) const {
    return m_issues[static_cast<std::size_t>(index)].issue.get();
  }
  const std::vector<_DeviceDetails>& Devices() const { return m_arrDevices; }
  std::vector<_DeviceDetails>& MutableDevices() { return m_arrDevices; }

  kvd::platform::WindowHandle m_hProgressWnd = 0;
  std::atomic<std::uintptr_t> m_hWatchedThread{0};
  std::atomic<int> m_nSelectedDevice{0};
  std::atomic<int> m_nLastResult{0};
  std::atomic<int> m_nCurrentIssue{0};
  std::atomic<bool> m_bNotResponding{false};
  std::atomic<kvd::platform::WindowHandle> m_hWnd{0};
  std::atomic<bool> m_bHoldCompletion{false};
  std::atomic<bool> m_bComplete{false};
  std::atomic<bool> m_bDashraPresent{false};

 private:
  struct IssueEntry {
    int id = 0;
    std::unique_ptr<CKVDIssue> issue;
  };

  void EnumerateScanners();
  void ThreadProc(std::uint64_t run);
  void Start(std::function<void()> body);
  const _DeviceDetails& DeviceAt(int device) const;
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  kvd::platform::Platform& m_platform;
  IssueFactory m_issueFactory;
  Enumerator m_enumerator;
  IProgressDialog* m_pProgressDlg = nullptr;
  bool m_bProgressShown = false;
  std::vector<_DeviceDetails> m_arrDevices;
  std::array<IssueEntry, 13> m_issues;
  // Which run a worker belongs to: a worker left behind by a hang reports into nothing newer.
  std::atomic<std::uint64_t> m_nRun{0};
  std::mutex m_threadsLock;
  std::vector<std::thread> m_threads;
  std::atomic<std::uintptr_t> m_nextThreadId{1};
};
