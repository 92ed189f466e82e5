// The 64-bit helper's command lines on the simulated machine: the device tree it reads and
// changes is the same one the device-manager check reads on 32-bit Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "repair/DeviceManagerHelper.h"
#include "repair/DriverRefresh.h"
#include "tests/support/ScenarioSim.h"

namespace {

using namespace kvd::repair;
namespace platform = kvd::platform;

constexpr const wchar_t* kImageNode = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000";
constexpr const wchar_t* kHardwareId = L"USB\\VID_2F8D&PID_0105&REV_0100&MI_00";
constexpr const wchar_t* kHelper =
    L"C:\\Program Files (x86)\\Quvari\\Kavid\\DeviceManager\\DeviceManager.exe";
constexpr const wchar_t* kDifx =
    L"C:\\Program Files (x86)\\Quvari\\Kavid\\DeviceManager\\difxapi.dll";
constexpr const wchar_t* kInf = L"C:\\Windows\\INF\\oem12.inf";

class DeviceManagerHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    kvd::test::ApplyNamed("usb-aio-composite.xml", sim_);
    sim_.Process().SetModulePath(kHelper);
    host_.confirmRestart = [this] {
      ++questions_;
      return answerYes_;
    };
    host_.restart = [this] {
      ++restarts_;
      return true;
    };
  }
  int Run(std::vector<std::wstring> items) {
    return RunDeviceManagerHelper(sim_.Ports(), items, host_);
  }

  kvd::sim::SimMachine sim_;
  NodeHost host_;
  int questions_ = 0;
  int restarts_ = 0;
  bool answerYes_ = false;
};

// "-d": the problem of the node whose first hardware id is the one given; 100 for none.
TEST_F(DeviceManagerHelper, DiagnoseAnswersTheNodesProblem) {
  EXPECT_EQ(Run({L"-d", L"Quvari AIO 3400", kHardwareId}), 0);
  sim_.Devices().SetProblem(kImageNode, 28);
  EXPECT_EQ(Run({L"-d", L"Quvari AIO 3400", L"  usb\\vid_2f8d&pid_0105&rev_0100&mi_00 "}), 28);
  EXPECT_EQ(Run({L"-d", L"Quvari AIO 3400", L"USB\\VID_2F8D&PID_0999"}), 100);
  EXPECT_EQ(Run({L"-d", L"", L""}), 100);
}

TEST_F(DeviceManagerHelper, CommandLinesItDoesNotTake) {
  const std::vector<std::vector<std::wstring>> lines = {
      {},
      {L"-x"},
      {L"-d", L"Quvari AIO 3400"},                            // an item short
      {L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"2x"},   // not a number
      {L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"-22"},  // not a problem number
      {L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"99999999999"},
      {L"-u"},
      {L"-r", L"extra"},
      {L"d", L"Quvari AIO 3400", kHardwareId},
  };
  for (const auto& line : lines) {
    EXPECT_EQ(Run(line), kHelperBadCommandLine)
        << (line.empty() ? "" : platform::NarrowUtf8(line[0]));
  }
  EXPECT_TRUE(sim_.Devices().Changes().empty());
  EXPECT_EQ(questions_, 0);
}

// "-f": the repair of the problem's group, with the exit codes the check relies on.
TEST_F(DeviceManagerHelper, RepairByTheProblemsGroup) {
  // Disabled: enabled, globally first.
  sim_.Devices().SetProblem(kImageNode, 22);
  EXPECT_EQ(Run({L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"22"}), kNodeRepaired);
  const auto changes = sim_.Devices().Changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].scope, platform::dics::FlagGlobal);
  EXPECT_EQ(changes[1].scope, platform::dics::FlagConfigSpecific);
  EXPECT_EQ(Run({L"-d", L"Quvari AIO 3400", kHardwareId}), 0);

  // Restart: declined is 111; agreed is the restart.
  EXPECT_EQ(Run({L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"14"}), kNodeRestartDeclined);
  answerYes_ = true;
  EXPECT_EQ(Run({L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"14"}), kNodeRepaired);
  EXPECT_EQ(restarts_, 1);

  // The Unknown group's uninstall needs the device record: the helper repairs nothing.
  EXPECT_EQ(Run({L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"2"}), kNodeRepairFailed);
  EXPECT_EQ(restarts_, 1);
}

