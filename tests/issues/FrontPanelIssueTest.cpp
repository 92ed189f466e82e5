// The front-panel check against the button as suite-frontpanel.xml wires it: an all-in-one's
// shortcuts through the device scan-settings library (each way the library can fail, the object
// and the library always given back, the library never taken from the program's folder), a
// Tarvel scanner's scan event and its handler program, the outcomes with Dashra and the scan
// checks in mind, the simulation, and both repairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "issues/KVDFrontPanelIssue.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

using kvd::sim::SimMachine;
using kvd::sim::SimModules;
constexpr kvd::platform::HKey kMachine = kvd::platform::kHkeyLocalMachine;

constexpr const wchar_t* kClass =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\";
constexpr const wchar_t* kBin = L"C:\\Program Files (x86)\\Quvari\\Brevane\\bin\\";
constexpr const wchar_t* kIdentifier = L"#Quvari#quvari aio 3400 series#0000";
constexpr const wchar_t* kButSet = L"C:\\Program Files (x86)\\Quvari\\Tarvel\\qvtvbutset.exe";
constexpr const wchar_t* kHandler = L"C:\\Program Files (x86)\\Quvari\\Tarvel\\qvtvbutton.exe";
const std::wstring kScanEvent = std::wstring(kClass) + L"0021\\Events\\ScanButton";
const std::wstring kHandlerKey = kScanEvent + L"\\{7C41E0B2-9A35-4F18-B6D4-2E8A13C9F507}";

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"FRONT_PANEL", "Front panel"}};
  for (const char* key : {"FRONT_PANEL_OK", "FRONT_PANEL_ISSUE_FOUND",
                          "FRONT_PANEL_ISSUE_FOUND_NO_DASHRA", "QV_BTN_MGR_FRONTPANEL_NOT_FOUND",
                          "FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED", "GENERIC_FIX_FAIL"}) {
    texts.push_back({key, key});
  }
  return texts;
}

std::vector<std::string> Operations(const SimMachine& sim) {
  std::vector<std::string> operations;
  for (const auto& call : const_cast<SimMachine&>(sim).Modules().ScanSettingsCalls()) {
    operations.push_back(call.operation);
  }
  return operations;
}

const std::vector<std::string> kWholeQuestion = {"CreateAiODeviceScanSettings", "OpenSession",
                                                 "GetDeviceShortcutList", "CloseSession",
                                                 "DestroyAiODeviceScanSettings"};

// What the run around the check answers.
struct RunState {
  bool dashra = false;
  bool wiaPassed = false;
  bool twainPassed = false;
  bool simulatingTarvel = false;
  std::vector<bool> holds;
};

class FrontPanelIssue : public ::testing::Test {
 protected:
  void SetUp() override { Prepare(sim_); }

  static void Prepare(SimMachine& sim) {
    for (const char* scenario :
         {"usb-aio-composite.xml", "usb-tarvel.xml", "suite-tools.xml", "suite-registry.xml",
          "suite-scanflow.xml", "suite-frontpanel.xml"}) {
      kvd::test::ApplyNamed(scenario, sim);
    }
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim, Texts()));
  }
  static void InstallLibrary(SimMachine& sim, const std::wstring& folder,
                             std::vector<std::string> exports = {"CreateAiODeviceScanSettings",
                                                                 "DestroyAiODeviceScanSettings"}) {
    sim.Modules().AddLibrary(folder + L"qvdevset.dll", std::move(exports));
  }
  static CKVDFrontPanelIssue Check(SimMachine& sim, RunState& run) {
    return CKVDFrontPanelIssue(
        sim.Ports(), CKVDFrontPanelIssue::Services{
                         [&run] { return run.wiaPassed; }, [&run] { return run.twainPassed; },
                         [&run] { return run.dashra; }, [&run] { return run.simulatingTarvel; },
                         [&run](bool hold) { run.holds.push_back(hold); }});
  }
  static DeviceDetails AllInOne() {
    DeviceDetails device;
    device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
    device.strDeviceDesc = L"Quvari AIO 3400 Series";
    return device;
  }
  static DeviceDetails Tarvel() {
    DeviceDetails device;
    device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0021";
    device.strDeviceDesc = L"QV Tarvel T200";
    device.bTarvel = true;
    return device;
  }
  // Nothing of the library is left behind, and it was never called on a dead object.
  static void ExpectAllGivenBack(SimMachine& sim) {
    EXPECT_EQ(sim.Modules().LiveScanSettings(), 0);
    EXPECT_EQ(sim.Modules().OpenScanSettingsSessions(), 0);
    EXPECT_EQ(sim.Modules().LoadedCount(), 0);
    EXPECT_EQ(sim.Com().ComDepth(), 0);
    for (const auto& operation : Operations(sim)) EXPECT_NE(operation.front(), '!') << operation;
  }

  SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  RunState run_;
};

