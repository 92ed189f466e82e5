// The Windows scan check on the simulated machine: the WIA service and its repair, the test scan
// (here a stand-in of the wrapper's contract), and why a failed scan failed.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "issues/KVDWindowsScanIssue.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

namespace platform = kvd::platform;
namespace svc = platform::svc;
using kvd::sim::SimServices;

constexpr const wchar_t* kImageNode = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000";
constexpr platform::WindowHandle kPage = 0x4242;

class WindowsScanIssue : public ::testing::Test {
 protected:
  void SetUp() override {
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim_, {{"WIA", "Windows scan"},
                                                  {"WIA_OK", "ok"},
                                                  {"WIA_SERVICE_ERROR", "service"},
                                                  {"WIA_WIN7_UPGRADE_ISSUE", "upgrade"},
                                                  {"NETWORK_NO_CONNECTION", "no network"},
                                                  {"USB_NO_CONNECTION", "no usb"},
                                                  {"USER_CANCELLED", "cancelled"},
                                                  {"WIA_ISSUE_FOUND", "wia"}}));
    g_bWin7 = false;
    g_hListenEvent = sim_.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    device_.strInstanceId = kImageNode;
    device_.strFriendlyName = L"Quvari AIO 3400 Series";
    check_ = std::make_unique<CKVDWindowsScanIssue>(
        sim_.Ports(), [this](const DeviceDetails& device, platform::WindowHandle owner) {
          ++scans_;
          EXPECT_EQ(sim_.Wia().ComDepth(), 1);  // COM is initialised around the scan
          EXPECT_EQ(device.strInstanceId, device_.strInstanceId);
          EXPECT_EQ(owner, kPage);
          sim_.Ports().sync.SetEvent(g_hListenEvent);
          return scanResult_;
        });
    check_->SetHandle(kPage);
    log_.Take();
  }
  void TearDown() override {
    sim_.Ports().sync.CloseHandle(g_hListenEvent.exchange(0));
    g_bWin7 = false;
  }
  void PutService(std::uint32_t startType, std::uint32_t state, bool failsToStart = false) {
    SimServices::Service stisvc = *sim_.Services().Get(L"stisvc");
    stisvc.startType = startType;
    stisvc.state = state;
    stisvc.failsToStart = failsToStart;
    sim_.Services().Put(L"stisvc", stisvc);
  }
  bool Signalled() { return sim_.Ports().sync.WaitForSingleObject(g_hListenEvent, 0) == 0; }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  DeviceDetails device_;
  std::unique_ptr<CKVDWindowsScanIssue> check_;
  int scanResult_ = 0;
  int scans_ = 0;
};

// The service: usable as it is, started when stopped, and an outcome of its own when it cannot
// be repaired (no scan then, and the watchdog is told the scan step is over).
TEST_F(WindowsScanIssue, TheWiaServiceAndItsRepair) {
  struct Case {
    const char* name;
    std::uint32_t startType;
    std::uint32_t state;
    bool failsToStart;
    int result;
    int errorCode;
    bool usable;  // " WIA service OK." logged
  };
  const Case cases[] = {
      {"running", svc::AutoStart, svc::Running, false, 107, 0, true},
      {"stopped, starts on request", svc::DemandStart, svc::Stopped, false, 107, 0, false},
      {"disabled, starts once set to automatic", svc::Disabled, svc::Stopped, false, 107, 0, false},
      {"running but disabled: already running counts", svc::Disabled, svc::Running, false, 107, 0,
       false},
      {"does not start", svc::DemandStart, svc::Stopped, true, 108, 1045, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PutService(c.startType, c.state, c.failsToStart);
    check_->m_nErrorCode = 0;
    scans_ = 0;
    EXPECT_EQ(check_->Diagnose(device_), c.result);
    EXPECT_EQ(check_->m_nErrorCode, c.errorCode);
    EXPECT_EQ(scans_, c.result == 107 ? 1 : 0);
    EXPECT_TRUE(Signalled());
    const auto records = log_.Take();
    EXPECT_EQ(kvd::test::SimLog::Contains(records, L"I0", L" WIA service OK."), c.usable);
    if (c.result == 107) {
      EXPECT_EQ(sim_.Services().Get(L"stisvc")->state, svc::Running);
      EXPECT_EQ(check_->m_strMessage, L"ok");
      EXPECT_EQ(check_->m_nButtons, 0);
    } else {
      EXPECT_EQ(check_->m_strMessage, L"service");
      EXPECT_EQ(check_->m_nButtons, 0x5A);
      EXPECT_EQ(check_->m_nStatus, 2);
    }
  }
  EXPECT_EQ(sim_.Services().OpenHandleCount(), 0u);
  EXPECT_EQ(sim_.Wia().ComDepth(), 0);
}

TEST_F(WindowsScanIssue, AServiceThatCannotBeHad) {
  // No service manager to ask: usable, the scan decides.
  sim_.InjectFault("OpenSCManager", 1, platform::err::AccessDenied);
  EXPECT_EQ(check_->Diagnose(device_), 107);
  EXPECT_EQ(scans_, 1);
  // No such service: it cannot be repaired either (1044).
  sim_.Services().Remove(L"stisvc");
  EXPECT_EQ(check_->Diagnose(device_), 108);
  EXPECT_EQ(check_->m_nErrorCode, 1044);
  EXPECT_EQ(scans_, 1);
  const auto records = log_.Take();
  EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"##", L"OpenService failed. Service : stisvc"));
  // The repair's waits: 5 s before the check, 3 s after the repair.
  const auto sleeps = sim_.Clock().Sleeps();
  EXPECT_EQ(std::vector<std::uint32_t>(sleeps.end() - 2, sleeps.end()),
            (std::vector<std::uint32_t>{5000, 3000}));
}

