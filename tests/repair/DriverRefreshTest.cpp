// The driver refresh and the start-up rescan, on the simulated machine: the 32-bit path through
// devmgr.dll's property sheet, the 64-bit path through the helper's command-line contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "repair/DriverRefresh.h"
#include "tests/support/SimLog.h"

namespace {

using namespace kvd::repair;
namespace platform = kvd::platform;

constexpr platform::HKey kHklm = platform::kHkeyLocalMachine;
constexpr const wchar_t* kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
constexpr const wchar_t* kClassRoot =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
constexpr const wchar_t* kHelper =
    L"C:\\Program Files (x86)\\Quvari\\Kavid\\DeviceManager\\DeviceManager.exe";
constexpr const wchar_t* kSystemDevmgr = L"C:\\Windows\\system32\\devmgr.dll";
constexpr platform::WindowHandle kPage = 0x4242;

class DriverRefresh : public ::testing::Test {
 protected:
  void SetUp() override {
    device_.strDriverKey = kDriverKey;
    device_.strInstanceId = L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000 A";
    PutDriverKey();
    sim_.Registry().PutString(kHklm, std::wstring(kClassRoot) + L"\\0004", L"DriverDesc", L"other");
    host_.showInstructions = [this] {
      ++instructions_;
      keyAtInstructions_ = DriverKeyExists();
    };
    host_.owner = kPage;
  }

  void PutDriverKey() {
    const std::wstring key = std::wstring(kClassRoot) + L"\\0003";
    sim_.Registry().PutString(kHklm, key, L"DriverDesc", L"Quvari AIO 3400");
    sim_.Registry().PutString(kHklm, key + L"\\Devicedata", L"ModelString", L"AIO 3400");
  }
  bool DriverKeyExists() {
    return sim_.Registry().KeyExists(kHklm, std::wstring(kClassRoot) + L"\\0003");
  }
  bool Refresh(int& code) { return RefreshDrivers(sim_.Ports(), device_, host_, code); }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  DeviceDetails device_;
  RefreshHost host_;
  int instructions_ = 0;
  bool keyAtInstructions_ = false;
};

// 32-bit Windows: the property sheet of the device by its instance id, after the instructions
// and the deletion; the key coming back decides.
TEST_F(DriverRefresh, ThePropertySheetOn32BitWindows) {
  sim_.System().SetWow64(false);
  sim_.Modules().AddLibrary(kSystemDevmgr, {"DeviceProperties_RunDLLW"});
  bool keyDuringSheet = true;
  sim_.Modules().SetPropertySheet([&](const std::wstring&) {
    keyDuringSheet = DriverKeyExists();
    PutDriverKey();  // the user updated the driver: Windows made its key again
  });
  int code = 0;
  EXPECT_TRUE(Refresh(code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(instructions_, 1);
  EXPECT_TRUE(keyAtInstructions_);
  EXPECT_FALSE(keyDuringSheet);
  const auto sheets = sim_.Modules().PropertySheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0].exportName, "DeviceProperties_RunDLLW");
  // The instance id unquoted after "/DeviceID", blanks and all.
  EXPECT_EQ(sheets[0].commandLine,
            L"/MachineName \"\" /DeviceID USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000 A");
  EXPECT_EQ(sheets[0].show, 5);
  EXPECT_EQ(sim_.Modules().LoadedCount(), 0);
  EXPECT_TRUE(sim_.Registry().KeyExists(kHklm, std::wstring(kClassRoot) + L"\\0004"));

  // The sheet closed without an update: the key stays away.
  sim_.Modules().SetPropertySheet(nullptr);
  EXPECT_FALSE(Refresh(code));
  EXPECT_EQ(code, kRefreshNotReinstalled);
  const auto debug = log_.Texts(L"DB");
  EXPECT_NE(std::find(debug.begin(), debug.end(), L"Could  not update driver"), debug.end());
}

// What the update needs is looked for first: without it nothing is shown and nothing deleted.
TEST_F(DriverRefresh, NothingIsDeletedWhenTheUpdateCannotStart) {
  struct Case {
    const char* name;
    bool wow64;
    std::function<void(kvd::sim::SimMachine&)> arrange;
    int code;
  };
  const Case cases[] = {
      {"no devmgr.dll", false, [](kvd::sim::SimMachine&) {}, kRefreshNoLibrary},
      {"devmgr.dll only beside the program, never loaded by bare name", false,
       [](kvd::sim::SimMachine& sim) {
         sim.Modules().AddLibrary(L"C:\\Program Files (x86)\\Quvari\\Kavid\\devmgr.dll",
                                  {"DeviceProperties_RunDLLW"});
       },
       kRefreshNoLibrary},
      {"devmgr.dll without its entry", false,
       [](kvd::sim::SimMachine& sim) { sim.Modules().AddLibrary(kSystemDevmgr, {}); },
       kRefreshNoEntry},
      {"no helper on 64-bit Windows", true, [](kvd::sim::SimMachine&) {}, kRefreshHelperFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.System().SetWow64(c.wow64);
    c.arrange(sim_);
    int code = 0;
    EXPECT_FALSE(Refresh(code));
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(instructions_, 0);
    EXPECT_TRUE(DriverKeyExists());
    EXPECT_EQ(sim_.Modules().LoadedCount(), 0);
  }
}

// A driver key that is not one device's entry of a class is never deleted: an empty one would
// take every class of the machine with it.
TEST_F(DriverRefresh, OnlyADevicesOwnEntryIsDeleted) {
  sim_.System().SetWow64(false);
  sim_.Modules().AddLibrary(kSystemDevmgr, {"DeviceProperties_RunDLLW"});
  for (const wchar_t* key :
       {L"", L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}",
        L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003\\..",
        L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\00a3", L"..\\..\\Services"}) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(key));
    device_.strDriverKey = key;
    int code = 0;
    EXPECT_FALSE(Refresh(code));
    EXPECT_EQ(code, kRefreshNotReinstalled);
    EXPECT_TRUE(DriverKeyExists());
    EXPECT_EQ(instructions_, 0);
  }
  EXPECT_TRUE(sim_.Modules().PropertySheets().empty());
}

// 64-bit Windows: the helper's "-u" with the quoted instance id, shown, owned by the page; only
// its 107 is an update.
TEST_F(DriverRefresh, TheHelperOn64BitWindows) {
  sim_.Files().PutFile(kHelper, {'M', 'Z'});
  std::uint32_t exitCode = kHelperUpdated;
  sim_.Shell().SetProgram(kHelper, [&](const std::wstring&) {
    if (exitCode == kHelperUpdated) PutDriverKey();
    return exitCode;
  });
  int code = 0;
  EXPECT_TRUE(Refresh(code));
  auto started = sim_.Shell().Executed();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].verb, L"open");
  EXPECT_EQ(started[0].parameters, L"\"-u\" \"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000 A\"");
  EXPECT_EQ(started[0].show, 5);
  EXPECT_EQ(started[0].owner, kPage);

