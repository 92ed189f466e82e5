// Restart and resume against the simulated machine.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/KavidApp.h"
#include "logging/DUDiduzuz.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"

namespace {

using kvd::platform::kHkeyLocalMachine;

// Where the 32-bit program's marks land on the 64-bit machine.
const std::wstring kRestart = L"SOFTWARE\\Wow6432Node\\KVD";
const std::wstring kRun = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kExe = L"C:\\Program Files (x86)\\Quvari\\Kavid\\kavid.exe";

class Restart : public ::testing::Test {
 protected:
  void SetUp() override { sim_.Registry().PutKey(kHkeyLocalMachine, kRun); }

  bool RestartMark() { return sim_.Registry().KeyExists(kHkeyLocalMachine, kRestart); }
  std::optional<kvd::sim::SimRegistry::Value> RunValue() {
    return sim_.Registry().GetValue(kHkeyLocalMachine, kRun, L"KVD_Path");
  }

  kvd::sim::SimMachine sim_;
  CUtil util_{sim_.Ports()};
};

TEST_F(Restart, MarksTheResumeAndRequestsTheReboot) {
  const auto handles = sim_.Sync().OpenHandleCount();
  ASSERT_TRUE(util_.RestartMachine());
  const auto flag = sim_.Registry().GetValue(kHkeyLocalMachine, kRestart, L"Restart");
  ASSERT_TRUE(flag.has_value());
  EXPECT_EQ(flag->bytes, kvd::platform::ToUtf16Bytes(L"OK", true));  // six bytes
  const auto run = RunValue();
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->bytes, kvd::platform::ToUtf16Bytes(L"\"" + kExe + L"\"", true));
  const auto shutdowns = sim_.Security().Shutdowns();
  ASSERT_EQ(shutdowns.size(), 1u);
  EXPECT_TRUE(shutdowns[0].reboot);
  EXPECT_FALSE(shutdowns[0].forceAppsClosed);
  EXPECT_EQ(shutdowns[0].timeoutSeconds, 0u);
  EXPECT_EQ(shutdowns[0].reason, 0x00030000u);
  EXPECT_EQ(sim_.Sync().OpenHandleCount(), handles);  // the token was closed
  EXPECT_TRUE(util_.IsRestartPending());
}

TEST_F(Restart, EveryFailureLeavesNoMarks) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> arrange;
  };
  const Case cases[] = {
      {"flag key cannot be written",
       [](kvd::sim::SimMachine& sim) { sim.Registry().DenyAccess(kHkeyLocalMachine, kRestart); }},
      {"token cannot be opened",
       [](kvd::sim::SimMachine& sim) { sim.InjectFault("OpenProcessToken", 1, 5); }},
      {"privilege lookup fails",
       [](kvd::sim::SimMachine& sim) { sim.InjectFault("LookupPrivilegeValue", 1, 1313); }},
      {"privilege cannot be enabled",
       [](kvd::sim::SimMachine& sim) { sim.InjectFault("AdjustTokenPrivileges", 1, 5); }},
      {"privilege not held (TRUE with ERROR_NOT_ALL_ASSIGNED)",
       [](kvd::sim::SimMachine& sim) { sim.Security().SetHoldsShutdownPrivilege(false); }},
      {"shutdown refused",
       [](kvd::sim::SimMachine& sim) { sim.Security().SetShutdownAccepted(false); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    sim.Registry().PutKey(kHkeyLocalMachine, kRun);
    c.arrange(sim);
    CUtil util(sim.Ports());
    const auto handles = sim.Sync().OpenHandleCount();
    EXPECT_FALSE(util.RestartMachine());
    EXPECT_FALSE(sim.Registry().GetValue(kHkeyLocalMachine, kRestart, L"Restart").has_value());
    EXPECT_FALSE(sim.Registry().GetValue(kHkeyLocalMachine, kRun, L"KVD_Path").has_value());
    EXPECT_FALSE(util.IsRestartPending());
    EXPECT_TRUE(sim.Security().Shutdowns().empty());
    EXPECT_EQ(sim.Sync().OpenHandleCount(), handles);
  }
}

TEST_F(Restart, ARunEntryThatCannotBeWrittenStillRestarts) {
  sim_.Registry().DenyAccess(kHkeyLocalMachine, kRun);
  EXPECT_TRUE(util_.RestartMachine());
  EXPECT_TRUE(util_.IsRestartPending());
  EXPECT_EQ(sim_.Security().Shutdowns().size(), 1u);
}

TEST_F(Restart, PendingIsTheFlagOkInAnyCaseAndSpacing) {
  struct Case {
    std::optional<std::wstring> flag;
    bool pending;
  };
  const Case cases[] = {{L"OK", true},  {L" ok ", true}, {L"\tOk\t", true},
                        {L"NO", false}, {L"", false},    {std::nullopt, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flag ? kvd::platform::NarrowUtf8(*c.flag) : "missing");
    if (sim_.Registry().KeyExists(kHkeyLocalMachine, kRestart)) {
      sim_.Registry().RemoveKey(kHkeyLocalMachine, kRestart);
    }
    if (c.flag) sim_.Registry().PutString(kHkeyLocalMachine, kRestart, L"Restart", *c.flag);
    EXPECT_EQ(util_.IsRestartPending(), c.pending);
  }
  sim_.Registry().PutDword(kHkeyLocalMachine, kRestart, L"Restart", 1);
  EXPECT_FALSE(util_.IsRestartPending());
}

TEST_F(Restart, TheCleanUpRemovesBothMarks) {
  ASSERT_TRUE(util_.RestartMachine());
  util_.RemoveRestartMarks();
  EXPECT_FALSE(RestartMark());
  EXPECT_FALSE(RunValue().has_value());

  // Without the flag key the Run entry still goes.
  sim_.Registry().PutString(kHkeyLocalMachine, kRun, L"KVD_Path", L"x");
  util_.RemoveRestartMarks();
  EXPECT_FALSE(RunValue().has_value());
  // Without the Run key nothing breaks.
  sim_.Registry().RemoveKey(kHkeyLocalMachine, kRun);
  util_.RemoveRestartMarks();
}

TEST(KavidAppLogAtStart, KeptAfterARestartAndWhileAnotherInstanceRuns) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> arrange;
    bool kept;
  };
  const Case cases[] = {
      {"normal start", [](kvd::sim::SimMachine&) {}, false},
      {"restart pending",
       [](kvd::sim::SimMachine& sim) {
         sim.Registry().PutString(kHkeyLocalMachine, kRestart, L"Restart", L"OK");
       },
       true},
      {"another instance runs",
       [](kvd::sim::SimMachine& sim) { sim.Sync().HoldElsewhere(L"KVD_MUTEX"); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    const std::wstring log = L"C:\\Users\\tester\\AppData\\Local\\Temp\\qv_kvd.log";
    sim.Files().PutFile(log, {'x', 0});
    c.arrange(sim);
    CKavidApp app(sim.Ports());
    EXPECT_EQ(sim.Files().Exists(log), c.kept);
  }
}

// The device-manager check's restart: the reboot alone, no resume marks; a refused request is
// no restart.
TEST_F(Restart, ARebootWithoutResume) {
  EXPECT_TRUE(util_.RequestReboot());
  EXPECT_EQ(sim_.Security().Shutdowns().size(), 1u);
  EXPECT_FALSE(RestartMark());
  EXPECT_FALSE(RunValue().has_value());
  sim_.InjectFault("InitiateSystemShutdownEx", 1, 1115 /* ERROR_SHUTDOWN_IN_PROGRESS */);
  EXPECT_FALSE(util_.RequestReboot());
}

}  // namespace
