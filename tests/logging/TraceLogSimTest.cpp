// Trace-log faults that only the simulated machine can stage: folders that refuse writes, another
// process holding the file, registry calls that fail.
#include <gtest/gtest.h>

#include "logging/DUDiduzuz.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/PortHelpers.h"

namespace {

using kvd::platform::kHkeyCurrentUser;
namespace kind = DUDiduzuz::kind;

const std::wstring kExeKey = L"Software\\QV\\NG\\Logging\\kavid.exe";
const std::wstring kFolder = L"C:\\Users\\tester\\AppData\\Local\\Temp\\logs";
const DUDiduzuz::CLogSourceFile kSource(".\\DiagnosticMgr.cpp");

class TraceLogSim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.Files().PutFolder(kFolder);
    auto& registry = sim_.Registry();
    registry.PutDword(kHkeyCurrentUser, kExeKey, L"LogCategories", 0x10);
    registry.PutDword(kHkeyCurrentUser, kExeKey, L"LogOptions", 0);
    registry.PutDword(kHkeyCurrentUser, kExeKey, L"LogInfoDetailLevel", 0);
    registry.PutString(kHkeyCurrentUser, kExeKey, L"LogFileName", path_);
  }

  std::vector<std::wstring> Lines() {
    const auto bytes = sim_.Files().GetFile(path_);
    return bytes ? kvd::test::SplitLines(kvd::test::DecodeUtf16(*bytes))
                 : std::vector<std::wstring>{};
  }

  kvd::sim::SimMachine sim_;
  std::wstring path_ = kFolder + L"\\qv_kvd.log";
  DUDiduzuz::SettingsStore store_{sim_.Ports().sync};
  DUDiduzuz::CLogModule logger_{sim_.Ports(), store_};
};

TEST_F(TraceLogSim, AFolderThatRefusesWritesLosesOnlyThoseLines) {
  sim_.Files().DenyWrites(kFolder);
  sim_.Debug().Take();
  DUDiduzuz::CLogFunction scope(&logger_, kSource, L"F", 1);
  scope.Log(1, kind::Info, L"refused");
  const auto debug = sim_.Debug().Take();
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(debug[0], L"Unable to open log file:\r\n<" + kvd::platform::ToLowerOrdinal(path_) +
                          L">\r\n[Err: 0x00000005] Access is denied.\r\n");
  EXPECT_TRUE(sim_.Clock().Sleeps().empty());  // not a sharing violation: no retries
  EXPECT_FALSE(sim_.Files().Exists(path_));
}

TEST_F(TraceLogSim, AnotherProcessHoldingTheFile) {
  DUDiduzuz::CLogFunction scope(&logger_, kSource, L"F", 1);
  scope.Log(1, kind::Info, L"one");
  sim_.Files().HoldExclusively(path_);
  const auto opensBefore = sim_.CallCount("CreateFile");
  scope.Log(2, kind::Info, L"two");
  scope.Log(3, kind::Info, L"three");
  EXPECT_EQ(sim_.CallCount("CreateFile") - opensBefore, 6u);  // three attempts per record
  EXPECT_EQ(sim_.Clock().Sleeps(), (std::vector<std::uint32_t>{30, 30, 30, 30}));
  sim_.Files().ReleaseHold(path_);
  scope.Log(4, kind::Info, L"four");
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) one", L"(I0) four"}));
}

TEST_F(TraceLogSim, AHeldFileFreedBeforeTheThirdAttemptGetsTheLine) {
  DUDiduzuz::CLogFunction scope(&logger_, kSource, L"F", 1);
  scope.Log(1, kind::Info, L"one");
  // Two opens fail as if the file were held; the third succeeds.
  sim_.InjectFault("CreateFile", 1, kvd::platform::err::SharingViolation);
  sim_.InjectFault("CreateFile", 2, kvd::platform::err::SharingViolation);
  sim_.Debug().Take();
  scope.Log(2, kind::Info, L"two");
  EXPECT_TRUE(sim_.Debug().Take().empty());
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) one", L"(I0) two"}));
}

TEST_F(TraceLogSim, RegistryFailuresLeaveTheDefaults) {
  // The root key cannot be opened: nothing is configured, nothing reaches a file.
  sim_.InjectFault("OpenKeyEx", 1, kvd::platform::err::AccessDenied, true);
  DUDiduzuz::CLogFunction scope(&logger_, kSource, L"F", 1);
  scope.Log(1, kind::Info, L"lost");
  scope.Log(2, kind::Info | 1, L"lost too");
  EXPECT_TRUE(Lines().empty());
  sim_.ClearFaults();

  // Reading the values fails: the poll leaves them as reset, so again no file.
  sim_.Clock().Advance(30001);
  sim_.InjectFault("QueryValueEx", 1, kvd::platform::err::AccessDenied, true);
  scope.Log(3, kind::Info, L"still lost");
  EXPECT_TRUE(Lines().empty());
  sim_.ClearFaults();

  sim_.Clock().Advance(30001);
  scope.Log(4, kind::Info, L"written");
  EXPECT_EQ(Lines(), std::vector<std::wstring>{L"(I0) written"});
}

TEST_F(TraceLogSim, TheRegistryIsReadOncePerPollInterval) {
  DUDiduzuz::CLogFunction scope(&logger_, kSource, L"F", 1);
  scope.Log(1, kind::Info, L"first: polls and starts the file");
  const auto reads = sim_.CallCount("QueryValueEx");
  for (int i = 0; i < 100; ++i) scope.Log(2, kind::Info, L"more");
  EXPECT_EQ(sim_.CallCount("QueryValueEx"), reads);
  sim_.Clock().Advance(30001);
  scope.Log(3, kind::Info, L"after the interval");
  EXPECT_GT(sim_.CallCount("QueryValueEx"), reads);
}

}  // namespace
