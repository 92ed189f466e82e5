// The driver check against simulated scanner components: the scan-folder setting, the session
// steps and what each failure shows, the flatbed and feeder scans with their records, and the
// repair through the driver refresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/CheckTable.h"
#include "discovery/DeviceRegistry.h"
#include "engine/DiagnosticMgr.h"
#include "issues/KVDDriverIssue.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace platform = kvd::platform;
using kvd::sim::SimCrocan;

constexpr const wchar_t* kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0007";
constexpr const wchar_t* kClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0007";
constexpr const wchar_t* kScannerClass = L"{1D0C2B3A-4E5F-4A6B-8C7D-9E0F1A2B3C4D}";
constexpr const wchar_t* kFriendlyName = L"Quvari AIO 3400 Series";

std::wstring DataKey() { return std::wstring(kClassKey) + L"\\DeviceData"; }

class DriverIssue : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        kvd::test::LoadTestStrings(sim_, {{"DRIVER", "Driver"},
                                          {"CROCAN_OK", "ok"},
                                          {"CROCAN_FAILED_TO_COMMUNICATE", "communicate"},
                                          {"DEVICE_IN_USE", "in use"},
                                          {"CROCAN_USER_CANCELLED", "cancelled"},
                                          {"NETWORK_BUSY", "busy"},
                                          {"UPDATE_SCAN_DRIVER", "update"},
                                          {"CROCAN_FAILED_SET_PARAMETER_ADF", "feeder"},
                                          {"CROCAN_UNKNOWN", "unknown"},
                                          {"CROCAN_RETEST", "retest"},
                                          {"FAILED_UPDATE_SCAN_DRIVER", "refresh failed"}}));
    g_hListenEvent = sim_.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    auto& registry = sim_.Registry();
    registry.PutString(platform::kHkeyLocalMachine, kClassKey, L"CreateFileName", L"QVScan");
    registry.PutString(platform::kHkeyLocalMachine, DataKey(), L"CrocanCLSID", kScannerClass);
    device_.strFriendlyName = kFriendlyName;
    device_.strDriverKey = kDriverKey;
    scanner_.friendlyName = kFriendlyName;
    scanner_.classId = *platform::GuidFromText(kScannerClass);
    page_ = sim_.Messages().CreateWindow(
        [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t) -> std::intptr_t {
          if (message == msg::Progress) progress_.push_back(static_cast<int>(wParam));
          return 0;
        });
    log_.Take();
  }
  void TearDown() override { sim_.Ports().sync.CloseHandle(g_hListenEvent.exchange(0)); }

  // The check made and run once with the scanner as set up.
  int Run(CKVDDriverIssue::Repair repair = {}) {
    sim_.Crocan().AddScanner(scanner_);
    check_ = std::make_unique<CKVDDriverIssue>(sim_.Ports(), std::move(repair));
    check_->SetHandle(page_);
    return check_->Diagnose(device_);
  }
  void AllowFeeder() {
    device_.bTarvel = true;
    sim_.Registry().PutDword(platform::kHkeyLocalMachine, DataKey(), L"TMASupported", 0);
    sim_.Registry().PutDword(platform::kHkeyLocalMachine, DataKey(), L"ADFSupported", 1);
    scanner_.hasFeeder = true;
  }
  bool Signalled() { return sim_.Ports().sync.WaitForSingleObject(g_hListenEvent, 0) == 0; }
  // Nothing of the conversation is left open, whatever way it ended.
  void ExpectAllGivenBack() {
    EXPECT_EQ(sim_.Crocan().OpenSessions(), 0u);
    EXPECT_FALSE(sim_.Crocan().Locked());
    EXPECT_EQ(sim_.Crocan().LiveObjects(), 0u);
    EXPECT_EQ(sim_.Crocan().ComDepth(), 0);
  }
  std::vector<std::wstring> CallsNamed(const std::wstring& prefix) {
    std::vector<std::wstring> named;
    for (const auto& call : sim_.Crocan().Calls()) {
      if (call.rfind(prefix, 0) == 0) named.push_back(call);
    }
    return named;
  }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  DeviceDetails device_;
  SimCrocan::Scanner scanner_;
  platform::WindowHandle page_ = 0;
  std::vector<int> progress_;
  std::unique_ptr<CKVDDriverIssue> check_;
};