TEST_F(FrontPanelIssue, AnAllInOneWithShortcutsPasses) {
  InstallLibrary(sim_, kBin);
  sim_.Modules().SetScanSettings(kIdentifier, {true, true, true, 3});
  CKVDFrontPanelIssue check = Check(sim_, run_);
  EXPECT_EQ(check.m_strName, L"Front panel");
  log_.Take();
  check.m_nErrorCode = 1234;
  EXPECT_EQ(check.Diagnose(AllInOne()), 107);
  EXPECT_EQ(check.m_nStatus, 1);
  EXPECT_EQ(check.m_nButtons, 84);
  EXPECT_EQ(check.m_strMessage, L"FRONT_PANEL_OK");
  EXPECT_EQ(check.m_nErrorCode, 1234);  // a pass leaves it
  EXPECT_EQ(run_.holds, (std::vector<bool>{true, false}));
  EXPECT_EQ(Operations(sim_), kWholeQuestion);
  for (const auto& call : sim_.Modules().ScanSettingsCalls()) EXPECT_EQ(call.deviceId, kIdentifier);
  EXPECT_EQ(sim_.Modules().LoadedPaths(),
            (std::vector<std::wstring>{std::wstring(kBin) + L"qvdevset.dll"}));
  EXPECT_EQ(log_.Texts(L"DB").back(), L"Shortcuts found.");
  ExpectAllGivenBack(sim_);
}

