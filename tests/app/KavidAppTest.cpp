// The application object's trace configuration against the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/KavidApp.h"
#include "logging/DUDiduzuz.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"
#include "tests/support/PortHelpers.h"
#include "ui/StartupUi.h"

namespace {

using kvd::platform::kHkeyCurrentUser;
namespace regtype = kvd::platform::regtype;

const std::wstring kKey = L"SOFTWARE\\QV\\NG\\Logging\\kavid.exe";
const std::wstring kTemp = L"C:\\Users\\tester\\AppData\\Local\\Temp";

// Starts the program on the machine with its trace log attached, as the wiring does, and
// answers the log's text (empty when there is none).
std::wstring StartAndReadLog(kvd::sim::SimMachine& sim, IStartupUi* ui = nullptr,
                             bool exitInstance = true) {
  DUDiduzuz::SettingsStore store(sim.Ports().sync);
  DUDiduzuz::CLogModule logger(sim.Ports(), store);
  DUDiduzuz::CLogModule::SetCurrent(&logger);
  {
    CKavidApp app(sim.Ports());
    app.SetStartupUi(ui);
    app.InitInstance();
    if (exitInstance) app.ExitInstance();
  }
  DUDiduzuz::CLogModule::SetCurrent(nullptr);
  const auto bytes = sim.Files().GetFile(kTemp + L"\\qv_kvd.log");
  return bytes ? kvd::test::DecodeUtf16(*bytes) : std::wstring();
}

std::uint32_t Dword(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() == 4 ? static_cast<std::uint32_t>(bytes[0] | (bytes[1] << 8) |
                                                        (bytes[2] << 16) | (bytes[3] << 24))
                           : 0xFFFFFFFFu;
}

TEST(KavidAppConstructor, WritesTheTraceConfigurationAndStartsAFreshLog) {
  kvd::sim::SimMachine sim;
  auto& files = sim.Files();
  const std::wstring log = kTemp + L"\\qv_kvd.log";
  files.PutFile(log, kvd::platform::ToUtf16Bytes(L"an old run\r\n", false));
  const std::wstring helperLog = kTemp + L"\\qv_kvd_devmgr.log";
  files.PutFile(helperLog, kvd::platform::ToUtf16Bytes(L"the helper's old run\r\n", false));

  CKavidApp app(sim.Ports());
  EXPECT_EQ(app.ExecutableName(), L"kavid.exe");
  EXPECT_EQ(app.LogFilePath(), log);
  EXPECT_FALSE(files.Exists(log));        // no restart pending: the previous log is gone
  EXPECT_FALSE(files.Exists(helperLog));  // and the device-manager helper's with it

  auto& registry = sim.Registry();
  const auto name = registry.GetValue(kHkeyCurrentUser, kKey, L"LogFileName");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->type, regtype::Sz);
  EXPECT_EQ(name->bytes, kvd::platform::ToUtf16Bytes(log, true));
  struct Expected {
    const wchar_t* name;
    std::uint32_t value;
  };
  for (const Expected& e :
       {Expected{L"LogCategories", 0x3F00FFF0}, Expected{L"LogOptions", 0x7FF80000},
        Expected{L"LogInfoDetailLevel", 0}}) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(e.name));
    const auto value = registry.GetValue(kHkeyCurrentUser, kKey, e.name);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, regtype::Dword);
    EXPECT_EQ(Dword(value->bytes), e.value);
  }
}

TEST(KavidAppConstructor, ItsFirstRecordsReachTheConfiguredFile) {
  kvd::sim::SimMachine sim;
  const std::wstring log = StartAndReadLog(sim, nullptr, false);
  ASSERT_FALSE(log.empty());
  const auto lines = kvd::test::SplitLines(log);
  // In order, among the records of the functions these call.
  const std::wstring expected[] = {
      L"(->) CKavidApp::CKavidApp",       L"(I0)   Trace log : " + kTemp + L"\\qv_kvd.log",
      L"(->) CKavidApp::InitInstance",    L"(->)   CStringTable::LoadStrings",
      L"(##)     Failed to load XML DOM",  // no language files on this machine
      L"(##)   GlobalLag.Load() failed",  L"(I0)   QV KVD Log File ",
  };
  std::size_t at = 0;
  for (const auto& line : lines) {
    if (at < std::size(expected) && line.find(expected[at]) != std::wstring::npos) ++at;
  }
  EXPECT_EQ(at, std::size(expected))
      << "missing: " << kvd::platform::NarrowUtf8(expected[std::min(at, std::size(expected) - 1)]);
}