TEST_F(DriverIssue, AFlatbedScanThatWorks) {
  EXPECT_EQ(Run(), 107);
  sim_.Messages().RunUntilIdle();
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->m_strMessage, L"ok");
  EXPECT_EQ(check_->m_nButtons, 0);
  EXPECT_EQ(check_->m_strName, L"Driver");
  // 100 lines of 2550 bytes: 12 lines a read, eight whole reads and one of four lines.
  const std::vector<std::wstring> expected = {
      L"CreateScannerManager",
      std::wstring(L"GetScannerByFriendlyName2 ") + kFriendlyName,
      L"CreateScanner {1d0c2b3a-4e5f-4a6b-8c7d-9e0f1a2b3c4d}",
      L"OpenScannerSession QVSCAN0 1",
      L"LockScanner 0 30000",
      L"GetScannerCapabilities",
      L"ResetScanner",
      L"GetLampStatus",
      L"InitializeScanner",
      L"ExtensionCall 3",
      L"SetGammaTable 256",
      L"SetScannerParameters 300 300",
      L"GetBufferInfo",
      L"StartScan",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 30600",
      L"ReadScan 10200",
      L"StopScan",
      L"UnlockScanner",
      L"CloseScannerSession",
  };
  EXPECT_EQ(sim_.Crocan().Calls(), expected);
  EXPECT_EQ(progress_,
            (std::vector<int>{5, 10, 15, 20, 25, 30, 35, 40, 40, 50, 60, 70, 80, 90, 65}));
  // The lamp was on: no warm-up; the settling wait after the scan.
  EXPECT_EQ(sim_.Clock().Sleeps(), std::vector<std::uint32_t>{22000});
  EXPECT_TRUE(Signalled());
  EXPECT_TRUE(sim_.Crocan().GammaTablesEqual());
  const auto records = log_.Take();
  for (const wchar_t* text :
       {L"Diagnoses the Driver Issue.", L"Scan Folder OK.", L"Crocan Scan OK"}) {
    EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"I0", text)) << text;
  }
  for (const wchar_t* text : {L"CheckCreateFileName Success", L"OpenScannerSession Success",
                              L"LampOn Success", L"SetGammaTable Success", L"ReadScan Success"}) {
    EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"DB", text)) << text;
  }
  ExpectAllGivenBack();
}

TEST_F(DriverIssue, TheLampIsSwitchedOnAndWarmsUp) {
  scanner_.lampOn = false;
  scanner_.warmUpSeconds = 3;
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(CallsNamed(L"LampOn").size(), 1u);
  EXPECT_EQ(sim_.Clock().Sleeps(), (std::vector<std::uint32_t>{1000, 1000, 1000, 22000}));
}

TEST_F(DriverIssue, AnAbsurdWarmUpIsCut) {
  scanner_.lampOn = false;
  scanner_.warmUpSeconds = 65535;
  EXPECT_EQ(Run(), 107);
  const auto sleeps = sim_.Clock().Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 120);
}

// The scan parameters: the capability resolution, at least 150 dpi, and once more at the
// capability's own when the component answers status 2.
TEST_F(DriverIssue, TheScanResolutionHasAFloor) {
  scanner_.resolution = 100;
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(CallsNamed(L"SetScannerParameters"),
            std::vector<std::wstring>{L"SetScannerParameters 150 150"});
}

TEST_F(DriverIssue, StatusTwoScansAtTheCapabilityResolution) {
  scanner_.resolution = 100;
  sim_.Crocan().Fail("SetScannerParameters", 2, 1);
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(CallsNamed(L"SetScannerParameters"),
            (std::vector<std::wstring>{L"SetScannerParameters 150 150",
                                       L"SetScannerParameters 100 100"}));
}

