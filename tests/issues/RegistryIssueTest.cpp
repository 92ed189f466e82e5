// The registry consistency check against the suite's registration of the composite all-in-one
// (suite-registry.xml): what each value that is missing or wrong gives, the profile write path
// repaired on the way, the identifier rebuilt, and the repairs of the class index and through
// the driver refresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "issues/KVDRegistryMismatchIssue.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace platform = kvd::platform;
using kvd::sim::SimMachine;
using Check = CKVDRegistryMismatchIssue;

constexpr const wchar_t* kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
constexpr const wchar_t* kClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
constexpr const wchar_t* kDataKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003"
    L"\\Devicedata";
// As the 32-bit program's HKLM\SOFTWARE is stored on 64-bit Windows.
constexpr const wchar_t* kSuite = L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane";
constexpr const wchar_t* kModel = L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane\\Quvari AIO 3400 Series";
constexpr const wchar_t* kScan =
    L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane\\Quvari AIO 3400 Series\\DeviceInstances\\0000"
    L"\\Functions\\Scan";
constexpr const wchar_t* kProfile =
    L"C:\\ProgramData\\Application Data\\QV\\Brevane\\Data\\Destination\\profile.kle";
constexpr platform::HKey kMachine = platform::kHkeyLocalMachine;

std::vector<std::pair<std::string, std::string>> Texts() {
  std::vector<std::pair<std::string, std::string>> texts = {{"REGISTRY", "Registry"}};
  for (const char* key :
       {"REG_OK", "REG_CANNOT_FIX", "REG_FIX_FAIL", "REG_FIX_FAIL_SCAN_OK", "TWAIN_WIA_OK_REG_FAIL",
        "TWAIN_WIA_REG_FAIL", "UPDATE_SCAN_DRIVER_REG", "FAILED_UPDATE_SCAN_DRIVER"}) {
    texts.push_back({key, key});
  }
  return texts;
}

std::optional<std::wstring> Text(SimMachine& sim, const wchar_t* path, const wchar_t* name) {
  const auto value = sim.Registry().GetValue(kMachine, path, name);
  if (!value || value->type != platform::regtype::Sz) return std::nullopt;
  return platform::FromUtf16Bytes(value->bytes.data(), value->bytes.size());
}

class RegistryIssue : public ::testing::Test {
 protected:
  void SetUp() override {
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
    kvd::test::ApplyNamed("suite-registry.xml", sim_);
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim_, Texts()));
    device_.strDriverKey = kDriverKey;
    device_.strDeviceDesc = L"Quvari AIO 3400 Series";
    device_.strFriendlyName = L"Quvari AIO 3400 Series";
    services_.scanPassed = [this] { return scanPassed_; };
    services_.driver.refreshDrivers = [this](const DeviceDetails& device, int& errorCode) {
      refreshed_.push_back(device.strDriverKey);
      errorCode = refreshError_;
      return refreshError_ == 0;
    };
    services_.driver.runAgain = [this] { ++runAgain_; };
    check_ = std::make_unique<Check>(sim_.Ports(), services_);
    log_.Take();
  }

  SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  DeviceDetails device_;
  Check::Services services_;
  std::unique_ptr<Check> check_;
  bool scanPassed_ = false;
  int refreshError_ = 0;
  int runAgain_ = 0;
  std::vector<std::wstring> refreshed_;
};

TEST_F(RegistryIssue, AConsistentRegistrationPasses) {
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->m_strMessage, L"REG_OK");
  EXPECT_EQ(check_->m_strName, L"Registry");
  EXPECT_EQ(log_.Texts(L"I0"),
            (std::vector<std::wstring>{L"Diagnoses Registry issues.",
                                       L"Diagnoses ProfileWritePath Issue", L"ProfileWritePath OK.",
                                       L"Checks the regsitry mismatch.", L"Registry  OK."}));
  EXPECT_EQ(check_->m_strScanFunctionKey,
            L"SOFTWARE\\Quvari\\Brevane\\quvari aio 3400 series\\DeviceInstances\\0000"
            L"\\Functions\\Scan");
  EXPECT_EQ(check_->m_strImagingClassIndex, L"0003");
}