// The Reinstall group: the driver package of the INF path removed, forced, then the rescan.
TEST_F(DeviceManagerHelper, ReinstallRemovesThePackageAndRescans) {
  const std::vector<std::wstring> reinstall = {L"-f", L"Quvari AIO 3400", kHardwareId, kInf, L"28"};
  // Without the INF path, or without difxapi.dll beside the helper, nothing is removed.
  EXPECT_EQ(Run({L"-f", L"Quvari AIO 3400", kHardwareId, L"", L"28"}), kNodeRepairFailed);
  sim_.Modules().AddLibrary(L"C:\\Windows\\system32\\difxapi.dll", {"DriverPackageUninstallW"});
  EXPECT_EQ(Run(reinstall), kNodeRepairFailed);
  EXPECT_TRUE(sim_.Modules().PackageUninstalls().empty());

  sim_.Modules().AddLibrary(kDifx, {"DriverPackageUninstallW"});
  EXPECT_EQ(Run(reinstall), kNodeRepaired);
  auto calls = sim_.Modules().PackageUninstalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].infPath, kInf);
  EXPECT_EQ(calls[0].flags, 0x4u);  // DRIVER_PACKAGE_FORCE
  EXPECT_EQ(sim_.Devices().RootRescans(), std::vector<std::uint32_t>{0x2});

  // The store refuses: failed, no rescan. A removal that needs a restart asks for one.
  sim_.Modules().SetDriverPackageUninstall({0xE000020B, false});
  EXPECT_EQ(Run(reinstall), kNodeRepairFailed);
  sim_.Modules().SetDriverPackageUninstall({0, true});
  EXPECT_EQ(Run(reinstall), kNodeRepairFailed);  // declined
  answerYes_ = true;
  EXPECT_EQ(Run(reinstall), kNodeRepaired);
  EXPECT_EQ(restarts_, 1);
  EXPECT_EQ(sim_.Devices().RootRescans().size(), 1u);
  EXPECT_EQ(sim_.Modules().LoadedCount(), 0);
}

// "-u": the device's property sheet by its instance id, unquoted; 107 once it is closed.
TEST_F(DeviceManagerHelper, UpdateShowsThePropertySheet) {
  const std::wstring id = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000 \"A\"";
  EXPECT_EQ(Run({L"-u", id}), kRefreshNoLibrary);
  sim_.Modules().AddLibrary(L"C:\\Windows\\system32\\devmgr.dll", {"DeviceProperties_RunDLL"});
  EXPECT_EQ(Run({L"-u", id}), kRefreshNoEntry);
  sim_.Modules().AddLibrary(L"C:\\Windows\\system32\\devmgr.dll", {"DeviceProperties_RunDLLW"});
  EXPECT_EQ(Run({L"-u", id}), 107);
  const auto sheets = sim_.Modules().PropertySheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0].commandLine, L"/MachineName \"\" /DeviceID " + id);
  EXPECT_EQ(sheets[0].exportName, "DeviceProperties_RunDLLW");
}

// "-r": the tree rescanned from its root.
TEST_F(DeviceManagerHelper, RescanFromTheRoot) {
  EXPECT_EQ(Run({L"-r"}), 0);
  EXPECT_EQ(sim_.Devices().RootRescans(), std::vector<std::uint32_t>{0x2});
  sim_.InjectFault("LocateRootDevNode", 1, 0);
  EXPECT_NE(Run({L"-r"}), 0);
  EXPECT_EQ(sim_.Devices().RootRescans().size(), 1u);
}

// The INF path the check hands to the repair: the driver key's InfPath in the INF folder.
TEST(DriverPackageInfPath, OnlyAnInfFileOfTheInfFolder) {
  constexpr const wchar_t* kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
  const std::wstring key =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") + kDriverKey;
  struct Case {
    const char* name;
    const wchar_t* driverKey;
    const wchar_t* value;  // nullptr: absent
    std::uint32_t type;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"a file of the INF folder", kDriverKey, L"oem12.inf", platform::regtype::Sz, kInf},
      {"upper-case extension", kDriverKey, L"OEM12.INF", platform::regtype::Sz,
       L"C:\\Windows\\INF\\OEM12.INF"},
      {"absent", kDriverKey, nullptr, 0, L""},
      {"a path elsewhere", kDriverKey, L"..\\..\\Temp\\x.inf", platform::regtype::Sz, L""},
      {"a drive", kDriverKey, L"D:x.inf", platform::regtype::Sz, L""},
      {"not an INF file", kDriverKey, L"oem12.pnf", platform::regtype::Sz, L""},
      {"a number", kDriverKey, L"oem12.inf", platform::regtype::Dword, L""},
      {"no device entry", L"", L"oem12.inf", platform::regtype::Sz, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    sim.Registry().PutString(platform::kHkeyLocalMachine, key, L"DriverDesc", L"Quvari AIO 3400");
    if (c.value != nullptr) {
      const auto bytes = c.type == platform::regtype::Dword ? std::vector<std::uint8_t>{1, 0, 0, 0}
                                                            : platform::ToUtf16Bytes(c.value, true);
      sim.Registry().PutValue(platform::kHkeyLocalMachine, key, L"InfPath", c.type, bytes);
    }
    DeviceDetails device;
    device.strDriverKey = c.driverKey;
    EXPECT_EQ(DriverPackageInfPath(sim.Ports(), device), c.expected);
  }
}

}  // namespace