TEST_F(DriverIssue, TheScanFolderSettingComesFirst) {
  struct Case {
    const char* name;
    bool present;
    const wchar_t* value;
  };
  for (const Case& c : {Case{"missing", false, L""}, Case{"empty", true, L""}}) {
    SCOPED_TRACE(c.name);
    if (sim_.Registry().KeyExists(platform::kHkeyLocalMachine, kClassKey)) {
      sim_.Registry().RemoveKey(platform::kHkeyLocalMachine, kClassKey);
    }
    if (c.present) {
      sim_.Registry().PutString(platform::kHkeyLocalMachine, kClassKey, L"CreateFileName", c.value);
    }
    progress_.clear();
    EXPECT_EQ(Run(), 109);
    sim_.Messages().RunUntilIdle();
    EXPECT_EQ(check_->m_nErrorCode, 1037);
    EXPECT_EQ(check_->m_strMessage, L"update");
    EXPECT_EQ(check_->m_nButtons, 0x162);
    EXPECT_EQ(check_->m_nStatus, 2);
    EXPECT_EQ(progress_, std::vector<int>{100});
    EXPECT_TRUE(Signalled());
    EXPECT_TRUE(sim_.Crocan().Calls().empty());
    const auto records = log_.Take();
    EXPECT_TRUE(kvd::test::SimLog::Contains(
        records, L"DB",
        std::wstring(L"Failed to get CreateFileName from registry Path : ") + kClassKey));
  }
}

// A record without a driver key has no scan-folder setting (and reads no class root).
TEST_F(DriverIssue, NoDriverKeyNoScanFolder) {
  device_.strDriverKey.clear();
  EXPECT_EQ(Run(), 109);
  EXPECT_EQ(check_->m_nErrorCode, 1037);
}

// One failing step: what it returns and shows, and that the conversation ends cleanly.
struct StepCase {
  const char* name;
  const char* method;  // the failing method ("" for a set-up of its own)
  std::uint32_t status;
  int result;
  int errorCode;
  const wchar_t* message;
  int buttons;
  const wchar_t* logged;  // the failure's debug record
};

void PrintTo(const StepCase& c, std::ostream* out) { *out << c.name; }

class DriverIssueStep : public DriverIssue, public ::testing::WithParamInterface<StepCase> {};

TEST_P(DriverIssueStep, FailsAndGivesEverythingBack) {
  const StepCase& c = GetParam();
  const std::string method = c.method;
  if (method == "manager") {
    sim_.Crocan().SetManagerRegistered(false);
  } else if (method == "name") {
    scanner_.friendlyName = L"Another Scanner";
  } else if (method == "no class") {
    sim_.Registry().RemoveKey(platform::kHkeyLocalMachine, DataKey());
  } else if (method == "other class") {
    sim_.Registry().PutString(platform::kHkeyLocalMachine, DataKey(), L"CrocanCLSID",
                              L"{00000000-1111-2222-3333-444444444444}");
  } else if (method == "LampOn") {
    scanner_.lampOn = false;
    sim_.Crocan().Fail(method, c.status);
  } else if (method == "throw") {
    sim_.Crocan().ThrowOn("ReadScan");
  } else {
    sim_.Crocan().Fail(method, c.status);
  }
  EXPECT_EQ(Run(), c.result);
  sim_.Messages().RunUntilIdle();
  EXPECT_EQ(check_->m_nErrorCode, c.errorCode);
  EXPECT_EQ(check_->m_strMessage, c.message);
  EXPECT_EQ(check_->m_nButtons, c.buttons);
  EXPECT_EQ(check_->m_nStatus, c.result == 16 ? 3 : 2);
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.back(), 100);
  EXPECT_EQ(sim_.Clock().Sleeps().back(), 1000u);
  EXPECT_TRUE(Signalled());
  EXPECT_TRUE(kvd::test::SimLog::Contains(log_.Take(), L"DB", c.logged));
  ExpectAllGivenBack();
}