TEST_F(RegistryIssue, WhatEachProblemGives) {
  using Setup = std::function<void(SimMachine&, DeviceDetails&)>;
  struct Case {
    const char* name;
    Setup setup;
    bool scanPassed;
    int result;
    int errorCode;  // 0: none set
    const wchar_t* key;
    int status;
    int buttons;
  };
  const Setup noModel = [](SimMachine& sim, DeviceDetails&) {
    sim.Registry().PutValue(kMachine, kDataKey, L"ModelString", platform::regtype::Dword,
                            {1, 0, 0, 0});
  };
  const Setup twoInstances = [](SimMachine& sim, DeviceDetails&) {
    sim.Registry().PutString(kMachine, kDataKey, L"KLEDeviceID", L"   ");
    sim.Registry().PutKey(kMachine, std::wstring(kModel) + L"\\DeviceInstances\\0001");
  };
  const Case cases[] = {
      {"a model string of the wrong type", noModel, false, 109, 1065, L"UPDATE_SCAN_DRIVER_REG", 2,
       0x162},
      {"an empty model string",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(kMachine, kDataKey, L"ModelString", L"  ");
       },
       false, 109, 1066, L"UPDATE_SCAN_DRIVER_REG", 2, 0x162},
      {"no settings value, after a scan passed",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutValue(kMachine, kDataKey, L"LoadSettingsOnce", platform::regtype::Dword,
                                 {});
       },
       true, 109, 1067, L"UPDATE_SCAN_DRIVER_REG", 3, 0x162},
      {"the settings value as the text 2",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(kMachine, kDataKey, L"LoadSettingsOnce", L"2");
       },
       false, 109, 1068, L"UPDATE_SCAN_DRIVER_REG", 2, 0x162},
      {"two registered instances: no identifier", twoInstances, false, 119, 1069, L"REG_CANNOT_FIX",
       2, 0x62},
      {"no description: no model is the device's",
       [](SimMachine& sim, DeviceDetails& device) {
         sim.Registry().PutString(kMachine, kDataKey, L"KLEDeviceID", L"");
         device.strDeviceDesc = L" ";
       },
       true, 119, 1069, L"REG_CANNOT_FIX", 3, 0x62},
      {"no class index",
       [](SimMachine& sim, DeviceDetails&) { sim.Registry().RemoveKey(kMachine, kScan); }, false,
       110, 1070, L"TWAIN_WIA_REG_FAIL", 2, 0x41},
      {"a class index of the wrong type",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutDword(kMachine, kScan, L"ImagingClassIndex", 3);
       },
       false, 110, 1070, L"TWAIN_WIA_REG_FAIL", 2, 0x41},
      {"another instance's index, after a scan passed",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(kMachine, kScan, L"ImagingClassIndex", L"0004");
       },
       true, 110, 1071, L"TWAIN_WIA_OK_REG_FAIL", 3, 0x41},
      {"a driver key too short for an index",
       [](SimMachine& sim, DeviceDetails& device) {
         device.strDriverKey = L"X0003";
         const std::wstring data = L"SYSTEM\\CurrentControlSet\\Control\\Class\\X0003\\Devicedata";
         sim.Registry().PutString(kMachine, data, L"ModelString", L"AIO 3400");
         sim.Registry().PutDword(kMachine, data, L"LoadSettingsOnce", 2);
         sim.Registry().PutString(kMachine, data, L"KLEDeviceID",
                                  L"#Quvari#quvari aio 3400 series#0000");
       },
       false, 110, 1071, L"TWAIN_WIA_REG_FAIL", 2, 0x41},
      {"the index with blanks and the identifier rebuilt",
       [](SimMachine& sim, DeviceDetails&) {
         sim.Registry().PutString(kMachine, kScan, L"ImagingClassIndex", L" 0003 ");
         sim.Registry().PutString(kMachine, kDataKey, L"KLEDeviceID", L"\t ");
       },
       false, 107, 0, L"REG_OK", 1, 0},
      {"an Ostrel device without its scan-folder setting",
       [](SimMachine&, DeviceDetails& device) { device.bOstrel = true; }, false, 109, 0,
       L"UPDATE_SCAN_DRIVER_REG", 2, 0x162},
      {"an Ostrel device with it",
       [](SimMachine& sim, DeviceDetails& device) {
         device.bOstrel = true;
         sim.Registry().PutString(kMachine, kClassKey, L"CreateFileName", L"QVScan");
       },
       false, 107, 0, L"REG_OK", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim;
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim);
    kvd::test::ApplyNamed("suite-registry.xml", sim);
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim, Texts()));
    DeviceDetails device = device_;
    c.setup(sim, device);
    const bool passed = c.scanPassed;
    Check check(sim.Ports(), Check::Services{[passed] { return passed; }, {}});
    EXPECT_EQ(check.Diagnose(device), c.result);
    EXPECT_EQ(check.m_nErrorCode, c.errorCode);
    EXPECT_EQ(check.m_strMessage, c.key);
    EXPECT_EQ(check.m_nStatus, c.status);
    EXPECT_EQ(check.m_nButtons, c.buttons);
  }
}

