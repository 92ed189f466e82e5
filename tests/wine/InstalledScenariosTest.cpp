// Enumeration and the connection check against the real device tree, registry, printers, INI
// files and known folders of a Wine prefix into which tests/e2e/kavid_devices.sh installed the
// family scenarios. Skipped in any other prefix (KVD_SCENARIOS unset).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "discovery/Scanners.h"
#include "issues/KVDConnectionIssue.h"
#include "platform/win32/Win32Platform.h"
#include "strings/StringTable.h"
#include "tests/support/ExpectedDevices.h"

namespace {

class InstalledScenarios : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* flag = std::getenv("KVD_SCENARIOS");
    if (flag == nullptr || std::string(flag) != "1") {
      GTEST_SKIP() << "needs a prefix with the family scenarios installed (kavid_devices.sh)";
    }
    GlobalLag.Bind(real_.Ports());
    GlobalLag.m_LangID = 1033;
    ASSERT_TRUE(GlobalLag.LoadStrings());
  }

  kvd::platform::win32::Win32Platform real_;
};

TEST_F(InstalledScenarios, EnumerationListsEveryFamily) {
  std::vector<_DeviceDetails> devices;
  ASSERT_TRUE(CScanners(real_.Ports()).EnumerateScanners(devices));
  const auto expected = kvd::test::FamilyScenarioDevices(L"USB", L"Network");
  ASSERT_EQ(devices.size(), expected.size());
  for (std::size_t i = 0; i < devices.size(); ++i) kvd::test::ExpectDevice(devices[i], expected[i]);
}

// Wine lists every installed node as present, and the scenarios' addresses are loopback ones,
// which answer: every device is connected.
TEST_F(InstalledScenarios, EveryDeviceIsConnected) {
  std::vector<_DeviceDetails> devices;
  CScanners(real_.Ports()).EnumerateScanners(devices);
  ASSERT_FALSE(devices.empty());
  for (const auto& device : devices) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(device.strFriendlyName));
    CKVDConnectionIssue check(real_.Ports());
    EXPECT_EQ(check.Diagnose(device), issue::kPassed);
    EXPECT_EQ(check.m_nStatus, issue::kStatusPassed);
  }
  CKVDConnectionIssue check(real_.Ports());
  EXPECT_FALSE(check.IsDeviceConnected(L"USB\\VID_2F8D&PID_9999\\NOSUCH", L"", false));
}

}  // namespace