constexpr int kCommunicate = 0x6A;
constexpr int kUnknown = 0x72;
INSTANTIATE_TEST_SUITE_P(
    EachStep, DriverIssueStep,
    ::testing::Values(StepCase{"no manager", "manager", 0, 100017, 1025, L"unknown", kUnknown,
                               L"Failed to Create CLSID_QVScnMgr Instance"},
                      StepCase{"unknown name", "name", 0, 3, 1026, L"communicate", kCommunicate,
                               L"GetScannerByFriendlyName2 Failed for : Quvari AIO 3400 Series"},
                      StepCase{"no class id", "no class", 0, 100017, 1025, L"unknown", kUnknown,
                               L"Failed to Create CLSID_Iscanner from "},
                      StepCase{"class not registered", "other class", 0, 100017, 1025, L"unknown",
                               kUnknown, L"Failed to Create CLSID_QVScnMgr Instance"},
                      StepCase{"open, in use", "OpenScannerSession", 5, 5, 1028, L"in use", 0x4A,
                               L"Failed to OpenScannerSession"},
                      StepCase{"lock, network busy", "LockScanner", 18, 18, 1029, L"busy", 0x5A,
                               L"Failed to LockScanner"},
                      StepCase{"capabilities, cancelled", "GetScannerCapabilities", 16, 16, 1030,
                               L"cancelled", 0x42, L"Failed to GetScannerCapabilities"},
                      StepCase{"reset", "ResetScanner", 3, 3, 1142, L"communicate", kCommunicate,
                               L"Failed to ResetScanner"},
                      StepCase{"lamp status, feeder parameters", "GetLampStatus", 120, 120, 1031,
                               L"feeder", kCommunicate, L"Failed to GetLampStatus"},
                      StepCase{"lamp on, another status", "LampOn", 44, 44, 1143, L"unknown",
                               kUnknown, L"Failed to LampOn"},
                      StepCase{"initialise", "InitializeScanner", 5, 12, 1143, L"communicate",
                               kCommunicate, L"Failed to InitializeScanner"},
                      StepCase{"gamma", "SetGammaTable", 5, 12, 12, L"communicate", kCommunicate,
                               L"Failed to SetGammaTable"},
                      StepCase{"parameters", "SetScannerParameters", 5, 12, 1032, L"communicate",
                               kCommunicate, L"Failed to SetScannerParameters"},
                      StepCase{"buffer info", "GetBufferInfo", 5, 12, 1033, L"communicate",
                               kCommunicate, L"Failed to GetBufferInfo"},
                      StepCase{"start", "StartScan", 18, 18, 1034, L"busy", 0x5A,
                               L"Failed to StartScan.Error Code: 18"},
                      StepCase{"read", "ReadScan", 3, 3, 1035, L"communicate", kCommunicate,
                               L"Failed to ReadScan"},
                      StepCase{"stop", "StopScan", 16, 16, 1036, L"cancelled", 0x42,
                               L"Failed to StopScan"},
                      // A failure whose status reads as this check's pass is no pass.
                      StepCase{"status 107", "OpenScannerSession", 107, 0, 1028, L"unknown",
                               kUnknown, L"Failed to OpenScannerSession"},
                      StepCase{"an exception", "throw", 0, 9, 100017, L"unknown", kUnknown,
                               L"Unkown error occured."}),
    [](const ::testing::TestParamInfo<StepCase>& param) {
      std::string name;
      for (const char* c = param.param.name; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
      }
      return name;
    });

TEST_F(DriverIssue, AMissingClassIdIsLogged) {
  sim_.Registry().RemoveKey(platform::kHkeyLocalMachine, DataKey());
  EXPECT_EQ(Run(), 100017);
  EXPECT_TRUE(kvd::test::SimLog::Contains(
      log_.Take(), L"DB",
      L"Failed to get the value of CrocanCLSID from resgistry . Path : " +
          CDeviceRegistry::DeviceDataKey(kDriverKey)));
}

// Records the components may fill badly: lines of no bytes, lines longer than the read block,
// gamma tables that cannot be built, two-byte gamma entries.
TEST_F(DriverIssue, LinesOfNoBytesAreRefused) {
  scanner_.bytesPerLine = 0;
  EXPECT_EQ(Run(), 12);
  EXPECT_EQ(check_->m_nErrorCode, 1033);
  EXPECT_TRUE(CallsNamed(L"ReadScan").empty());
  ExpectAllGivenBack();
}

TEST_F(DriverIssue, ALineLongerThanTheBlockIsReadByItself) {
  scanner_.bytesPerLine = 40000;
  scanner_.lines = 3;
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(CallsNamed(L"ReadScan"), std::vector<std::wstring>(3, L"ReadScan 40000"));
}

TEST_F(DriverIssue, GammaTables) {
  scanner_.gammaEntries = 1024;
  scanner_.gammaMax = 4095;
  scanner_.gammaBytes = 2;
  EXPECT_EQ(Run(), 107);
  EXPECT_EQ(CallsNamed(L"SetGammaTable"), std::vector<std::wstring>{L"SetGammaTable 2048"});
  const auto table = sim_.Crocan().LastGammaTable();
  ASSERT_EQ(table.size(), 2048u);
  EXPECT_EQ(table[2046] | (table[2047] << 8), 4095);
  EXPECT_TRUE(sim_.Crocan().GammaTablesEqual());
}

