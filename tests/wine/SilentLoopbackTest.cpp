// The ping and the connection check when nothing answers, for real: run by
// tests/e2e/ping_timeout.sh in a network namespace of its own whose loopback ignores echo
// requests. Skipped anywhere else (KVD_SILENT_LOOPBACK unset).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "issues/KVDConnectionIssue.h"
#include "issues/Ping.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "platform/win32/Win32Platform.h"
#include "strings/StringTable.h"
#include "tests/support/PortHelpers.h"

namespace {

using namespace kvd::platform;

constexpr wchar_t kNode[] = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\KVDSILENT\\0000";

class SilentLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* flag = std::getenv("KVD_SILENT_LOOPBACK");
    if (flag == nullptr || std::string(flag) != "1") {
      GTEST_SKIP() << "needs a loopback that ignores echo requests (ping_timeout.sh)";
    }
    GlobalLag.Bind(real_.Ports());
    GlobalLag.m_LangID = 1033;
    ASSERT_TRUE(GlobalLag.LoadStrings());
  }
  void TearDown() override {
    kvd::test::DeleteTree(real_.Ports().registry, kHkeyLocalMachine,
                          L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\KVDSILENT");
  }

  win32::Win32Platform real_;
};

TEST_F(SilentLoopback, AnUnansweredEchoFailsAfterItsTimeout) {
  CPing ping(real_.Ports());
  ASSERT_TRUE(ping.IsReady());
  const DWORD start = GetTickCount();
  EXPECT_FALSE(ping.Ping("127.0.0.1"));
  const DWORD spent = GetTickCount() - start;
  // One request with a one-second timeout, no retries.
  EXPECT_GE(spent, 900u);
  EXPECT_LT(spent, 5000u);
}

TEST_F(SilentLoopback, APresentNetworkDeviceThatDoesNotAnswerIsNotConnected) {
  auto& registry = real_.Ports().registry;
  auto key = MakeUniqueHkey(registry);
  ASSERT_EQ(registry.CreateKeyEx(kHkeyLocalMachine, kNode, sam::AllAccess, key.put(), nullptr), 0);
  const auto guid = ToUtf16Bytes(GuidToText(devclass::Image), true);
  ASSERT_EQ(registry.SetValueEx(key.get(), L"ClassGUID", regtype::Sz, guid.data(),
                                static_cast<std::uint32_t>(guid.size())),
            0);
  _DeviceDetails device;
  device.strInstanceId = L"ROOT\\KVDSILENT\\0000";
  device.strIpAddress = L"ip=127.0.0.1,port=9100";
  device.bNetwork = true;
  CKVDConnectionIssue check(real_.Ports());
  EXPECT_EQ(check.Diagnose(device), 0);
  EXPECT_EQ(check.m_nStatus, issue::kStatusFailed);
  EXPECT_EQ(check.m_nErrorCode, 1001);
  EXPECT_EQ(check.m_strMessage, GlobalLag.GetString(L"NETWORK_NO_CONNECTION"));
}

}  // namespace
