#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/CheckTable.h"
#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"
#include "system/Threads.h"
#include "ui/ProgressDialog.h"

// The one engine object: owns the device list, the thirteen checks and every thread it starts
// (enumeration, workers, watchdogs), and drives a run for the selected device, reporting every
// step to the diagnosis page through window messages.
//
// The fields shared by the UI thread, the workers, the fix thread and the watchdog are atomics:
// the run's order (page timer, Diagnose, worker, message) already keeps them consistent, and
// atomics make each single read and write well defined where that order leaves two threads
// touching one field (a hung worker that the user left behind).
//
// The calls the pages make (Diagnose, Fix, the family questions) and every thread entry are
// exception boundaries: an exception in a check or in the device lookup becomes a failed check,
// never an exception into a window procedure.
//
// At exit the owner calls Shutdown: no thread reports anything from then on, waits end, and the
// threads get a bounded time to end. When some hang, the owner must not destroy the manager
// (its threads still use it): it abandons it and ends the process.
class CDiagnosticMgr {
 public:
  using Enumerator = std::function<void(std::vector<_DeviceDetails>& devices)>;

  // What Diagnose returns for a check that ended in an exception: no check's own code.
  static constexpr int kUnexpectedFailure = 999;
  // How long Shutdown gives the threads by default.
  static constexpr std::uint32_t kExitGraceMs = 2000;

  CDiagnosticMgr(kvd::platform::Platform& platform, CheckTable checks);
  ~CDiagnosticMgr();
  CDiagnosticMgr(const CDiagnosticMgr&) = delete;
  CDiagnosticMgr& operator=(const CDiagnosticMgr&) = delete;

  // What Init uses to list the devices; the default is CScanners::EnumerateScanners.
  void SetEnumerator(Enumerator enumerator) { m_enumerator = std::move(enumerator); }
  void SetProgressDialog(IProgressDialog* dialog) { m_pProgressDlg = dialog; }
  // Shows the instruction dialog modally over the page and returns when it is closed: the user
  // interface hands it in, and the driver refresh shows it first.
  void SetInstructions(std::function<void()> show) { m_showInstructions = std::move(show); }

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
  // The driver refresh of a device (repair/DriverRefresh): the instruction dialog, the helper's
  // window owned by the page, its wait ended at the program's exit. On the caller's thread.
  bool RefreshDrivers(const _DeviceDetails& device, int& errorCode);
  // Steps the run back by one check, so that the move on after a successful fix lands on the
  // check that was fixed and runs it again.
  void RunCurrentAgain();

  // Whether the family rule excludes check `index` for a device.
  bool IsSkipped(const _DeviceDetails& device, int index);
  // A thread of the pages (the fix thread) that this manager owns with its own: an exception
  // boundary, reaped when it ended, abandoned at exit when it hangs.
  void StartThread(const wchar_t* name, std::function<void()> body) {
    static_cast<void>(m_threads.Start(name, std::move(body)));
  }
  // Hands a worker to the watchdog (the TWAIN check watches its worker a second time).
  void Watch(std::uintptr_t thread);

  // The exit: nothing is reported any more, the threads' waits end, and they get up to
  // `graceMs` to end. True when all have; false when some still run (see the class comment).
  bool Shutdown(std::uint32_t graceMs = kExitGraceMs);
  // Waits until every thread this manager started has ended, however long: tests only.
  void JoinThreads() { m_threads.JoinAll(); }
  std::size_t RunningThreads() const { return m_threads.Running(); }
  std::size_t HeldThreads() const { return m_threads.Held(); }

  const CheckTable& Checks() const { return m_table; }
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
  void ThreadProc(std::uint64_t run, int index);
  // Makes check `index` a failed check after an exception (status 2, navigation and Skip).
  void FailUnexpectedly(int index, const char* what);
  const _DeviceDetails& DeviceAt(int device) const;
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  kvd::platform::Platform& m_platform;
  CheckTable m_table;
  Enumerator m_enumerator;
  IProgressDialog* m_pProgressDlg = nullptr;
  std::function<void()> m_showInstructions;
  bool m_bProgressShown = false;
  std::vector<_DeviceDetails> m_arrDevices;
  std::array<IssueEntry, kCheckCount> m_issues;
  // Which run a worker belongs to: a worker left behind by a hang reports into nothing newer.
  std::atomic<std::uint64_t> m_nRun{0};
  // Set by Shutdown: the program ends, and no thread reports to a page any more.
  std::atomic<bool> m_bClosing{false};
  // Last, so that it goes first: its destructor ends the threads that use everything above.
  CThreadGroup m_threads;
};