TEST_F(DriverIssue, AGammaTableThatCannotBeBuilt) {
  scanner_.gammaBytes = 3;
  EXPECT_EQ(Run(), 12);
  EXPECT_EQ(check_->m_nErrorCode, 12);
  EXPECT_TRUE(CallsNamed(L"SetGammaTable").empty());
  ExpectAllGivenBack();
}

// The feeder of a Tarvel device: every waiting page fed, scanned and read, and the ways it ends.
TEST_F(DriverIssue, TwoPagesThroughTheFeeder) {
  AllowFeeder();
  scanner_.ready = {1, 1, 2};
  scanner_.lines = 10;
  scanner_.bytesPerLine = 5000;  // 6 lines a read: 6 + 4
  EXPECT_EQ(Run(), 107);
  sim_.Messages().RunUntilIdle();
  const std::vector<std::wstring> page = {
      L"ADFPaperFeed",       L"GetBufferInfo", L"StartScan", L"ReadScanData 30000",
      L"ReadScanData 20000", L"StopScan",      L"ADFIsReady"};
  std::vector<std::wstring> expected = {L"InitializeScanner", L"SetGammaTable 256",
                                        L"SetScannerParameters 300 300",
                                        L"GetADFScannerCapabilities", L"ADFIsReady"};
  for (int i = 0; i < 2; ++i) expected.insert(expected.end(), page.begin(), page.end());
  expected.insert(expected.end(), {L"UnlockScanner", L"CloseScannerSession"});
  const auto calls = sim_.Crocan().Calls();
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::wstring>(calls.end() - static_cast<std::ptrdiff_t>(expected.size()),
                                      calls.end()),
            expected);
  // No progress while the feeder scans, no extension call, the settling wait.
  EXPECT_EQ(progress_, (std::vector<int>{5, 10, 15, 20, 25, 65}));
  EXPECT_TRUE(CallsNamed(L"ExtensionCall").empty());
  EXPECT_EQ(sim_.Clock().Sleeps(), std::vector<std::uint32_t>{22000});
  ExpectAllGivenBack();
}

TEST_F(DriverIssue, FeederEndings) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> ready;
    bool feeder;
    const char* failing;  // method, status
    std::uint32_t status;
    int result;
    int errorCode;
    std::size_t feeds;
  };
  const Case cases[] = {
      {"no paper: nothing fed", {2}, true, "", 0, 107, 0, 0},
      {"no feeder interface: a pass without a scan", {1}, false, "", 0, 107, 0, 0},
      {"a read failing with 106 goes on", {1, 2}, true, "ReadScanData", 106, 107, 0, 1},
      {"a read failing with 102 goes on", {1, 2}, true, "ReadScanData", 102, 107, 0, 1},
      {"another read failure ends it", {1, 2}, true, "ReadScanData", 3, 3, 1035, 1},
      {"not ready, asking fails", {0}, true, "ADFIsReady", 18, 18, 1030, 0},
      {"the feed fails", {1}, true, "ADFPaperFeed", 5, 5, 1030, 1},
      {"its capabilities fail", {1}, true, "GetADFScannerCapabilities", 16, 16, 1030, 0},
      {"start fails", {1}, true, "StartScan", 18, 18, 1034, 1},
      {"stop fails", {1}, true, "StopScan", 3, 3, 1036, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    // A machine of its own for each case, set up as the fixture's.
    sim.Registry().PutString(platform::kHkeyLocalMachine, kClassKey, L"CreateFileName", L"x");
    sim.Registry().PutString(platform::kHkeyLocalMachine, DataKey(), L"CrocanCLSID", kScannerClass);
    sim.Registry().PutDword(platform::kHkeyLocalMachine, DataKey(), L"TMASupported", 0);
    sim.Registry().PutDword(platform::kHkeyLocalMachine, DataKey(), L"ADFSupported", 1);
    SimCrocan::Scanner scanner = scanner_;
    scanner.hasFeeder = c.feeder;
    scanner.ready = c.ready;
    sim.Crocan().AddScanner(scanner);
    if (*c.failing != '\0') sim.Crocan().Fail(c.failing, c.status, 1);
    DeviceDetails device = device_;
    device.bTarvel = true;
    CKVDDriverIssue check(sim.Ports());
    EXPECT_EQ(check.Diagnose(device), c.result);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    std::size_t feeds = 0;
    for (const auto& call : sim.Crocan().Calls()) feeds += call == L"ADFPaperFeed" ? 1 : 0;
    EXPECT_EQ(feeds, c.feeds);
    EXPECT_EQ(sim.Crocan().OpenSessions(), 0u);
    EXPECT_FALSE(sim.Crocan().Locked());
    EXPECT_EQ(sim.Crocan().LiveObjects(), 0u);
  }
}