// A scan that did not work: the device's reachability, the Windows 7 upgrade problem and a
// cancelled dialog decide the outcome.
TEST_F(WindowsScanIssue, WhyAScanFailed) {
  PutService(svc::AutoStart, svc::Running);
  struct Case {
    const char* name;
    int scan;
    bool present;
    bool network;
    bool win7Upgrade;
    bool ostrel;
    int result;
    const wchar_t* text;
    int status;
    int buttons;
    int errorCode;
  };
  const Case cases[] = {
      {"WIA fails", -5, true, false, false, false, 0, L"wia", 2, 0x6A, 1046},
      {"the selection found no scanner", -1, true, false, false, false, 0, L"wia", 2, 0x6A, 1046},
      {"cancelled", 1, true, false, false, false, 100012, L"cancelled", 3, 0x42, 1047},
      {"USB device gone", -5, false, false, false, false, 116, L"no usb", 2, 0x5A, 1001},
      {"cancelled, USB device gone", 1, false, false, false, false, 116, L"no usb", 2, 0x5A, 1001},
      {"network device gone", -5, false, true, false, false, 115, L"no network", 2, 0x5A, 1001},
      {"Windows 7 upgrade problem", -5, true, false, true, false, 114, L"upgrade", 2, 0x62, 1048},
      {"an Ostrel device is not asked about it", -5, true, false, true, true, 0, L"wia", 2, 0x6A,
       1046},
      {"a positive answer is a scan", 3, true, false, true, false, 107, L"ok", 1, 0, 777},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scanResult_ = c.scan;
    sim_.Devices().SetPresent(kImageNode, c.present);
    device_.bNetwork = c.network;
    device_.strIpAddress = c.network ? L"127.0.0.4" : L"";
    device_.bOstrel = c.ostrel;
    g_bWin7 = c.win7Upgrade;  // and no KLE version registered: the problem is there
    check_->m_nErrorCode = 777;
    EXPECT_EQ(check_->Diagnose(device_), c.result);
    EXPECT_EQ(check_->m_strMessage, c.text);
    EXPECT_EQ(check_->m_nStatus, c.status);
    EXPECT_EQ(check_->m_nButtons, c.buttons);
    EXPECT_EQ(check_->m_nErrorCode, c.errorCode);
  }
}

TEST_F(WindowsScanIssue, TheSimulatedCasesTouchNothing) {
  check_->m_bSimulate = true;
  check_->m_bSimulatePass = true;
  check_->m_nSimulatedCase = 115;
  EXPECT_EQ(check_->Diagnose(device_), 115);
  EXPECT_EQ(check_->m_strMessage, L"no network");
  EXPECT_EQ(check_->m_nErrorCode, 1001);
  EXPECT_FALSE(check_->m_bSimulate);
  EXPECT_FALSE(check_->m_bSimulatePass);
  EXPECT_EQ(scans_, 0);
  EXPECT_TRUE(sim_.Clock().Sleeps().empty());
  EXPECT_EQ(check_->Fix(device_, 115), 1);
}

}  // namespace
