// The device-manager check on the simulated machine: the problem of the device's node on 32-bit
// Windows and through the helper's contract on 64-bit Windows, the groups' texts, buttons and
// error codes, and every repair.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "issues/KVDDeviceManagerIssue.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimStrings.h"

namespace {

namespace platform = kvd::platform;

constexpr const wchar_t* kImageNode = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000";
constexpr const wchar_t* kHelper =
    L"C:\\Program Files (x86)\\Quvari\\Kavid\\DeviceManager\\DeviceManager.exe";
constexpr platform::WindowHandle kPage = 0x4242;

class DeviceManagerIssue : public ::testing::Test {
 protected:
  void SetUp() override {
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
    ASSERT_TRUE(kvd::test::LoadTestStrings(sim_, {{"DEVICEMANAGER", "Device Manager"},
                                                  {"DEVMGRISSUE_OK", "ok"},
                                                  {"DEVMGRISSUE_L2UINSTALL", "reinstall"},
                                                  {"DEVMGRISSUE_RESTART", "restart"},
                                                  {"DEVMGRISSUE_FIX", "fixable"},
                                                  {"DEVMGRISSUE_UNKNOWN", "unknown"},
                                                  {"GENERIC_FIX_FAIL", "not fixed"},
                                                  {"GENERIC_FIX_SUCCESS", "fixed"},
                                                  {"RESTART_MSG", "Restart?"},
                                                  {"UNINSTALL_MSG", "Uninstall?"},
                                                  {"UNINSTALL_FAIL_MSG", "Could not uninstall"},
                                                  {"TITLE", "Quvari Kavid"}}));
    device_.strDeviceDesc = L"Quvari AIO 3400 Series";
    device_.strHardwareId = L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00";
    check_ = std::make_unique<CKVDDeviceManagerIssue>(sim_.Ports());
    check_->SetHandle(kPage);
  }

