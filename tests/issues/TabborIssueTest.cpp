// The scan-flow check against the suite's scan flow (suite-scanflow.xml beside the suite's
// folder and registration): each missing component, file or identifier, the outcomes with the
// scan checks' results in mind, the destination listing with every reference given back once,
// and Tabbor's command lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "issues/KVDTabborIssue.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace platform = kvd::platform;
using kvd::sim::SimComObjects;
using kvd::sim::SimMachine;

constexpr const wchar_t* kDataKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003"
    L"\\Devicedata";
constexpr const wchar_t* kBin = L"C:\\Program Files (x86)\\Quvari\\Brevane\\bin\\";
constexpr const wchar_t* kClasses = L"SOFTWARE\\Wow6432Node\\Classes\\CLSID\\";
constexpr platform::HKey kMachine = platform::kHkeyLocalMachine;

const platform::Guid kServerClass =
    *platform::GuidFromText(L"{B3E91A27-5C40-4F6D-9A18-7E2C05D4F961}");
const platform::Guid kServerInterface =
    *platform::GuidFromText(L"{4A7F2C90-E1B3-4D58-8C6E-91F0A3B5D274}");
const platform::Guid kConfiguration =
    *platform::GuidFromText(L"{3E0D042F-E24E-4A03-85C1-DA919F97C9B3}");
const platform::Guid kDestination =
    *platform::GuidFromText(L"{C8D05E14-3B7A-4E92-B5F1-2A69D0E7C3A8}");

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"QVSCANFLOW", "Scan flow"}};
  for (const char* key :
       {"SCAN_FLOW_OK", "TABBOR_WIN7_UPGRADE_ISSUE", "SCAN_FLOW_NOT_FOUND_WIA_OK_TARVEL",
        "SCAN_FLOW_NOT_FOUND_WIA_FAIL_TARVEL", "SCAN_FLOW_NOT_FOUND_WIA_OK",
        "SCAN_FLOW_NOT_FOUND_WIA_FAIL"}) {
    texts.push_back({key, key});
  }
  return texts;
}

// The destination server with two destinations; `change` alters a kind before it is defined.
void InstallDestinationServer(
    SimMachine& sim,
    const std::function<void(const std::wstring&, SimComObjects::Kind&)>& change = {}) {
  std::vector<std::pair<std::wstring, SimComObjects::Kind>> kinds = {
      {L"server", {{kServerInterface}, {{7, L"list"}, {9, L"config"}}, {}, {}, {}, {}}},
      {L"list", {{}, {}, {{8, 2}}, {{7, {L"email", L"folder"}}}, {}, {}}},
      {L"config", {{kConfiguration}, {}, {}, {}, {}, {}}},
      {L"email", {{kDestination}, {}, {}, {}, {{8, L"Email"}}, {}}},
      {L"folder", {{kDestination}, {}, {}, {}, {{8, L"Folder"}}, {}}},
  };
  for (auto& [name, kind] : kinds) {
    if (change) change(name, kind);
    sim.Com().DefineKind(name, kind);
  }
  sim.Com().RegisterClass(kServerClass, L"server");
}

class TabborIssue : public ::testing::Test {
 protected:
  void SetUp() override { Prepare(sim_); }
  void TearDown() override { g_bWin7 = false; }

  static void Prepare(SimMachine& sim) {
    for (const char* scenario :
         {"usb-aio-composite.xml", "suite-tools.xml", "suite-registry.xml", "suite-scanflow.xml"}) {
      kvd::test::ApplyNamed(scenario, sim);
    }
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim, Texts()));
  }
  DeviceDetails Device() const {
    DeviceDetails device;
    device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
    device.strDeviceDesc = L"Quvari AIO 3400 Series";
    return device;
  }

  SimMachine sim_;
  kvd::test::SimLog log_{sim_};
};

TEST_F(TabborIssue, ACompleteScanFlowPassesAndListsTheDestinations) {
  InstallDestinationServer(sim_);
  CKVDTabborIssue check(sim_.Ports());
  log_.Take();
  check.m_nErrorCode = 1234;
  EXPECT_EQ(check.Diagnose(Device()), 107);
  EXPECT_EQ(check.m_nStatus, 1);
  EXPECT_EQ(check.m_strMessage, L"SCAN_FLOW_OK");
  EXPECT_EQ(check.m_strName, L"Scan flow");
  EXPECT_EQ(check.m_nErrorCode, 1234);  // a pass leaves it
  EXPECT_EQ(
      log_.Texts(L"I0"),
      (std::vector<std::wstring>{L"Diagnoses Tabbor Issue.", L"The scan destination Found : Email",
                                 L"The scan destination Found : Folder", L"Tabbor OK."}));
  EXPECT_EQ(sim_.Com().LiveObjects(), 0u);
  EXPECT_EQ(sim_.Com().BadReleases(), 0u);
  EXPECT_EQ(sim_.Com().ComDepth(), 0);
  EXPECT_EQ(check.Fix(Device(), 0), 1);
}