TEST_F(RegistryIssue, TheIdentifierIsRebuiltFromTheSuitesRegistration) {
  sim_.Registry().RemoveKey(kMachine, kDataKey);
  sim_.Registry().PutString(kMachine, kDataKey, L"ModelString", L"AIO 3400");
  sim_.Registry().PutDword(kMachine, kDataKey, L"LoadSettingsOnce", 2);
  // Another model first: only the one whose name holds the description is the device's.
  sim_.Registry().PutKey(kMachine,
                         std::wstring(kSuite) + L"\\Other Scanner\\DeviceInstances\\0009");
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(Text(sim_, kDataKey, L"KLEDeviceID"), L"#Quvari#quvari aio 3400 series#0000");
  EXPECT_EQ(sim_.Registry().GetValue(kMachine, kDataKey, L"KLEDeviceID")->bytes.size(),
            (35u + 1u) * 2u);  // with its NUL
  const auto debug = log_.Texts(L"DB");
  EXPECT_NE(std::find(debug.begin(), debug.end(),
                      std::wstring(L"Failed to get KLE_DEVICE_ID from registry for diagnosing "
                                   L"Registry issue.Path : ") +
                          kDataKey),
            debug.end());
}

TEST_F(RegistryIssue, TheProfileWritePathIsRepairedOnTheWay) {
  const std::wstring expected = L"%APPDATA%\\QV\\Brevane\\Data\\Destination";
  // Missing, then another path: written as REG_SZ with its NUL, and the check goes on.
  sim_.Registry().RemoveKey(kMachine, kSuite);
  sim_.Registry().PutString(kMachine, kScan, L"ImagingClassIndex", L"0003");
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(Text(sim_, kSuite, L"ProfileWritePath"), expected);
  EXPECT_EQ(sim_.Registry().GetValue(kMachine, kSuite, L"ProfileWritePath")->bytes.size(),
            (expected.size() + 1) * 2);
  log_.Take();
  sim_.Registry().PutString(kMachine, kSuite, L"ProfileWritePath", L"C:\\Elsewhere");
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(Text(sim_, kSuite, L"ProfileWritePath"), expected);
  auto info = log_.Texts(L"I0");
  EXPECT_NE(std::find(info.begin(), info.end(), L"Issue found for ProfileWritePath."), info.end());
  EXPECT_NE(std::find(info.begin(), info.end(), L"Fixes ProfileWritePath Issue"), info.end());

  // The expected path with a read-only profile file: made writable.
  ASSERT_TRUE(sim_.Ports().files.SetFileAttributes(kProfile, platform::file::AttributeReadOnly));
  EXPECT_EQ(check_->DiagnoseProfileWritePath(), 107);
  platform::FileAttributeData data;
  ASSERT_TRUE(sim_.Ports().files.GetFileAttributesEx(kProfile, &data));
  EXPECT_EQ(data.attributes & platform::file::AttributeReadOnly, 0u);
  EXPECT_EQ(log_.Texts(L"DB"),
            (std::vector<std::wstring>{
                std::wstring(L"The file attribute has been changed.Path : ") + kProfile}));

  // Without the file: both records, and the step still passes.
  sim_.Files().Remove(kProfile);
  EXPECT_EQ(check_->DiagnoseProfileWritePath(), 107);
  EXPECT_EQ(log_.Texts(L"DB"),
            (std::vector<std::wstring>{
                std::wstring(L"The profile.kle does not exists. Path : ") + kProfile,
                std::wstring(L"Failed to change the file attribute.Path : ") + kProfile}));

  // A write that fails shows in the log only.
  sim_.Registry().PutString(kMachine, kSuite, L"ProfileWritePath", L"C:\\Elsewhere");
  sim_.InjectFault("SetValueEx", 1, 5);
  EXPECT_EQ(check_->Diagnose(device_), 107);
  const auto debug = log_.Texts(L"DB");
  EXPECT_NE(
      std::find(debug.begin(), debug.end(),
                L"Failed to set value for  ProfileWritePath. Path: SOFTWARE\\Quvari\\Brevane"),
      debug.end());
}

