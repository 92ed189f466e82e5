#include "app/KavidApp.h"

#include "app/CheckTable.h"
#include "logging/Trace.h"
#include "logging/TraceSetup.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "repair/DriverRefresh.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "ui/InstructionDlg.h"
#include "ui/KVDParent.h"
#include "ui/TwainSourceDlg.h"
#include "ui/WiaProgressDlg.h"

KVD_TRACE_SOURCE();

using namespace kvd::platform;

CKavidApp::CKavidApp(Platform& platform) : m_platform(platform) {
  // No trace record until the configuration below is written: the trace log reads its settings
  // at its first record, and a record before them would leave it without a file for a whole
  // poll interval.
  const DUDiduzuz::TraceTarget trace =
      DUDiduzuz::ConfigureTrace(m_platform, DUDiduzuz::kProgramLog);
  m_strExeName = trace.exeName;
  m_strLogFile = trace.logFile;

  // After a restart the previous log is kept and continued. A second start, which the
  // single-instance gate ends a moment later, must not take the running instance's log away.
  // Asked only now: the questions are traced, and their records need the configuration above.
  FileAttributeData attributes;
  if (!IsRestartPending() && !AnotherInstanceRuns()) {
    // The device-manager helper's log goes with it: one run, one pair of logs.
    const std::wstring helperLog = PathRemoveFileSpec(m_strLogFile) + L"\\" + DUDiduzuz::kHelperLog;
    for (const std::wstring& log : {m_strLogFile, helperLog}) {
      if (m_platform.files.GetFileAttributesEx(log.c_str(), &attributes)) {
        m_platform.files.DeleteFile(log.c_str());
      }
    }
  }

  KVD_SCOPE(L"CKavidApp::CKavidApp");
  KVD_LOG(DUDiduzuz::kind::Info, L"Trace log : %s", m_strLogFile);
  CreatePageFonts();
}

void CKavidApp::CreatePageFonts() {
  KVD_SCOPE(L"CKavidApp::CreatePageFonts");
  IGdi& gdi = m_platform.gdi;
  const bool calibri = gdi.EnumFontFamiliesEx(L"Calibri", font::DefaultCharset) > 0;
  struct PageFont {
    FontHandle* font;
    int calibriHeight;
    int sansSerifHeight;
    int weight;
  };
  const PageFont fonts[] = {
      {&m_hListFont, 21, 19, font::FwMedium},        // the device list
      {&m_hTitleFont, 18, 16, font::FwBold},         // page and dialog titles
      {&m_hTextFont, 18, 16, font::FwMedium},        // prompts, status lines, results, links
      {&m_hButtonFont, 18, 16, font::FwNormal},      // push buttons
      {&m_hIssueListFont, 18, 16, font::FwNormal}};  // the diagnosis page's issue list
  for (const PageFont& page : fonts) {
    FontSpec spec;
    spec.height = calibri ? page.calibriHeight : page.sansSerifHeight;
    spec.weight = page.weight;
    spec.charSet = font::AnsiCharset;
    spec.outPrecision = font::OutDefaultPrecis;
    spec.clipPrecision = font::ClipDefaultPrecis;
    spec.quality = font::DefaultQuality;
    spec.pitchAndFamily = font::FfSwiss;
    spec.faceName = calibri ? L"Calibri" : L"Microsoft Sans Serif";
    *page.font = gdi.CreateFont(spec);
    // The controls then keep the system's font: the pages still work.
    if (*page.font == 0)
      KVD_LOG(DUDiduzuz::kind::Debug, L"Failed to create the font %s %d", spec.faceName,
              spec.height);
  }
}

namespace {
constexpr int kBannerResource = 147;
// The line under the operating system's name in the log.
constexpr const wchar_t* kRule =
    L"----------------------------------------------------------------------------";
}  // namespace

CKavidApp::~CKavidApp() {
  KVD_SCOPE(L"CKavidApp::~CKavidApp");
  EndThreads();
  if (!m_bManagerThreadsLeft) {
    m_pDiagMgr.reset();
  } else {
    // Its threads still use it: freed, it would be pulled from under them.
    KVD_LOG(DUDiduzuz::kind::Error, L"The diagnostic manager is left to the process's end.");
    static_cast<void>(m_pDiagMgr.release());
  }
  for (FontHandle* font :
       {&m_hListFont, &m_hTitleFont, &m_hTextFont, &m_hButtonFont, &m_hIssueListFont}) {
    if (*font != 0) m_platform.gdi.DeleteObject(*font);
    *font = 0;
  }
}