  kvd::sim::SimMachine sim_;
  DeviceDetails device_;
  std::unique_ptr<CKVDDeviceManagerIssue> check_;
};

// 32-bit Windows: the node's problem decides text, buttons and error code.
TEST_F(DeviceManagerIssue, TheProblemOfTheNodeOn32BitWindows) {
  sim_.System().SetWow64(false);
  struct Case {
    std::uint32_t problem;
    int result;
    const wchar_t* text;
    int buttons;
    int errorCode;
  };
  const Case cases[] = {
      {0, 107, L"ok", 0, 777},
      {22, 22, L"fixable", 0x41, 1016},
      {32, 32, L"fixable", 0x41, 1017},
      {28, 28, L"reinstall", 0x60, 1019},
      {14, 14, L"restart", 0x48, 1009},
      {2, 2, L"unknown", 0x60, 777},  // in no group: the error code stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    sim_.Devices().SetProblem(kImageNode, c.problem);
    check_->m_nErrorCode = 777;
    EXPECT_EQ(check_->Diagnose(device_), c.result);
    EXPECT_EQ(check_->m_strMessage, c.text);
    EXPECT_EQ(check_->m_nButtons, c.buttons);
    EXPECT_EQ(check_->m_nErrorCode, c.errorCode);
    EXPECT_EQ(check_->m_nStatus, c.problem == 0 ? 1 : 2);
  }
  // No node of the record's: 100, unknown.
  device_.strHardwareId = L"USB\\VID_2F8D&PID_9999";
  EXPECT_EQ(check_->Diagnose(device_), CKVDDeviceManagerIssue::kNoDevice);
  EXPECT_EQ(check_->m_strMessage, L"unknown");
}

TEST_F(DeviceManagerIssue, TheRepairsOn32BitWindows) {
  sim_.System().SetWow64(false);
  // Disabled: enabled again.
  sim_.Devices().SetProblem(kImageNode, 22);
  ASSERT_EQ(check_->Diagnose(device_), 22);
  EXPECT_EQ(check_->Fix(device_, 22), 100);
  EXPECT_EQ(check_->m_strMessage, L"fixed");
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_EQ(check_->Diagnose(device_), 107);

  // Restart: No is 111 and keeps the failure; Yes restarts; a refused restart fails.
  sim_.Shell().SetMessageBoxAnswer(platform::mb::IdNo);
  check_->Diagnose(device_);
  check_->m_nStatus = 2;
  EXPECT_EQ(check_->Fix(device_, 14), 111);
  EXPECT_EQ(check_->m_nStatus, 2);
  EXPECT_TRUE(sim_.Security().Shutdowns().empty());
  sim_.Shell().SetMessageBoxAnswer(platform::mb::IdYes);
  EXPECT_EQ(check_->Fix(device_, 14), 100);
  EXPECT_EQ(sim_.Security().Shutdowns().size(), 1u);
  sim_.InjectFault("InitiateSystemShutdownEx", 1, 1115);
  EXPECT_EQ(check_->Fix(device_, 14), 103);
  EXPECT_EQ(check_->m_nErrorCode, 1022);
  EXPECT_EQ(check_->m_strMessage, L"not fixed");
  EXPECT_EQ(check_->m_nButtons, 0x68);

  // Reinstall: the driver package's INF path is not known, so it cannot be made.
  EXPECT_EQ(check_->Fix(device_, 28), 103);
  EXPECT_EQ(check_->m_nErrorCode, 1021);

  // A disabled driver service that is not there cannot be set to start.
  EXPECT_EQ(check_->Fix(device_, 32), 103);
  EXPECT_EQ(check_->m_nErrorCode, 1024);

  // Unknown: declining the uninstall repairs nothing; Yes without an uninstaller says so.
  sim_.Shell().SetMessageBoxAnswer(platform::mb::IdNo);
  EXPECT_EQ(check_->Fix(device_, 2), 111);
  EXPECT_EQ(check_->m_nStatus, 2);
  sim_.Shell().SetMessageBoxAnswer(platform::mb::IdYes);
  EXPECT_EQ(check_->Fix(device_, 2), 103);
  EXPECT_EQ(sim_.Shell().Boxes().back().text, L"Could not uninstall");
  EXPECT_EQ(sim_.Shell().Boxes().back().owner, kPage);
}

// 64-bit Windows: the helper's "-d" and "-f" command lines, its exit codes, and what counts as
// no answer.
TEST_F(DeviceManagerIssue, TheHelperOn64BitWindows) {
  sim_.Files().PutFile(kHelper, {'M', 'Z'});
  std::uint32_t answer = 22;
  sim_.Shell().SetProgram(kHelper, [&](const std::wstring&) { return answer; });
  device_.strDeviceDesc = L"Quvari \"AIO\" 3400";
  EXPECT_EQ(check_->Diagnose(device_), 22);
  EXPECT_EQ(check_->m_strMessage, L"fixable");
  auto started = sim_.Shell().Executed();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].parameters,
            L"\"-d\" \"Quvari \\\"AIO\\\" 3400\" \"USB\\VID_2F8D&PID_0105&REV_0100&MI_00\" ");
  EXPECT_EQ(started[0].show, 0);
  EXPECT_EQ(started[0].owner, kPage);

  // A helper exit code of 1 is the node's problem 1, not a helper that never started.
  answer = 1;
  EXPECT_EQ(check_->Diagnose(device_), 1);
  EXPECT_EQ(check_->m_strMessage, L"reinstall");
  EXPECT_EQ(check_->m_nErrorCode, 1004);

  answer = 0;
  EXPECT_EQ(check_->Fix(device_, 22), 100);
  EXPECT_EQ(
      sim_.Shell().Executed().back().parameters,
      L"\"-f\" \"Quvari \\\"AIO\\\" 3400\" \"USB\\VID_2F8D&PID_0105&REV_0100&MI_00\" \"\" 22 ");
  // The driver package's INF path, from the driver key, is the fourth item.
  device_.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
  sim_.Registry().PutString(
      platform::kHkeyLocalMachine,
      L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003",
      L"InfPath", L"oem12.inf");
  EXPECT_EQ(check_->Fix(device_, 28), 100);
  EXPECT_EQ(sim_.Shell().Executed().back().parameters,
            L"\"-f\" \"Quvari \\\"AIO\\\" 3400\" \"USB\\VID_2F8D&PID_0105&REV_0100&MI_00\" "
            L"\"C:\\Windows\\INF\\oem12.inf\" 28 ");
  // The Unknown group's uninstall is the program's own: the helper is not started for it.
  const auto helperRuns = sim_.Shell().Executed().size();
  sim_.Shell().SetMessageBoxAnswer(platform::mb::IdNo);
  EXPECT_EQ(check_->Fix(device_, 2), 111);
  EXPECT_EQ(sim_.Shell().Executed().size(), helperRuns);
  EXPECT_EQ(check_->m_nStatus, 2);
  answer = 111;
  EXPECT_EQ(check_->Fix(device_, 14), 111);
  answer = 103;
  EXPECT_EQ(check_->Fix(device_, 28), 103);
  EXPECT_EQ(check_->m_strMessage, L"not fixed");
  // The helper's own failures are no answer: neither a repair nor a problem number.
  for (std::uint32_t failure : {87u, 2000u, 259u}) {
    answer = failure;
    EXPECT_EQ(check_->Fix(device_, 22), 103) << failure;
    EXPECT_EQ(check_->Diagnose(device_), CKVDDeviceManagerIssue::kNoAnswer) << failure;
  }

  // A helper that cannot be started answers nothing about the device, and repairs nothing.
  sim_.Files().Remove(kHelper);
  EXPECT_EQ(check_->Diagnose(device_), CKVDDeviceManagerIssue::kNoAnswer);
  EXPECT_EQ(check_->m_strMessage, L"unknown");
  EXPECT_EQ(check_->Fix(device_, 22), 103);
}

TEST_F(DeviceManagerIssue, TheSimulatedCases) {
  check_->m_bSimulate = true;
  check_->m_nSimulatedCase = 22;
  EXPECT_EQ(check_->Diagnose(device_), 22);
  EXPECT_EQ(check_->m_strMessage, L"fixable");
  EXPECT_EQ(check_->m_nStatus, 2);
  EXPECT_FALSE(check_->m_bSimulate);
  check_->m_bSimulate = true;
  check_->m_bSimulatePass = true;
  check_->Diagnose(device_);
  EXPECT_EQ(check_->m_strMessage, L"ok");
  EXPECT_EQ(check_->m_nStatus, 1);
  EXPECT_TRUE(sim_.Shell().Executed().empty());
}

}  // namespace
