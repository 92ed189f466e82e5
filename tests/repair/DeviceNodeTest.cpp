// The record's Image-class device node and the operations on it, on the simulated device tree
// of a scenario.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "repair/DeviceNode.h"
#include "tests/support/ScenarioSim.h"

namespace {

using namespace kvd::repair;
namespace platform = kvd::platform;

constexpr const wchar_t* kImageNode = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000";
constexpr const wchar_t* kImageKey =
    L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000";

class DeviceNode : public ::testing::Test {
 protected:
  void SetUp() override {
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
    device_.strHardwareId = L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00";
    host_.confirmRestart = [this] {
      ++questions_;
      return answerYes_;
    };
    host_.restart = [this] {
      ++restarts_;
      return true;
    };
  }

  bool Apply(NodeOperation operation, std::uint32_t* problem = nullptr) {
    std::uint32_t ignored = 0;
    return ApplyToMatchingImageDevices(sim_.Ports(), device_, operation, host_,
                                       problem != nullptr ? problem : &ignored, errorCode_);
  }

  kvd::sim::SimMachine sim_;
  DeviceDetails device_;
  NodeHost host_;
  int errorCode_ = 0;
  int questions_ = 0;
  int restarts_ = 0;
  bool answerYes_ = false;
};

// The maker's name and the first hardware id decide, without case and surrounding blanks.
TEST_F(DeviceNode, TheRecordsNodeIsFoundByMakerAndFirstHardwareId) {
  struct Case {
    const char* name;
    const wchar_t* maker;  // nullptr: as the scenario has it
    const wchar_t* hardwareId;
    bool found;
  };
  const Case cases[] = {
      {"as enumerated", nullptr, L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00", true},
      {"case and blanks", L"  QUVARI Imaging ", L" usb\\vid_2f8d&pid_0105&rev_0100&mi_00 ", true},
      {"the maker's short name", L"QV", L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00", true},
      {"another maker", L"Other Imaging", L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00", false},
      {"only the first id counts", nullptr, L"USB\\VID_2F8D&PID_0105&MI_00", false},
      {"an empty id matches nothing", nullptr, L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.Registry().PutString(platform::kHkeyLocalMachine, kImageKey, L"Mfg",
                              c.maker != nullptr ? c.maker : L"Quvari");
    device_.strHardwareId = c.hardwareId;
    sim_.Devices().SetProblem(kImageNode, 28);
    std::uint32_t problem = 99;
    EXPECT_EQ(Apply(NodeOperation::Query, &problem), c.found);
    EXPECT_EQ(problem, c.found ? 28u : 99u);
  }
  EXPECT_EQ(sim_.Devices().OpenSetCount(), 0u);
}

TEST_F(DeviceNode, AStatusThatCannotBeReadIsNoAnswer) {
  // The first read of the node passes, the second (the problem itself) fails.
  sim_.InjectFault("GetDevNodeStatus", 2, platform::cr::NoSuchDevNode);
  std::uint32_t problem = 99;
  EXPECT_FALSE(Apply(NodeOperation::Query, &problem));
  EXPECT_EQ(problem, 99u);
  EXPECT_EQ(errorCode_, kNodeStatusUnreadable);
}

// Enabling changes the global state first, then the current configuration's.
TEST_F(DeviceNode, EnableAndDisableChangeBothScopes) {
  sim_.Devices().SetProblem(kImageNode, platform::cmprob::Disabled);
  ASSERT_TRUE(Apply(NodeOperation::Enable));
  std::uint32_t problem = 99;
  ASSERT_TRUE(Apply(NodeOperation::Query, &problem));
  EXPECT_EQ(problem, 0u);
  ASSERT_TRUE(Apply(NodeOperation::Disable));
  ASSERT_TRUE(Apply(NodeOperation::Query, &problem));
  EXPECT_EQ(problem, platform::cmprob::Disabled);
  const auto changes = sim_.Devices().Changes();
  ASSERT_EQ(changes.size(), 4u);
  const std::uint32_t expected[][2] = {
      {platform::dics::Enable, platform::dics::FlagGlobal},
      {platform::dics::Enable, platform::dics::FlagConfigSpecific},
      {platform::dics::Disable, platform::dics::FlagGlobal},
      {platform::dics::Disable, platform::dics::FlagConfigSpecific},
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    EXPECT_EQ(changes[i].stateChange, expected[i][0]) << i;
    EXPECT_EQ(changes[i].scope, expected[i][1]) << i;
  }
  EXPECT_EQ(questions_, 0);
}

// A change that needs a restart counts only when the user wants the restart and it was asked.
TEST_F(DeviceNode, AChangeThatNeedsARestart) {
  sim_.Devices().SetChangeNeedsRestart(kImageNode, true);
  EXPECT_FALSE(Apply(NodeOperation::Enable));
  EXPECT_EQ(questions_, 1);
  EXPECT_EQ(restarts_, 0);
  EXPECT_EQ(sim_.Devices().Changes().size(), 1u);  // the global change only

  answerYes_ = true;
  EXPECT_TRUE(Apply(NodeOperation::Enable));
  EXPECT_GE(restarts_, 1);
  host_.restart = [] { return false; };
  EXPECT_FALSE(Apply(NodeOperation::Enable));
}

TEST_F(DeviceNode, AChangeThatFailsOrANodeThatDoesNotMatch) {
  sim_.InjectFault("CallClassInstaller", 1, 0xE0000219 /* ERROR_NO_ASSOCIATED_SERVICE */);
  EXPECT_FALSE(Apply(NodeOperation::Enable));
  device_.strHardwareId = L"USB\\VID_2F8D&PID_9999";
  EXPECT_FALSE(Apply(NodeOperation::Enable));
  EXPECT_EQ(errorCode_, kNodeNotMatching);
  EXPECT_TRUE(sim_.Devices().Changes().empty());
}

// Every matching node's driver service starts automatically afterwards; the restart question
// follows a change: No keeps it for the next start.
TEST_F(DeviceNode, TheDriverServiceStartsAutomatically) {
  kvd::sim::SimServices::Service usbscan;
  usbscan.serviceType = 1;  // SERVICE_KERNEL_DRIVER
  usbscan.startType = platform::svc::Disabled;
  usbscan.binaryPathName = L"system32\\DRIVERS\\usbscan.sys";
  sim_.Services().Put(L"usbscan", usbscan);

  EXPECT_TRUE(Apply(NodeOperation::AutoStartService));
  EXPECT_EQ(sim_.Services().Get(L"usbscan")->startType, platform::svc::AutoStart);
  EXPECT_EQ(sim_.Services().Get(L"usbscan")->serviceType, 1u);
  EXPECT_EQ(questions_, 1);
  EXPECT_EQ(restarts_, 0);

  answerYes_ = true;
  EXPECT_TRUE(Apply(NodeOperation::AutoStartService));
  EXPECT_EQ(restarts_, 1);
  host_.restart = [] { return false; };
  EXPECT_FALSE(Apply(NodeOperation::AutoStartService));

  // No such service, or one whose configuration cannot be read: nothing changed, no question.
  questions_ = 0;
  sim_.InjectFault("QueryServiceConfig", 1, platform::err::AccessDenied);
  EXPECT_FALSE(Apply(NodeOperation::AutoStartService));
  sim_.Registry().PutString(platform::kHkeyLocalMachine, kImageKey, L"Service", L"qvnone");
  EXPECT_FALSE(Apply(NodeOperation::AutoStartService));
  EXPECT_EQ(questions_, 0);
  EXPECT_EQ(sim_.Services().OpenHandleCount(), 0u);
}

// Two nodes with the record's hardware id (the device moved to another port, the old node kept):
// the query answers the first, an enable stops at the first that takes, and every match's
// driver service is set.
TEST_F(DeviceNode, TwoMatchingNodes) {
  constexpr const wchar_t* kSecondNode = L"USB\\VID_2F8D&PID_0105&MI_00\\7&AA&0&0000";
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\") + kSecondNode;
  const auto hklm = platform::kHkeyLocalMachine;
  sim_.Registry().PutString(hklm, key, L"ClassGUID", L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}");
  sim_.Registry().PutString(hklm, key, L"Mfg", L"Quvari");
  sim_.Registry().PutString(hklm, key, L"Service", L"usbscan2");
  auto ids = platform::ToUtf16Bytes(L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00", true);
  ids.push_back(0);
  ids.push_back(0);
  sim_.Registry().PutValue(hklm, key, L"HardwareID", platform::regtype::MultiSz, ids);
  sim_.Devices().SetProblem(kImageNode, platform::cmprob::Disabled);
  sim_.Devices().SetProblem(kSecondNode, 10);

  std::uint32_t problem = 99;
  ASSERT_TRUE(Apply(NodeOperation::Query, &problem));
  EXPECT_EQ(problem, platform::cmprob::Disabled);
  ASSERT_TRUE(Apply(NodeOperation::Enable));
  for (const auto& change : sim_.Devices().Changes()) EXPECT_EQ(change.instanceId, kImageNode);

  kvd::sim::SimServices::Service driver;
  driver.serviceType = 1;
  driver.startType = platform::svc::Disabled;
  sim_.Services().Put(L"usbscan", driver);
  sim_.Services().Put(L"usbscan2", driver);
  EXPECT_TRUE(Apply(NodeOperation::AutoStartService));
  EXPECT_EQ(sim_.Services().Get(L"usbscan")->startType, platform::svc::AutoStart);
  EXPECT_EQ(sim_.Services().Get(L"usbscan2")->startType, platform::svc::AutoStart);
}

}  // namespace