bool CKavidApp::EndThreads() {
  KVD_SCOPE(L"CKavidApp::EndThreads");
  if (m_bThreadsEnded) return !m_bThreadsLeft;
  m_bThreadsEnded = true;
  m_bManagerThreadsLeft = m_pDiagMgr && !m_pDiagMgr->Shutdown();
  bool ended = !m_bManagerThreadsLeft;
  if (m_pStartupThreads) {
    m_pStartupThreads->RequestStop();
    if (m_pStartupThreads->WaitForAll(CDiagnosticMgr::kExitGraceMs) != 0) {
      KVD_LOG(DUDiduzuz::kind::Error, L"The device-tree rescan still runs at exit: left behind.");
      static_cast<void>(m_pStartupThreads.release());
      ended = false;
    }
  }
  m_bThreadsLeft = !ended;
  return ended;
}

CheckServices CKavidApp::Services() {
  CheckServices services;
  // Read on the checks' worker threads while a run goes on, when the list no longer changes.
  services.deviceCount = [this]() -> std::size_t {
    return m_pDiagMgr ? m_pDiagMgr->Devices().size() : 1;
  };
  services.scanProgress = [this](WindowHandle owner) -> std::unique_ptr<IProgressDialog> {
    if (m_pUi == nullptr) return nullptr;
    return std::make_unique<CWiaProgress>(*m_pUi, m_platform, owner);
  };
  services.refreshDrivers = [this](const DeviceDetails& device, int& errorCode) {
    return m_pDiagMgr != nullptr && m_pDiagMgr->RefreshDrivers(device, errorCode);
  };
  services.runAgain = [this] {
    if (m_pDiagMgr != nullptr) m_pDiagMgr->RunCurrentAgain();
  };
  const auto passed = [this](int check) {
    const CKVDIssue* issue = m_pDiagMgr ? m_pDiagMgr->Issue(check) : nullptr;
    return issue != nullptr && issue->m_nStatus == issue::kStatusPassed;
  };
  services.wiaPassed = [passed] { return passed(kWindowsScanCheck); };
  services.twainPassed = [passed] { return passed(kTwainCheck); };
  services.dashraPresent = [this] { return m_pDiagMgr != nullptr && m_pDiagMgr->m_bDashraPresent; };
  services.setDashraPresent = [this](bool present) {
    if (m_pDiagMgr != nullptr) m_pDiagMgr->m_bDashraPresent = present;
  };
  services.destPatchNeeded = [this](bool needed) { m_bDestPatchNeeded = needed; };
  services.simulatingTarvel = [this] { return m_bSimTarvel; };
  services.qvScanPath = [this](const std::wstring& path) {
    std::lock_guard lock(m_pathsMutex);
    m_strQvScanPath = path;
  };
  services.scanToPath = [this](const std::wstring& path) {
    std::lock_guard lock(m_pathsMutex);
    m_strScanToPath = path;
  };
  services.holdCompletion = [this](bool hold) {
    if (m_pDiagMgr != nullptr) m_pDiagMgr->m_bHoldCompletion = hold;
  };
  auto& twain = services.twain;
  twain.wiaPassed = [passed] { return passed(kWindowsScanCheck); };
  twain.simulatingOstrel = [this] { return m_bSimOstrel; };
  twain.watchAgain = [this] {
    if (m_pDiagMgr != nullptr) m_pDiagMgr->Watch(m_pDiagMgr->m_hWatchedThread.load());
  };
  twain.forgetWatched = [this] {
    if (m_pDiagMgr != nullptr) m_pDiagMgr->m_hWatchedThread = 0;
  };
  // On the check's worker thread, which owns the dialog's owner window.
  twain.chooseSource = [this](const std::vector<std::wstring>& names,
                              WindowHandle owner) -> std::optional<std::size_t> {
    if (m_pUi == nullptr) return std::nullopt;
    CTwainSourceSelectionDialog dialog(*m_pUi, names);
    m_pUi->DoModal(dialog, owner);
    return dialog.Selected();
  };
  return services;
}