  for (std::uint32_t other : {0u, 1u, 259u}) {
    SCOPED_TRACE(other);
    exitCode = other;
    PutDriverKey();
    code = 0;
    EXPECT_FALSE(Refresh(code));
    EXPECT_EQ(code, kRefreshHelperFailed);
  }
}

TEST_F(DriverRefresh, HelperRunsThatGiveNoAnswer) {
  sim_.Files().PutFile(kHelper, {'M', 'Z'});
  // The exit code cannot be read.
  sim_.InjectFault("GetExitCodeProcess", 1, platform::err::InvalidHandle);
  EXPECT_EQ(RefreshDrivers64(sim_.Ports(), device_, host_), static_cast<int>(kHelperNoExitCode));
  // The shell cannot start it.
  sim_.InjectFault("ShellExecuteEx", 1, platform::err::AccessDenied);
  EXPECT_EQ(RefreshDrivers64(sim_.Ports(), device_, host_), static_cast<int>(kHelperNotStarted));
  // It never ends: the program's exit ends the wait, and the answer is no update.
  sim_.Shell().SetProgramHangs(kHelper);
  host_.stopEvent = sim_.Ports().sync.CreateEvent(true, true, nullptr);
  EXPECT_EQ(RefreshDrivers64(sim_.Ports(), device_, host_), static_cast<int>(kStillActive));
  sim_.Ports().sync.CloseHandle(host_.stopEvent);
}

TEST_F(DriverRefresh, TheStartUpRescan) {
  // 64-bit Windows: the helper's "-r", hidden, without owner, not waited for.
  sim_.Files().PutFile(kHelper, {'M', 'Z'});
  sim_.Shell().SetProgramHangs(kHelper);
  EXPECT_TRUE(ReenumerateDeviceManager(sim_.Ports()));
  auto started = sim_.Shell().Executed();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].parameters, L"\"-r\"");
  EXPECT_EQ(started[0].show, 0);
  EXPECT_EQ(started[0].owner, 0u);
  EXPECT_TRUE(sim_.Devices().RootRescans().empty());

  // 32-bit Windows: from the root, retrying installations, then a second's pause.
  sim_.System().SetWow64(false);
  EXPECT_TRUE(ReenumerateDeviceManager(sim_.Ports()));
  EXPECT_EQ(sim_.Devices().RootRescans(), std::vector<std::uint32_t>{2});
  EXPECT_EQ(sim_.Clock().Sleeps(), std::vector<std::uint32_t>{1000});
  // No root node: no rescan and no pause.
  sim_.InjectFault("LocateRootDevNode", 1, 0x13 /* CR_FAILURE */);
  EXPECT_TRUE(ReenumerateDeviceManager(sim_.Ports()));
  EXPECT_EQ(sim_.Devices().RootRescans().size(), 1u);
  EXPECT_EQ(sim_.Clock().Sleeps().size(), 1u);
}

}  // namespace