TEST_F(RegistryIssue, TheClassIndexIsRewrittenForTheDeviceTheRepairIsGiven) {
  // Unreadable at the diagnosis: the repair still knows the index.
  sim_.Registry().RemoveKey(kMachine, kScan);
  ASSERT_EQ(check_->Diagnose(device_), 110);
  EXPECT_EQ(check_->Fix(device_, 110), 100);
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->m_nButtons, 0);
  EXPECT_EQ(Text(sim_, kScan, L"ImagingClassIndex"), L"0003");
  EXPECT_EQ(runAgain_, 0);  // the manager moves on
  EXPECT_EQ(check_->Diagnose(device_), 107);

  // Diagnosed for one device, repaired for another: the other's key and index.
  const std::wstring otherData =
      L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0007"
      L"\\Devicedata";
  sim_.Registry().PutString(kMachine, otherData, L"KLEDeviceID", L"#Quvari#qv other#0002");
  DeviceDetails other = device_;
  other.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0007";
  sim_.Registry().PutString(kMachine, kScan, L"ImagingClassIndex", L"0009");
  ASSERT_EQ(check_->Diagnose(device_), 110);
  EXPECT_EQ(check_->Fix(other, 110), 100);
  EXPECT_EQ(Text(sim_,
                 L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane\\qv other\\DeviceInstances\\0002"
                 L"\\Functions\\Scan",
                 L"ImagingClassIndex"),
            L"0007");
  EXPECT_EQ(Text(sim_, kScan, L"ImagingClassIndex"), L"0009");
}

TEST_F(RegistryIssue, AFailedRewrite) {
  struct Case {
    const char* name;
    const char* method;  // the call that fails; null: the device has no identifier
    bool scanPassed;
    int errorCode;
    const wchar_t* key;
    int status;
    int buttons;
  };
  const Case cases[] = {
      {"the key", "CreateKeyEx", false, 1072, L"REG_FIX_FAIL", 2, 0x60},
      {"the value, after a scan passed", "SetValueEx", true, 1073, L"REG_FIX_FAIL_SCAN_OK", 3,
       0x62},
      {"no identifier: nothing is written into another key", nullptr, false, 1072, L"REG_FIX_FAIL",
       2, 0x60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scanPassed_ = c.scanPassed;
    sim_.Registry().PutString(kMachine, kScan, L"ImagingClassIndex", L"0004");
    ASSERT_EQ(check_->Diagnose(device_), 110);
    if (c.method != nullptr) {
      sim_.InjectFault(c.method, 1, 5);
    } else {
      sim_.Registry().PutString(kMachine, kDataKey, L"KLEDeviceID", L"");
    }
    EXPECT_EQ(check_->Fix(device_, 110), 103);
    sim_.ClearFaults();
    EXPECT_EQ(check_->m_nErrorCode, c.errorCode);
    EXPECT_EQ(check_->m_strMessage, c.key);
    EXPECT_EQ(check_->m_nStatus, c.status);
    EXPECT_EQ(check_->m_nButtons, c.buttons);
    EXPECT_EQ(Text(sim_, kScan, L"ImagingClassIndex"), L"0004");
    EXPECT_FALSE(sim_.Registry().GetValue(kMachine, L"", L"ImagingClassIndex"));
    sim_.Registry().PutString(kMachine, kDataKey, L"KLEDeviceID",
                              L"#Quvari#quvari aio 3400 series#0000");
  }
}

TEST_F(RegistryIssue, TheDriverRefreshRepairsTheDriversValues) {
  sim_.Registry().PutString(kMachine, kDataKey, L"ModelString", L"");
  ASSERT_EQ(check_->Diagnose(device_), 109);
  EXPECT_EQ(check_->Fix(device_, 109), 100);
  EXPECT_EQ(refreshed_, (std::vector<std::wstring>{kDriverKey}));
  EXPECT_EQ(runAgain_, 1);  // the check runs again after the refresh
  EXPECT_EQ(check_->m_nStatus, 1);

  refreshError_ = 1040;
  EXPECT_EQ(check_->Fix(device_, 109), 2000);
  EXPECT_EQ(check_->m_nErrorCode, 1040);
  EXPECT_EQ(check_->m_strMessage, L"FAILED_UPDATE_SCAN_DRIVER");
  EXPECT_EQ(check_->m_nStatus, 2);
  EXPECT_EQ(check_->m_nButtons, 0x60);
  EXPECT_EQ(runAgain_, 1);
}

TEST_F(RegistryIssue, Simulation) {
  check_->m_bSimulate = true;
  check_->m_nSimulatedCase = 110;
  scanPassed_ = true;
  EXPECT_EQ(check_->Diagnose(device_), 110);
  EXPECT_EQ(check_->m_strMessage, L"TWAIN_WIA_OK_REG_FAIL");
  EXPECT_EQ(check_->m_nStatus, 3);
  EXPECT_FALSE(check_->m_bSimulate);
  check_->m_bSimulate = true;
  check_->m_nSimulatedCase = 109;
  EXPECT_EQ(check_->Fix(device_, 110), 2000);
  EXPECT_TRUE(refreshed_.empty());
  check_->m_bSimulate = true;
  check_->m_bSimulatePass = true;
  sim_.Registry().RemoveKey(kMachine, kDataKey);  // not looked at
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(check_->m_strMessage, L"REG_OK");
  EXPECT_FALSE(check_->m_bSimulatePass);
}

}  // namespace