bool CKavidApp::InitInstance() {
  KVD_SCOPE(L"CKavidApp::InitInstance");
  if (m_pStartupUi != nullptr) m_pStartupUi->InitCommonControls();

  // The texts of the system's language; without them every lookup yields empty text.
  GlobalLag.Bind(m_platform);
  GlobalLag.SetApplicationLanguage(&m_LangID);
  m_LangID = GetDefaultLanguage(m_platform.system);
  GlobalLag.m_LangID = m_LangID;
  if (!GlobalLag.LoadStrings()) KVD_LOG(DUDiduzuz::kind::Error, L"GlobalLag.Load() failed");

  // One instance: creating the mutex and asking whether it existed is one step, where opening
  // first and creating afterwards would let two starts both pass.
  auto& sync = m_platform.sync;
  auto& shell = m_platform.shell;
  const SyncHandle mutex = sync.CreateMutex(true, L"KVD_MUTEX");
  if (mutex != 0 && m_platform.errors.GetLastError() == err::AlreadyExists) {
    sync.CloseHandle(mutex);
    shell.MessageBox(0, GlobalLag.GetString(L"APP_RUNNING").c_str(),
                     GlobalLag.GetString(L"TITLE").c_str(), mb::Ok);
    return false;
  }
  m_hMutex = mutex;

  CUtil util(m_platform);
  KVD_LOG(DUDiduzuz::kind::Info, L"QV KVD Log File \r\n\r\n");
  std::wstring os;
  util.GetOSName(os);
  KVD_LOG(DUDiduzuz::kind::Info, L"OS Version : %s \r\n%s", os, kRule);

  if (!util.IsOSSupported()) {
    KVD_LOG(DUDiduzuz::kind::Info, L"Doesn't have support for this Operating System.");
    shell.MessageBox(0, GlobalLag.GetString(L"OS_INFO").c_str(),
                     GlobalLag.GetString(L"TITLE").c_str(), mb::Ok);
    return false;
  }
  if (!util.IsAdmin()) {
    KVD_LOG(DUDiduzuz::kind::Info, L"Not logged in as administrator");
    shell.MessageBox(0, GlobalLag.GetString(L"MSG_ADMIN").c_str(),
                     GlobalLag.GetString(L"TITLE").c_str(), mb::Ok);
    return false;
  }
  KVD_LOG(DUDiduzuz::kind::Info, L"Logged in as administrator");
  // The device tree is rescanned while the window comes up; nothing waits for it.
  m_pStartupThreads = std::make_unique<CThreadGroup>(m_platform);
  static_cast<void>(m_pStartupThreads->Start(
      L"ReenumerateDeviceManager",
      // The ports, not the application: a rescan left behind at exit may outlive this object.
      [&platform = m_platform] { kvd::repair::ReenumerateDeviceManager(platform); }));

  m_bBanner = m_pStartupUi != nullptr && m_pStartupUi->LoadBanner(kBannerResource);
  if (!m_bBanner) KVD_LOG(DUDiduzuz::kind::Debug, L"Failed to get bitmap from HBITMAP");
  if (m_pStartupUi != nullptr) m_pStartupUi->InitRichEdit();
  g_hWatchTarget = 0;
  if (g_hListenEvent.load() == 0) {
    SyncHandle listen = sync.OpenEvent(L"Listen_Event");
    if (listen == 0) listen = sync.CreateEvent(false, false, L"Listen_Event");
    g_hListenEvent = listen;
  }

  m_pDiagMgr = std::make_unique<CDiagnosticMgr>(
      m_platform, m_checks ? *m_checks : ProgramCheckTable(Services()));
  m_pDiagMgr->SetInstructions([this] {
    if (m_pUi == nullptr) return;
    CInstructionDlg instructions(*this);
    m_pUi->DoModal(instructions, m_pDiagMgr->m_hWnd.load());
  });
  m_pDiagMgr->Init();

  if (m_pUi == nullptr) return false;
  CKVDParent host(*this);
  m_pMainWnd = &host;
  KVD_LOG(DUDiduzuz::kind::Info, L"Display Main Dialog");
  m_nHostResult = m_pUi->DoModal(host, 0);
  m_pMainWnd = nullptr;
  // Without a desktop (a service session, a display that went away) the window cannot be made.
  if (m_nHostResult == -1) KVD_LOG(DUDiduzuz::kind::Error, L"The main dialog cannot be shown.");
  return false;
}

int CKavidApp::ExitInstance() {
  KVD_SCOPE(L"CKavidApp::ExitInstance");
  const bool ended = EndThreads();
  if (m_hMutex != 0) {
    m_platform.sync.ReleaseMutex(m_hMutex);
    m_platform.sync.CloseHandle(m_hMutex);
    m_hMutex = 0;
  }
  if (!ended) {
    // A hung thread is never waited for: the process ends with it, and with nothing freed
    // under it (no destructor runs after this). Every record is already in the log file.
    KVD_LOG(DUDiduzuz::kind::Error, L"A check does not end: the program ends without it.");
    m_platform.process.ExitProcess(0);
  }
  return 0;
}

bool CKavidApp::IsRestartPending() const { return CUtil(m_platform).IsRestartPending(); }

bool CKavidApp::AnotherInstanceRuns() const {
  auto mutex = MakeUniqueSync(m_platform.sync, m_platform.sync.CreateMutex(false, L"KVD_MUTEX"));
  return mutex.valid() && m_platform.errors.GetLastError() == err::AlreadyExists;
}