TEST_F(FrontPanelIssue, AllInOneOutcomes) {
  using Setup = std::function<void(SimMachine&)>;
  const Setup library = [](SimMachine& sim) {
    InstallLibrary(sim, kBin);
    sim.Modules().SetScanSettings(kIdentifier, {});
  };
  const auto with = [library](SimModules::ScanSettingsDevice device) -> Setup {
    return [library, device](SimMachine& sim) {
      library(sim);
      sim.Modules().SetScanSettings(kIdentifier, device);
    };
  };
  struct Case {
    const char* name;
    Setup setup;
    bool dashra;
    bool wiaPassed;
    int result;
    int status;
    int buttons;
    const wchar_t* key;
    int errorCode;
    const wchar_t* debug;  // the last debug record, or null
    std::vector<std::string> operations;
  };
  const Case cases[] = {
      {"no shortcut, Dashra found: the repair is offered", library, true, false, 100020, 2, 67,
       L"FRONT_PANEL_ISSUE_FOUND", 1085, L"Could not find any shortcuts.", kWholeQuestion},
      {"no shortcut, no Dashra, the Windows scan passed: a warning without repair", library, false,
       true, 100020, 3, 66, L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA", 1085,
       L"Could not find any shortcuts.", kWholeQuestion},
      {"no identifier: the library is not asked",
       [library](SimMachine& sim) {
         library(sim);
         sim.Registry().PutDword(kMachine, std::wstring(kClass) + L"0003\\Devicedata",
                                 L"KLEDeviceID", 7);
       },
       true,
       false,
       100020,
       2,
       67,
       L"FRONT_PANEL_ISSUE_FOUND",
       1085,
       nullptr,
       {}},
      {"no library, Dashra found",
       [](SimMachine&) {},
       true,
       false,
       100020,
       2,
       66,
       L"FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED",
       1086,
       L"Could not load qvdevset.dll",
       {}},
      {"no library, no Dashra",
       [](SimMachine&) {},
       false,
       false,
       100020,
       2,
       66,
       L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA",
       1086,
       L"Could not load qvdevset.dll",
       {}},
      {"a library planted in the program's folder is not taken",
       [](SimMachine& sim) {
         sim.Process().SetModulePath(L"C:\\Users\\Public\\Downloads\\kavid.exe");
         InstallLibrary(sim, L"C:\\Users\\Public\\Downloads\\");
         sim.Modules().SetScanSettings(kIdentifier, {true, true, true, 2});
       },
       true,
       false,
       100020,
       2,
       66,
       L"FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED",
       1086,
       L"Could not load qvdevset.dll",
       {}},
      {"the library in the system folder",
       [](SimMachine& sim) {
         InstallLibrary(sim, L"C:\\Windows\\system32\\");
         sim.Modules().SetScanSettings(kIdentifier, {true, true, true, 1});
       },
       false, false, 107, 1, 84, L"FRONT_PANEL_OK", 0, L"Shortcuts found.", kWholeQuestion},
      {"no create export",
       [](SimMachine& sim) { InstallLibrary(sim, kBin, {"DestroyAiODeviceScanSettings"}); },
       true,
       false,
       100020,
       2,
       66,
       L"FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED",
       1086,
       L"pAIODeviceScanSettingsInfc->OpenSession() failed.",
       {}},
      {"no object for the device",
       with({false, true, true, 2}),
       true,
       false,
       100020,
       2,
       66,
       L"FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED",
       1086,
       L"pAIODeviceScanSettingsInfc->OpenSession() failed.",
       {"CreateAiODeviceScanSettings"}},
      {"the session does not open: the object is destroyed",
       with({true, false, true, 2}),
       true,
       false,
       100020,
       2,
       66,
       L"FRONT_PANEL_ISSUE_FOUND_DAIAGNOSE_FAILED",
       1086,
       L"pAIODeviceScanSettingsInfc->OpenSession() failed.",
       {"CreateAiODeviceScanSettings", "OpenSession", "DestroyAiODeviceScanSettings"}},
      {"the list cannot be had", with({true, true, false, 2}), false, false, 100020, 2, 66,
       L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA", 1086,
       L"pAIODeviceScanSettingsInfc->GetDeviceShortcutList() failed.", kWholeQuestion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim;
    Prepare(sim);
    c.setup(sim);
    kvd::test::SimLog log(sim);
    RunState run;
    run.dashra = c.dashra;
    run.wiaPassed = c.wiaPassed;
    CKVDFrontPanelIssue check = Check(sim, run);
    log.Take();
    EXPECT_EQ(check.Diagnose(AllInOne()), c.result);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nButtons, c.buttons);
    EXPECT_EQ(check.m_strMessage, c.key);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    // A problem keeps the run from completing; a pass releases it.
    EXPECT_EQ(run.holds,
              c.result == 107 ? (std::vector<bool>{true, false}) : (std::vector<bool>{true}));
    EXPECT_EQ(Operations(sim), c.operations);
    const auto debug = log.Texts(L"DB");
    if (c.debug != nullptr) {
      ASSERT_FALSE(debug.empty());
      EXPECT_EQ(debug.back(), c.debug);
    }
    ExpectAllGivenBack(sim);
  }
}

TEST_F(FrontPanelIssue, AnObjectTheLibraryCannotDestroyIsStillClosedAndTheLibraryFreed) {
  InstallLibrary(sim_, kBin, {"CreateAiODeviceScanSettings"});
  sim_.Modules().SetScanSettings(kIdentifier, {true, true, true, 1});
  CKVDFrontPanelIssue check = Check(sim_, run_);
  EXPECT_EQ(check.Diagnose(AllInOne()), 107);
  EXPECT_EQ(Operations(sim_),
            (std::vector<std::string>{"CreateAiODeviceScanSettings", "OpenSession",
                                      "GetDeviceShortcutList", "CloseSession"}));
  EXPECT_EQ(sim_.Modules().OpenScanSettingsSessions(), 0);
  EXPECT_EQ(sim_.Modules().LoadedCount(), 0);
}

