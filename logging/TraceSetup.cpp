#include "logging/TraceSetup.h"

#include "platform/api/Handles.h"
#include "platform/api/Text.h"

namespace DUDiduzuz {

namespace {

using namespace kvd::platform;

void WriteDword(IRegistry& registry, HKey key, const wchar_t* name, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  registry.SetValueEx(key, name, regtype::Dword, bytes, 4);
}

}  // namespace

TraceTarget ConfigureTrace(Platform& platform, const wchar_t* logFileName) {
  TraceTarget target;
  std::wstring modulePath;
  GrowAndRetry(modulePath, [&](wchar_t* buffer, std::uint32_t chars) {
    return platform.process.GetModuleFileName(0, buffer, chars);
  });
  const std::size_t slash = modulePath.rfind(L'\\');
  target.exeName = slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);

  std::wstring temp;
  if (!ExpandEnvironment(platform.environment, L"%temp%", temp)) {
    temp = L"%temp%";
  }
  target.logFile = temp + L"\\" + logFileName;

  auto key = MakeUniqueHkey(platform.registry);
  const std::wstring keyPath = L"SOFTWARE\\QV\\NG\\Logging\\" + target.exeName;
  if (platform.registry.CreateKeyEx(kHkeyCurrentUser, keyPath.c_str(),
                                    sam::Write | sam::Wow64_32Key, key.put(), nullptr) == 0) {
    // Written with its terminating NUL, as every text value of the program.
    const auto path = ToUtf16Bytes(target.logFile, true);
    platform.registry.SetValueEx(key.get(), L"LogFileName", regtype::Sz, path.data(),
                                 static_cast<std::uint32_t>(path.size()));
    WriteDword(platform.registry, key.get(), L"LogCategories", kLogCategories);
    WriteDword(platform.registry, key.get(), L"LogOptions", kLogOptions);
    WriteDword(platform.registry, key.get(), L"LogInfoDetailLevel", kLogInfoDetailLevel);
  }
  return target;
}

}  // namespace DUDiduzuz
