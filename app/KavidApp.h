// app/: the application object (CKavidApp), the program's entry point and its wiring.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/CheckTable.h"
#include "engine/DiagnosticMgr.h"
#include "platform/api/Platform.h"
#include "ui/Dialog.h"
#include "ui/StartupUi.h"

// The single application object. Its constructor configures the trace log before anything else
// of the program runs; InitInstance passes the gates and creates the diagnostic manager.
class CKavidApp {
 public:
  explicit CKavidApp(kvd::platform::Platform& platform);
  ~CKavidApp();
  CKavidApp(const CKavidApp&) = delete;
  CKavidApp& operator=(const CKavidApp&) = delete;

  // The Windows-only start-up work (common controls, banner, rich edit); none in tests that do
  // not need it.
  void SetStartupUi(IStartupUi* ui) { m_pStartupUi = ui; }
  // Where the windows come from; without one, start-up ends before the host window (tests of
  // start-up alone).
  void SetUi(kvd::ui::IUiToolkit* ui) { m_pUi = ui; }
  kvd::ui::IUiToolkit* Ui() const { return m_pUi; }
  // The checks the manager is made with; the program's own table unless a test sets another.
  void SetCheckTable(CheckTable table) { m_checks = std::move(table); }
  kvd::platform::Platform& Ports() const { return m_platform; }

  // Start-up after construction. Returns false in every case: the program runs inside it.
  bool InitInstance();
  // The end: the manager's threads are stopped and given a bounded time, the single-instance
  // mutex is released. When a thread does not end (a check hung in a device's component), the
  // manager is abandoned with everything it holds and the process ends here at once.
  int ExitInstance();

  const std::wstring& ExecutableName() const { return m_strExeName; }
  const std::wstring& LogFilePath() const { return m_strLogFile; }

  // Whether this program asked for the reboot that started it.
  bool IsRestartPending() const;
  // Whether another instance holds the single-instance mutex.
  bool AnotherInstanceRuns() const;

  // The five page fonts; 0 where one could not be made.
  kvd::platform::FontHandle m_hListFont = 0;
  kvd::platform::FontHandle m_hTitleFont = 0;
  kvd::platform::FontHandle m_hTextFont = 0;
  kvd::platform::FontHandle m_hButtonFont = 0;
  kvd::platform::FontHandle m_hIssueListFont = 0;

  int m_nDeviceIndex = -1;
  std::uint16_t m_LangID = 0;
  std::uint16_t m_SelectedLangID = 1033;
  kvd::platform::SyncHandle m_hMutex = 0;
  bool m_bBanner = false;
  std::unique_ptr<CDiagnosticMgr> m_pDiagMgr;
  // A diagnosis step or a fix runs: the host refuses to close and its Close command is grey.
  bool m_bBusy = false;
  // The host window's system menu, whose Close command the pages grey and enable.
  kvd::ui::MenuHandle m_pSysMenu = 0;
  // m_bBusy and the Close command of the system menu in one move: grey while busy.
  void SetBusy(bool busy) {
    m_bBusy = busy;
    if (m_pUi != nullptr) {
      m_pUi->EnableMenuItem(m_pSysMenu, kvd::ui::ScClose,
                            busy ? kvd::ui::MfDisabled | kvd::ui::MfGrayed : kvd::ui::MfEnabled);
    }
  }
  // The no-device message is shown at most once per run.
  bool m_bNoScannerShown = false;
  // The enumeration has reported the device list (message 1032): before it, the manager's
  // array may still grow, and no page may read it.
  bool m_bDeviceListArrived = false;
  // The tester's menu simulates a device of that family (set around one command).
  bool m_bSimOstrel = false;
  bool m_bSimTarvel = false;
  bool m_bSimLumeq = false;
  // The hub-application check found its destination patch missing: the next Patch opens it.
  std::atomic<bool> m_bDestPatchNeeded{false};  // written by the Dashra check's worker
  // The scanning applications the QV Scan and ScanTo checks looked for (found or not), which
  // the test scan starts. Written by the checks' workers, read once a run has stopped.
  std::wstring QvScanPath() const {
    std::lock_guard lock(m_pathsMutex);
    return m_strQvScanPath;
  }
  std::wstring ScanToPath() const {
    std::lock_guard lock(m_pathsMutex);
    return m_strScanToPath;
  }
  // The main window (the host) while it runs.
  kvd::ui::CDialog* m_pMainWnd = nullptr;
  // The host's result when it closed; -2 while it never ran.
  int m_nHostResult = -2;
  // The threads start-up started before the manager existed (tests join them after a hang).
  CThreadGroup* StartupThreads() const { return m_pStartupThreads.get(); }

 private:
  // The program's services to its checks (the device count, the scan's progress window).
  CheckServices Services();
  mutable std::mutex m_pathsMutex;
  std::wstring m_strQvScanPath;
  std::wstring m_strScanToPath;
  // Ends the manager's threads; false when some are left running.
  bool EndThreads();
  // Calibri when that family is installed, else Microsoft Sans Serif.
  void CreatePageFonts();

  kvd::platform::Platform& m_platform;
  IStartupUi* m_pStartupUi = nullptr;
  kvd::ui::IUiToolkit* m_pUi = nullptr;
  std::optional<CheckTable> m_checks;
  bool m_bThreadsEnded = false;
  bool m_bThreadsLeft = false;
  // The manager's own threads were left running: it cannot be freed under them.
  bool m_bManagerThreadsLeft = false;
  // The threads start-up starts before the manager exists (the device-tree rescan).
  std::unique_ptr<CThreadGroup> m_pStartupThreads;
  std::wstring m_strExeName;
  std::wstring m_strLogFile;
};