TEST_F(FrontPanelIssue, TarvelScanEvent) {
  using Setup = std::function<void(SimMachine&)>;
  struct Case {
    const char* name;
    Setup setup;
    int result;
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const auto commandLine = [](const std::wstring& text) -> Setup {
    return [text](SimMachine& sim) {
      sim.Registry().PutString(kMachine, kHandlerKey, L"CmdLine", text);
    };
  };
  const Case cases[] = {
      {"the quoted handler program with its arguments", [](SimMachine&) {}, 107, nullptr},
      {"unquoted, in upper case, with arguments",
       commandLine(L"  C:\\PROGRAM FILES (X86)\\QUVARI\\TARVEL\\QVTVBUTTON.EXE /StiDevice:%1"), 107,
       nullptr},
      {"the handler program missing", [](SimMachine& sim) { sim.Files().Remove(kHandler); }, 100020,
       nullptr},
      {"a command line without a program", commandLine(L"rundll32 sti.dll,Handler"), 100020,
       nullptr},
      {"an empty command line", commandLine(L""), 100020, nullptr},
      {"no Events key",
       [](SimMachine& sim) {
         sim.Registry().RemoveKey(kMachine, std::wstring(kClass) + L"0021\\Events");
       },
       100020,
       L"Failed to open registry path.Path : "
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0021"
       L"\\Events"},
      {"no scan event",
       [](SimMachine& sim) {
         sim.Registry().RemoveKey(kMachine, kScanEvent);
         sim.Registry().RemoveKey(kMachine, std::wstring(kClass) + L"0021\\Events\\ScanToFile");
       },
       100020, nullptr},
      {"only the first scan event counts: its handler is gone, the second one's is whole",
       [](SimMachine& sim) {
         sim.Registry().RemoveKey(kMachine, kHandlerKey);
         const std::wstring second = std::wstring(kClass) + L"0021\\Events\\ScanToFile";
         sim.Registry().PutString(kMachine, second, L"DefaultHandler", L"h");
         sim.Registry().PutString(kMachine, second + L"\\h", L"CmdLine", kHandler);
       },
       100020,
       L"Failed to get the CmdLine value from registry for diagnosing FrontPanel issue.Path : "
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0021"
       L"\\Events\\scanbutton\\{7C41E0B2-9A35-4F18-B6D4-2E8A13C9F507}"},
      {"a handler name of another type",
       [](SimMachine& sim) { sim.Registry().PutDword(kMachine, kScanEvent, L"DefaultHandler", 1); },
       100020,
       L"Failed to get the DefaultHandler value from registry for diagnosing FrontPanel "
       L"issue.Path : "
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0021"
       L"\\Events\\scanbutton"},
      {"no handler name",
       [](SimMachine& sim) { sim.Registry().RemoveValue(kMachine, kScanEvent, L"DefaultHandler"); },
       100020, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim;
    Prepare(sim);
    c.setup(sim);
    kvd::test::SimLog log(sim);
    RunState run;
    run.twainPassed = true;
    CKVDFrontPanelIssue check = Check(sim, run);
    log.Take();
    EXPECT_EQ(check.Diagnose(Tarvel()), c.result);
    // A Tarvel device holds nothing back; a pass releases whatever held.
    EXPECT_EQ(run.holds, c.result == 107 ? std::vector<bool>{false} : std::vector<bool>{});
    const auto records = log.Take();
    EXPECT_TRUE(
        kvd::test::SimLog::Contains(records, L"I0", L"Checks the FrontPanel issue for Tarvel."));
    if (c.debug != nullptr) {
      EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"DB", c.debug)) << c.debug;
    }
    if (c.result == 107) {
      EXPECT_EQ(check.m_strMessage, L"FRONT_PANEL_OK");
      continue;
    }
    EXPECT_EQ(check.m_strMessage, L"QV_BTN_MGR_FRONTPANEL_NOT_FOUND");
    EXPECT_EQ(check.m_nButtons, 98);
    EXPECT_EQ(check.m_nErrorCode, 1086);
    EXPECT_EQ(check.m_nStatus, 3);  // the TWAIN scan passed
  }
}