// A feeder that never gets ready is given up after a minute of polls, not waited for forever
// with the scanner locked.
TEST_F(DriverIssue, AFeederThatNeverGetsReady) {
  AllowFeeder();
  scanner_.ready = {0};
  EXPECT_EQ(Run(), 12);
  EXPECT_EQ(check_->m_nErrorCode, 1030);
  const auto sleeps = sim_.Clock().Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 100u), 600);
  ExpectAllGivenBack();
}

// A Tarvel device whose driver reports no feeder, and a feeder device of another family, scan
// the flatbed.
TEST_F(DriverIssue, TheFlatbedUnlessATarvelWithAFeeder) {
  AllowFeeder();
  device_.bTarvel = false;
  EXPECT_EQ(Run(), 107);
  EXPECT_FALSE(CallsNamed(L"ReadScan ").empty());
  EXPECT_TRUE(CallsNamed(L"ADFIsReady").empty());
}

TEST_F(DriverIssue, Simulation) {
  check_ = std::make_unique<CKVDDriverIssue>(sim_.Ports());
  check_->m_bSimulate = true;
  check_->m_nSimulatedCase = 5;
  EXPECT_EQ(check_->Diagnose(device_), 5);
  EXPECT_EQ(check_->m_strMessage, L"in use");
  EXPECT_EQ(check_->m_nButtons, 0x4A);
  EXPECT_FALSE(check_->m_bSimulate);
  check_->m_bSimulate = true;
  check_->m_bSimulatePass = true;
  check_->m_nSimulatedCase = 107;
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->m_strMessage, L"ok");
  EXPECT_TRUE(sim_.Crocan().Calls().empty());
}

TEST_F(DriverIssue, TheRepairIsTheDriverRefresh) {
  int reruns = 0;
  int answer = 0;
  bool works = true;
  CKVDDriverIssue::Repair repair{[&](const DeviceDetails& device, int& errorCode) {
                                   EXPECT_EQ(device.strDriverKey, kDriverKey);
                                   errorCode = answer;
                                   return works;
                                 },
                                 [&] { ++reruns; }};
  check_ = std::make_unique<CKVDDriverIssue>(sim_.Ports(), repair);
  EXPECT_EQ(check_->Fix(device_, 109), 100);
  EXPECT_EQ(check_->m_strMessage, L"retest");
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->m_nButtons, 0);
  EXPECT_EQ(reruns, 1);
  works = false;
  answer = 1039;
  EXPECT_EQ(check_->Fix(device_, 109), 2000);
  EXPECT_EQ(check_->m_strMessage, L"refresh failed");
  EXPECT_EQ(check_->m_nStatus, 2);
  EXPECT_EQ(check_->m_nButtons, 0x60);
  EXPECT_EQ(check_->m_nErrorCode, 1039);
  EXPECT_EQ(reruns, 1);
}

// After a successful repair the manager runs the fixed check again instead of moving on.
TEST_F(DriverIssue, TheManagerRunsTheCheckAgainAfterItsRepair) {
  CheckTable table = ProgramCheckTable();
  CDiagnosticMgr* manager = nullptr;
  table[2].factory = [&manager](platform::Platform& ports) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDDriverIssue>(
        ports, CKVDDriverIssue::Repair{[](const DeviceDetails&, int&) { return true; },
                                       [&manager] { manager->RunCurrentAgain(); }});
  };
  CDiagnosticMgr mgr(sim_.Ports(), table);
  manager = &mgr;
  mgr.SetEnumerator([this](std::vector<DeviceDetails>& devices) { devices = {device_}; });
  sim_.Ports().sync.SetEvent(g_hListenEvent);  // the device page's acknowledgement
  mgr.Init();
  mgr.JoinThreads();
  mgr.m_nCurrentIssue = 2;
  EXPECT_TRUE(mgr.Fix(0));
  EXPECT_EQ(mgr.m_nCurrentIssue.load(), 2);
  mgr.Shutdown();
}

}  // namespace