TEST_F(TabborIssue, WhatIsMissing) {
  using Setup = std::function<void(SimMachine&, DeviceDetails&)>;
  const auto remove = [](const wchar_t* file) {
    return
        [file](SimMachine& sim, DeviceDetails&) { sim.Files().Remove(std::wstring(kBin) + file); };
  };
  const auto unregister = [](const wchar_t* classId, const wchar_t* server) {
    return [classId, server](SimMachine& sim, DeviceDetails&) {
      sim.Registry().RemoveKey(kMachine, std::wstring(kClasses) + classId + server);
    };
  };
  struct Case {
    const char* name;
    Setup setup;
    bool twainPassed;
    int result;
    int errorCode;         // 0: none
    const wchar_t* debug;  // a debug record that must be written, or null
  };
  const Case cases[] = {
      {"Ambrell.twain not registered",
       unregister(CKVDTabborIssue::kAmbrellTwain, L"\\LocalServer32"), false, 0, 1074,
       L"Ambrell.twain not present."},
      {"the TWAIN scan passed: the components are not asked",
       unregister(CKVDTabborIssue::kAmbrellTwain, L""), true, 107, 0, nullptr},
      {"an empty handler: absent without a message",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(
             kMachine,
             std::wstring(kClasses) + CKVDTabborIssue::kAmbrellTwain + L"\\InprocHandler32", L"",
             L"  ");
       },
       false, 0, 1074, nullptr},
      {"Ambrell.scan's server file missing", remove(L"qvambrell.exe"), false, 0, 1074,
       L"File not exists . Path : C:\\Program Files (x86)\\Quvari\\Brevane\\bin\\qvambrell.exe"},
      {"Ambrell.scan not registered",
       unregister(CKVDTabborIssue::kAmbrellScan, L"\\InprocHandler32"), false, 0, 1075,
       L"Ambrell.scan not present."},
      {"Tovrin in its second form",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().RemoveKey(kMachine, std::wstring(kClasses) + CKVDTabborIssue::kTovrin);
         sim.Registry().PutString(
             kMachine,
             std::wstring(kClasses) + CKVDTabborIssue::kTovrinSecond + L"\\InprocServer32", L"",
             std::wstring(kBin) + L"qvtovrin.dll");
       },
       false, 107, 0, nullptr},
      {"no Tovrin", unregister(CKVDTabborIssue::kTovrin, L""), false, 0, 1076,
       L"Tovrin not present."},
      {"no Tabbor", remove(L"qvtabbor.exe"), true, 0, 1077, nullptr},
      {"the older Fluxrail",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Files().Remove(std::wstring(kBin) + L"qvfluxex.dll");
         sim.Files().PutFile(std::wstring(kBin) + L"qvflux.dll", {'M', 'Z'});
       },
       true, 107, 0, nullptr},
      {"no Fluxrail", remove(L"qvfluxex.dll"), true, 0, 1078, nullptr},
      {"the older Corvid",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Files().Remove(std::wstring(kBin) + L"qvcorvid.dll");
         sim.Files().PutFile(std::wstring(kBin) + L"qvOldFlow.wcf", {'M', 'Z'});
       },
       true, 107, 0, nullptr},
      {"no Corvid", remove(L"qvcorvid.dll"), true, 0, 1079, nullptr},
      {"no suite folder: nothing is looked for on the current drive",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(kMachine, L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane",
                                  L"InstallFolder", L"");
         sim.Files().PutFile(L"C:\\Brevane\\bin\\qvtabbor.exe", {'M', 'Z'});
       },
       true, 0, 1077, nullptr},
      {"an identifier of blanks: no message",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(kMachine, kDataKey, L"KLEDeviceID", L"   ");
       },
       true, 0, 1080, nullptr},
      {"no identifier",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutDword(kMachine, kDataKey, L"KLEDeviceID", 7);
       },
       true, 0, 1080,
       L"Failed to get the KLE_DEVICE_ID from regsitry for run the Tabbor exe. Path : "
       L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003"
       L"\\Devicedata"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim;
    Prepare(sim);
    kvd::test::SimLog log(sim);
    DeviceDetails device = Device();
    c.setup(sim, device);
    const bool twain = c.twainPassed;
    CKVDTabborIssue check(sim.Ports(), {[] { return false; }, [twain] { return twain; }});
    log.Take();
    EXPECT_EQ(check.Diagnose(device), c.result);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    const auto debug = log.Texts(L"DB");
    if (c.debug != nullptr) {
      EXPECT_NE(std::find(debug.begin(), debug.end(), c.debug), debug.end());
    }
  }
}