TEST_F(FrontPanelIssue, Simulation) {
  struct Case {
    int simulated;
    bool simulatingTarvel;
    int result;
    int status;
    int buttons;
    const wchar_t* key;  // null: left as it was
  };
  const Case cases[] = {
      {107, false, 107, 1, 84, L"FRONT_PANEL_OK"},
      {0, false, 107, 1, 84, L"FRONT_PANEL_OK"},
      {1, false, 100020, 2, 66, L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA"},
      {-1, false, 100020, 2, 66, L"FRONT_PANEL_ISSUE_FOUND_NO_DASHRA"},
      {-1, true, 100020, 2, 98, L"QV_BTN_MGR_FRONTPANEL_NOT_FOUND"},
      {5, false, 0, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.simulated);
    RunState run;
    run.simulatingTarvel = c.simulatingTarvel;
    CKVDFrontPanelIssue check = Check(sim_, run);
    check.m_strMessage = L"before";
    check.m_bSimulate = true;
    check.m_bSimulatePass = true;
    check.m_nSimulatedCase = c.simulated;
    EXPECT_EQ(check.Diagnose(AllInOne()), c.result);
    EXPECT_FALSE(check.m_bSimulate);
    EXPECT_FALSE(check.m_bSimulatePass);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nButtons, c.buttons);
    EXPECT_EQ(check.m_strMessage, c.key != nullptr ? c.key : L"before");
  }
  EXPECT_TRUE(Operations(sim_).empty());
}

TEST_F(FrontPanelIssue, TheAllInOneRepairStartsTabborAndAsksAgainAfterItsTime) {
  InstallLibrary(sim_, kBin);
  sim_.Modules().SetScanSettings(kIdentifier, {});
  const std::wstring tabbor = std::wstring(kBin) + L"qvtabbor.exe";
  // Tabbor gives the device its shortcuts.
  sim_.Shell().SetProgram(tabbor, [this](const std::wstring&) {
    sim_.Modules().SetScanSettings(kIdentifier, {true, true, true, 4});
    return 0u;
  });
  run_.dashra = true;
  CKVDFrontPanelIssue check = Check(sim_, run_);
  ASSERT_EQ(check.Diagnose(AllInOne()), 100020);
  ASSERT_EQ(check.m_nButtons, 67);
  EXPECT_EQ(check.Fix(AllInOne(), 100020), 1);
  EXPECT_EQ(check.m_strMessage, L"FRONT_PANEL_OK");
  EXPECT_EQ(check.m_nStatus, 1);
  EXPECT_EQ(check.m_nButtons, 84);
  const auto launches = sim_.Shell().Launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].application, tabbor);  // ProgramDir's blanks trimmed
  EXPECT_EQ(launches[0].commandLine,
            L" -n  \"#Quvari#quvari aio 3400 series#0000\" -a SETTINGS -f SCAN_BUTTON -b SCAN_TO");
  const auto sleeps = sim_.Clock().Sleeps();
  EXPECT_NE(std::find(sleeps.begin(), sleeps.end(), 20000u), sleeps.end());
  ExpectAllGivenBack(sim_);

  // Tabbor did not help this time: the failed repair offers Restart and Uninstall instead.
  sim_.Shell().SetProgram(tabbor, [](const std::wstring&) { return 0u; });
  sim_.Modules().SetScanSettings(kIdentifier, {});
  run_.wiaPassed = true;
  EXPECT_EQ(check.Fix(AllInOne(), 100020), 0);
  EXPECT_EQ(check.m_strMessage, L"GENERIC_FIX_FAIL");
  EXPECT_EQ(check.m_nStatus, 3);
  EXPECT_EQ(check.m_nButtons, 106);
}

