// Restart and resume against the real registry (Wine's InitiateSystemShutdownExW accepts the
// request and does nothing).
#include <gtest/gtest.h>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "platform/win32/Win32Platform.h"
#include "system/Helper.h"

namespace {

using namespace kvd::platform;

std::optional<std::vector<std::uint8_t>> Value(IRegistry& registry, const wchar_t* key,
                                               const wchar_t* name) {
  auto opened = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, key, sam::Read | sam::Wow64_32Key, opened.put()) != 0) {
    return std::nullopt;
  }
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (registry.QueryValueEx(opened.get(), name, &type, nullptr, &size) != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  if (registry.QueryValueEx(opened.get(), name, &type, bytes.data(), &size) != 0)
    return std::nullopt;
  return bytes;
}

TEST(RestartMarks, WrittenByTheRestartAndRemovedByTheCleanUp) {
  win32::Win32Platform machine;
  auto& ports = machine.Ports();
  CUtil util(ports);
  std::wstring exe;
  GrowAndRetry(
      exe, [&](wchar_t* b, std::uint32_t c) { return ports.process.GetModuleFileName(0, b, c); });

  ASSERT_TRUE(util.RestartMachine());
  EXPECT_EQ(Value(ports.registry, kRestartKey, L"Restart"), ToUtf16Bytes(L"OK", true));
  EXPECT_EQ(Value(ports.registry, kRunKey, L"KVD_Path"), ToUtf16Bytes(L"\"" + exe + L"\"", true));
  EXPECT_TRUE(util.IsRestartPending());

  util.RemoveRestartMarks();
  EXPECT_FALSE(Value(ports.registry, kRestartKey, L"Restart").has_value());
  EXPECT_FALSE(Value(ports.registry, kRunKey, L"KVD_Path").has_value());
  EXPECT_FALSE(util.IsRestartPending());
}

}  // namespace