TEST_F(TabborIssue, TheOutcomes) {
  struct Case {
    const char* name;
    bool win7Problem;
    bool tarvel;
    bool wiaPassed;
    bool twainPassed;
    const wchar_t* key;
    int status;
    int buttons;
  };
  const Case cases[] = {
      {"the upgrade problem after the TWAIN scan passed", true, false, false, true,
       L"TABBOR_WIN7_UPGRADE_ISSUE", 3, 90},
      {"the upgrade problem, no scan passed", true, true, false, false,
       L"TABBOR_WIN7_UPGRADE_ISSUE", 2, 96},
      {"Tarvel after the Windows scan passed", false, true, true, false,
       L"SCAN_FLOW_NOT_FOUND_WIA_OK_TARVEL", 3, 90},
      {"Tarvel, the Windows scan failed (TWAIN does not count)", false, true, false, true,
       L"SCAN_FLOW_NOT_FOUND_WIA_FAIL_TARVEL", 2, 96},
      {"all-in-one after the Windows scan passed", false, false, true, false,
       L"SCAN_FLOW_NOT_FOUND_WIA_OK", 3, 90},
      {"all-in-one, no scan passed", false, false, false, false, L"SCAN_FLOW_NOT_FOUND_WIA_FAIL", 2,
       96},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_bWin7 = c.win7Problem;  // and no KLE version registered
    DeviceDetails device = Device();
    device.bTarvel = c.tarvel;
    const bool wia = c.wiaPassed;
    const bool twain = c.twainPassed;
    CKVDTabborIssue check(sim_.Ports(), {[wia] { return wia; }, [twain] { return twain; }});
    check.m_bSimulate = true;
    check.m_nSimulatedCase = 5;
    check.m_nErrorCode = 77;
    EXPECT_EQ(check.Diagnose(device), 5);
    EXPECT_EQ(check.m_strMessage, c.key);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nButtons, c.buttons);
    EXPECT_EQ(check.m_nErrorCode, 77);
    EXPECT_FALSE(check.m_bSimulate);
  }
}

TEST_F(TabborIssue, TheListingGivesEveryReferenceBackWhereverItStops) {
  struct Case {
    const char* name;
    const wchar_t* kind;
    unsigned slot;
    const wchar_t* record;
    std::size_t found;  // destinations logged
  };
  const Case cases[] = {
      {"no server", nullptr, 0, L"Destination Server (Component) initialization FAILED", 0},
      {"no list", L"server", 7, L"Failed while getting destination list.", 0},
      {"no count", L"list", 8, L"Failed while getting destination count.", 0},
      {"no configuration", L"server", 9, L"Failed while getting the destination configuration.", 0},
      {"no item", L"list", 7, L"Failed while getting destination count.", 0},
      {"no description", L"folder", 8, L"Failed while looking for description ", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim;
    Prepare(sim);
    kvd::test::SimLog log(sim);
    if (c.kind != nullptr) {
      InstallDestinationServer(sim, [&c](const std::wstring& name, SimComObjects::Kind& kind) {
        if (name == c.kind) kind.failures[c.slot] = platform::hr::Fail;
      });
    }
    CKVDTabborIssue check(sim.Ports(), {{}, [] { return true; }});
    log.Take();
    EXPECT_EQ(check.Diagnose(Device()), 107);  // the listing never decides
    std::vector<std::wstring> debug;
    std::size_t found = 0;
    for (const auto& record : log.Take()) {
      if (record.tag == L"DB") debug.push_back(record.text);
      if (record.text.rfind(L"The scan destination Found : ", 0) == 0) ++found;
    }
    EXPECT_NE(std::find(debug.begin(), debug.end(), c.record), debug.end());
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(sim.Com().LiveObjects(), 0u);
    EXPECT_EQ(sim.Com().BadReleases(), 0u);
    EXPECT_EQ(sim.Com().ComDepth(), 0);
  }
}

TEST(TabborCommandLines, KeepEveryBlank) {
  EXPECT_EQ(CKVDTabborIssue::ScanCommandLine(L"#Quvari#aio#0000"),
            L" -n  \"#Quvari#aio#0000\" -a  SCAN -f  SCAN_DOCUMENT");
  EXPECT_EQ(CKVDTabborIssue::ButtonSettingsCommandLine(L"#Quvari#aio#0000"),
            L" -n  \"#Quvari#aio#0000\" -a SETTINGS -f SCAN_BUTTON -b SCAN_TO");
}

}  // namespace