TEST_F(FrontPanelIssue, WhatTheRepairsNeed) {
  using Setup = std::function<void(SimMachine&)>;
  const std::wstring tarvelData = std::wstring(kClass) + L"0021\\Devicedata";
  struct Case {
    const char* name;
    bool tarvel;
    Setup setup;
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"no ProgramDir", false,
       [](SimMachine& sim) {
         sim.Registry().RemoveValue(kMachine, L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane",
                                    L"ProgramDir");
       },
       nullptr},
      {"an empty ProgramDir: nothing is started from the current drive's root", false,
       [](SimMachine& sim) {
         sim.Registry().PutString(kMachine, L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane",
                                  L"ProgramDir", L"  ");
         sim.Files().PutFile(L"C:\\qvtabbor.exe", {'M', 'Z'});
       },
       nullptr},
      {"no Tabbor", false,
       [](SimMachine& sim) { sim.Files().Remove(std::wstring(kBin) + L"qvtabbor.exe"); }, nullptr},
      {"no identifier", false,
       [](SimMachine& sim) {
         sim.Registry().RemoveValue(kMachine, std::wstring(kClass) + L"0003\\Devicedata",
                                    L"KLEDeviceID");
       },
       nullptr},
      {"no InstallRegPath", true,
       [tarvelData](SimMachine& sim) {
         sim.Registry().RemoveValue(kMachine, tarvelData, L"InstallRegPath");
       },
       L"Failed to get the InstallRegPath value from registry for fixing FrontPanel issue.Path : "
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0021"
       L"\\Devicedata"},
      {"no InstallCLSID", true,
       [tarvelData](SimMachine& sim) {
         sim.Registry().RemoveValue(kMachine, tarvelData, L"InstallCLSID");
       },
       L"Failed to get the InstallCLSID value from registry for fixing FrontPanel issue.Path : "
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0021"
       L"\\Devicedata"},
      {"no ButSet", true,
       [](SimMachine& sim) {
         sim.Registry().RemoveKey(kMachine, L"SOFTWARE\\Wow6432Node\\Quvari\\Tarvel");
       },
       L"Failed to get the ButSet value from registry for fixing FrontPanel issue.Path : "
       L"SOFTWARE\\Quvari\\Tarvel\\ButtonSettings\\{3B9F6C12-58E4-4D07-A1C3-7E2D90B4F6A5}"},
      {"the button-settings program missing", true,
       [](SimMachine& sim) { sim.Files().Remove(kButSet); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim;
    Prepare(sim);
    InstallLibrary(sim, kBin);
    sim.Modules().SetScanSettings(kIdentifier, {true, true, true, 1});
    c.setup(sim);
    kvd::test::SimLog log(sim);
    RunState run;
    CKVDFrontPanelIssue check = Check(sim, run);
    log.Take();
    EXPECT_EQ(check.Fix(c.tarvel ? Tarvel() : AllInOne(), 100020), 0);
    EXPECT_EQ(check.m_strMessage, L"GENERIC_FIX_FAIL");
    EXPECT_EQ(check.m_nStatus, 2);
    EXPECT_TRUE(sim.Shell().Launches().empty());
    if (c.debug != nullptr) {
      const auto debug = log.Texts(L"DB");
      EXPECT_NE(std::find(debug.begin(), debug.end(), c.debug), debug.end());
    }
  }
}

TEST_F(FrontPanelIssue, TheTarvelRepairStartsTheButtonSettingsProgram) {
  CKVDFrontPanelIssue check = Check(sim_, run_);
  log_.Take();
  EXPECT_EQ(check.Fix(Tarvel(), 100020), 1);
  EXPECT_EQ(check.m_strMessage, L"FRONT_PANEL_OK");
  EXPECT_EQ(check.m_nButtons, 84);
  const auto launches = sim_.Shell().Launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].application, kButSet);
  EXPECT_FALSE(launches[0].commandLine.has_value());
  EXPECT_EQ(log_.Texts(L"I0"), std::vector<std::wstring>{L"Fixes the FrontPanel issue of Tarvel."});
  // Not waited for, and the library is not asked.
  EXPECT_TRUE(sim_.Clock().Sleeps().empty());
  EXPECT_TRUE(Operations(sim_).empty());
}

}  // namespace