// After a restart the log goes on in the same file, and the constructor's own question whether
// a restart is pending is already part of it: that record comes after the configuration.
TEST(KavidAppConstructor, AfterARestartTheLogGoesOnWithTheQuestionItself) {
  kvd::sim::SimMachine sim;
  const std::wstring log = kTemp + L"\\qv_kvd.log";
  sim.Files().PutFile(log, kvd::platform::ToUtf16Bytes(L"\uFEFFbefore the restart\r\n", false));
  const std::wstring helperLog = kTemp + L"\\qv_kvd_devmgr.log";
  sim.Files().PutFile(helperLog, kvd::platform::ToUtf16Bytes(L"before\r\n", false));
  sim.Registry().PutString(kvd::platform::kHkeyLocalMachine, L"SOFTWARE\\Wow6432Node\\KVD",
                           L"Restart", L"OK");
  const auto lines = kvd::test::SplitLines(StartAndReadLog(sim, nullptr, false));
  EXPECT_TRUE(sim.Files().Exists(helperLog));
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find(L"before the restart"), std::wstring::npos)
      << kvd::platform::NarrowUtf8(lines.front());
  const auto asked = std::find_if(lines.begin(), lines.end(), [](const std::wstring& line) {
    return line.find(L"(->) CUtil::IsRestartPending") != std::wstring::npos;
  });
  const auto constructed = std::find_if(lines.begin(), lines.end(), [](const std::wstring& line) {
    return line.find(L"(->) CKavidApp::CKavidApp") != std::wstring::npos;
  });
  ASSERT_NE(asked, lines.end());
  EXPECT_LT(asked - lines.begin(), constructed - lines.begin());
}

// The five page fonts: Calibri when the family is installed, else Microsoft Sans Serif with
// the smaller heights; released by the destructor. A font that cannot be made is logged and
// leaves the others.
TEST(KavidAppConstructor, ThePageFonts) {
  using kvd::platform::FontSpec;
  const auto spec = [](int height, int weight, const wchar_t* face) {
    FontSpec font;
    font.height = height;
    font.weight = weight;
    font.charSet = kvd::platform::font::AnsiCharset;
    font.pitchAndFamily = kvd::platform::font::FfSwiss;
    font.faceName = face;
    return font;
  };
  struct Case {
    const char* name;
    bool calibri;
    int failing;  // the nth CreateFont fails, 0 none
    std::vector<FontSpec> fonts;
  };
  const wchar_t* sans = L"Microsoft Sans Serif";
  const Case cases[] = {
      {"Calibri installed",
       true,
       0,
       {spec(21, 500, L"Calibri"), spec(18, 700, L"Calibri"), spec(18, 500, L"Calibri"),
        spec(18, 400, L"Calibri"), spec(18, 400, L"Calibri")}},
      {"no Calibri",
       false,
       0,
       {spec(19, 500, sans), spec(16, 700, sans), spec(16, 500, sans), spec(16, 400, sans),
        spec(16, 400, sans)}},
      {"the title font cannot be made",
       false,
       2,
       {spec(19, 500, sans), spec(16, 500, sans), spec(16, 400, sans), spec(16, 400, sans)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    sim.Gdi().SetFamilyInstalled(L"Calibri", c.calibri);
    if (c.failing != 0)
      sim.InjectFault("CreateFont", c.failing, kvd::platform::err::NotEnoughMemory);
    {
      CKavidApp app(sim.Ports());
      EXPECT_EQ(sim.Gdi().LiveFonts(), c.fonts);
      EXPECT_EQ(app.m_hTitleFont == 0, c.failing == 2);
    }
    EXPECT_TRUE(sim.Gdi().LiveFonts().empty());
    EXPECT_EQ(sim.CallCount("DeleteObject"), c.fonts.size());
  }
}

TEST(KavidAppInitInstance, LoadsTheTextsOfTheSystemLanguage) {
  kvd::sim::SimMachine sim;
  sim.System().SetSystemDefaultLangID(0x0C07);  // German (Austria)
  const std::wstring strings = L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\";
  const std::string german = "<Strings><String ID=\"TITLE\" Value=\"Scannerdiagnose\"/></Strings>";
  sim.Files().PutFile(strings + L"1031.xml", {german.begin(), german.end()});
  CKavidApp app(sim.Ports());
  app.InitInstance();
  EXPECT_EQ(app.m_LangID, 1031);
  EXPECT_EQ(GlobalLag.m_LangID, 1031);
  EXPECT_EQ(GlobalLag.GetString(L"TITLE"), L"Scannerdiagnose");

  // Without the German file the program runs in English, and both ids say so.
  sim.Files().Remove(strings + L"1031.xml");
  const std::string english =
      "<Strings><String ID=\"TITLE\" Value=\"Scanner diagnostics\"/></Strings>";
  sim.Files().PutFile(strings + L"1033.xml", {english.begin(), english.end()});
  app.InitInstance();
  EXPECT_EQ(app.m_LangID, 1033);
  EXPECT_EQ(GlobalLag.m_LangID, 1033);
  EXPECT_EQ(GlobalLag.GetString(L"TITLE"), L"Scanner diagnostics");
}

TEST(KavidAppConstructor, AnUnwritableLoggingKeyIsSilent) {
  kvd::sim::SimMachine sim;
  sim.Registry().DenyAccess(kHkeyCurrentUser, L"SOFTWARE\\QV\\NG\\Logging");
  CKavidApp app(sim.Ports());
  EXPECT_FALSE(sim.Registry().GetValue(kHkeyCurrentUser, kKey, L"LogOptions").has_value());
  EXPECT_EQ(app.LogFilePath(), kTemp + L"\\qv_kvd.log");
}

TEST(KavidAppConstructor, ALongTempFolderIsKeptWhole) {
  kvd::sim::SimMachine sim;
  const std::wstring longTemp = L"C:\\" + std::wstring(300, L't');
  sim.Environment().Put(L"TEMP", longTemp);
  CKavidApp app(sim.Ports());
  EXPECT_EQ(app.LogFilePath(), longTemp + L"\\qv_kvd.log");
}

}  // namespace

namespace {

struct GateCase {
  const char* name;
  std::function<void(kvd::sim::SimMachine&)> arrange;
  std::vector<std::wstring> boxes;  // texts of the message boxes shown
  bool managerCreated;
};

void PutTexts(kvd::sim::SimMachine& sim) {
  const std::string texts =
      "<S><String ID=\"TITLE\" Value=\"Quvari Kavid\"/>"
      "<String ID=\"APP_RUNNING\" Value=\"already running\"/>"
      "<String ID=\"OS_INFO\" Value=\"old system\"/>"
      "<String ID=\"MSG_ADMIN\" Value=\"not an administrator\"/></S>";
  sim.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\1033.xml",
                      {texts.begin(), texts.end()});
}

void OldSystem(kvd::sim::SimMachine& sim) {
  auto version = sim.System().Version();
  version.majorVersion = 5;
  version.minorVersion = 0;
  sim.System().SetVersion(version);
}

TEST(KavidAppInitInstance, TheGatesInTheirOrder) {
  const GateCase cases[] = {
      {"all pass", [](kvd::sim::SimMachine&) {}, {}, true},
      {"another instance runs",
       [](kvd::sim::SimMachine& sim) { sim.Sync().HoldElsewhere(L"KVD_MUTEX"); },
       {L"already running"},
       false},
      {"Windows before XP", OldSystem, {L"old system"}, false},
      {"not an administrator",
       [](kvd::sim::SimMachine& sim) { sim.Security().SetAdministrator(false); },
       {L"not an administrator"},
       false},
      {"every gate fails: only the first one speaks",
       [](kvd::sim::SimMachine& sim) {
         sim.Sync().HoldElsewhere(L"KVD_MUTEX");
         OldSystem(sim);
         sim.Security().SetAdministrator(false);
       },
       {L"already running"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    PutTexts(sim);
    c.arrange(sim);
    CKavidApp app(sim.Ports());
    EXPECT_FALSE(app.InitInstance());
    std::vector<std::wstring> boxes;
    for (const auto& box : sim.Shell().Boxes()) {
      boxes.push_back(box.text);
      EXPECT_EQ(box.caption, L"Quvari Kavid");
      EXPECT_EQ(box.owner, 0u);
    }
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(app.m_pDiagMgr != nullptr, c.managerCreated);
    if (c.managerCreated) {
      EXPECT_TRUE(sim.Sync().EventExists(L"Listen_Event"));
      EXPECT_NE(app.m_hMutex, 0u);
    }
    app.ExitInstance();
    EXPECT_EQ(app.m_hMutex, 0u);
  }
}

TEST(KavidAppInitInstance, LogsTheSystemAndTheAdministrator) {
  kvd::sim::SimMachine sim;
  const std::wstring text = StartAndReadLog(sim);
  // The program ends before a device page came: the device list waits for none, and ends
  // without claiming an acknowledgement or a timeout; no thread is left behind.
  EXPECT_NE(text.find(L"The program ends: the device list is not announced.\r\n"),
            std::wstring::npos);
  EXPECT_EQ(text.find(L"EnumerateScanners update scaners list"), std::wstring::npos);
  EXPECT_EQ(text.find(L"TIMEOUT"), std::wstring::npos);
  EXPECT_FALSE(sim.Process().ExitCode().has_value());
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.find(L"(I0)   OS Version : Windows 7 x64 Service Pack 1 \r\n" +
                      std::wstring(76, L'-') + L"\r\n"),
            std::wstring::npos);
  EXPECT_NE(text.find(L"(I0)   Logged in as administrator\r\n"), std::wstring::npos);
  // The start-up rescan logs from its own thread meanwhile, and the indentation belongs to the
  // log file: these records may sit deeper than their own nesting.
  EXPECT_TRUE(std::regex_search(text, std::wregex(L"\\(->\\) +CDiagnosticMgr::Init\r\n")));
  EXPECT_TRUE(std::regex_search(text, std::wregex(L"\\(DB\\) +Filling up the issue list\\.\r\n")));
}

}  // namespace

namespace {

// A check hung in a component at exit (here the device-installation interface under the
// enumeration): the exit waits its bound of simulated time, leaves the thread and the manager it
// uses behind, releases the single-instance mutex and ends the process with code 0.
TEST(KavidAppExit, AHungThreadEndsTheProcessWithoutWaitingForIt) {
  kvd::sim::SimMachine sim;
  sim.InjectHang("GetClassDevs", 1);
  DUDiduzuz::SettingsStore store(sim.Ports().sync);
  DUDiduzuz::CLogModule logger(sim.Ports(), store);
  DUDiduzuz::CLogModule::SetCurrent(&logger);
  CDiagnosticMgr* abandoned = nullptr;
  {
    CKavidApp app(sim.Ports());
    app.InitInstance();
    abandoned = app.m_pDiagMgr.get();
    ASSERT_NE(abandoned, nullptr);
    while (sim.HungCalls() == 0) std::this_thread::yield();
    std::atomic<bool> done{false};
    const std::uint32_t start = sim.Clock().Tick();
    std::thread exiting([&] {
      app.ExitInstance();
      done = true;
    });
    while (!done) {
      if (sim.Sync().BlockedEventWaits() > 0) sim.Clock().Advance(100);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    exiting.join();
    const std::uint32_t took = sim.Clock().Tick() - start;
    EXPECT_GE(took, CDiagnosticMgr::kExitGraceMs);
    EXPECT_LE(took, CDiagnosticMgr::kExitGraceMs + 1000);  // a few of the 100 ms steps
    EXPECT_EQ(sim.Process().ExitCode(), 0u);
    EXPECT_EQ(app.m_hMutex, 0u);
  }
  // What the ended process would have taken with it.
  sim.ReleaseHangs();
  abandoned->JoinThreads();
  delete abandoned;
  DUDiduzuz::CLogModule::SetCurrent(nullptr);
  const auto bytes = sim.Files().GetFile(kTemp + L"\\qv_kvd.log");
  ASSERT_TRUE(bytes.has_value());
  const std::wstring log = kvd::test::DecodeUtf16(*bytes);
  EXPECT_NE(log.find(L"1 threads still run at exit (a check does not return): left behind."),
            std::wstring::npos);
  EXPECT_NE(log.find(L"A check does not end: the program ends without it."), std::wstring::npos);
  EXPECT_NE(log.find(L"The diagnostic manager is left to the process's end."), std::wstring::npos);
}

// The start-up rescan hung in the shell at exit: the process still ends within the bound, with
// code 0, and the log says what was left.
TEST(KavidAppExit, AHungStartUpRescanDoesNotHoldTheExit) {
  kvd::sim::SimMachine sim;
  sim.InjectHang("ShellExecuteEx", 1);
  DUDiduzuz::SettingsStore store(sim.Ports().sync);
  DUDiduzuz::CLogModule logger(sim.Ports(), store);
  DUDiduzuz::CLogModule::SetCurrent(&logger);
  CThreadGroup* abandoned = nullptr;
  {
    CKavidApp app(sim.Ports());
    app.InitInstance();
    abandoned = app.StartupThreads();
    ASSERT_NE(abandoned, nullptr);
    while (sim.HungCalls() == 0) std::this_thread::yield();
    std::atomic<bool> done{false};
    const std::uint32_t start = sim.Clock().Tick();
    std::thread exiting([&] {
      app.ExitInstance();
      done = true;
    });
    while (!done) {
      if (sim.Sync().BlockedEventWaits() > 0) sim.Clock().Advance(100);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    exiting.join();
    EXPECT_LE(sim.Clock().Tick() - start, CDiagnosticMgr::kExitGraceMs * 2 + 1000);
    EXPECT_EQ(sim.Process().ExitCode(), 0u);
    EXPECT_EQ(app.m_hMutex, 0u);
  }
  sim.ReleaseHangs();
  abandoned->JoinAll();
  delete abandoned;
  DUDiduzuz::CLogModule::SetCurrent(nullptr);
  const auto bytes = sim.Files().GetFile(kTemp + L"\\qv_kvd.log");
  ASSERT_TRUE(bytes.has_value());
  const std::wstring log = kvd::test::DecodeUtf16(*bytes);
  EXPECT_NE(log.find(L"The device-tree rescan still runs at exit: left behind."),
            std::wstring::npos);
  EXPECT_NE(log.find(L"A check does not end: the program ends without it."), std::wstring::npos);
}

class RecordingUi : public IStartupUi {
 public:
  void InitCommonControls() override { calls.push_back("common controls"); }
  bool LoadBanner(int id) override {
    calls.push_back("banner " + std::to_string(id));
    return bannerLoads;
  }
  void InitRichEdit() override { calls.push_back("rich edit"); }
  std::vector<std::string> calls;
  bool bannerLoads = true;
};

TEST(KavidAppInitInstance, PreparesTheWindowsResourcesInOrder) {
  struct Case {
    const char* name;
    bool administrator;
    bool bannerLoads;
    std::vector<std::string> calls;
    bool failureLogged;
  };
  const Case cases[] = {
      {"all prepared", true, true, {"common controls", "banner 147", "rich edit"}, false},
      {"banner that cannot be decoded",
       true,
       false,
       {"common controls", "banner 147", "rich edit"},
       true},
      {"a failed gate stops before the banner", false, true, {"common controls"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    sim.Security().SetAdministrator(c.administrator);
    DUDiduzuz::SettingsStore store(sim.Ports().sync);
    DUDiduzuz::CLogModule logger(sim.Ports(), store);
    DUDiduzuz::CLogModule::SetCurrent(&logger);
    RecordingUi ui;
    ui.bannerLoads = c.bannerLoads;
    {
      CKavidApp app(sim.Ports());
      app.SetStartupUi(&ui);
      app.InitInstance();
      EXPECT_EQ(app.m_bBanner, c.bannerLoads && c.administrator);
      app.ExitInstance();
    }
    DUDiduzuz::CLogModule::SetCurrent(nullptr);
    EXPECT_EQ(ui.calls, c.calls);
    const auto bytes = sim.Files().GetFile(kTemp + L"\\qv_kvd.log");
    ASSERT_TRUE(bytes.has_value());
    // At any depth: the start-up rescan's records may share the file's indentation.
    EXPECT_EQ(std::regex_search(kvd::test::DecodeUtf16(*bytes),
                                std::wregex(L"\\(DB\\) +Failed to get bitmap from HBITMAP\r\n")),
              c.failureLogged);
  }
}

}  // namespace
