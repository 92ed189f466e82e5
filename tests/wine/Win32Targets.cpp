// tests/wine: the Wine tier: the shared suites against the real Win32 adapters, and the facts
// only the real machine shows.
#include "platform/win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/Text.h"
#include "platform/win32/Win32Platform.h"
#include "tests/support/TestMachine.h"

namespace kvd::test {
namespace {

// Setting up a scratch area fails only when the prefix is broken; the exception names the call
// and its code, and the suite's fixture reports it.
[[noreturn]] void ThrowFailed(const char* call, std::uint32_t code) {
  throw std::runtime_error(std::string(call) + " failed with error " + std::to_string(code));
}

class DebugRecorder final : public platform::IDebugOutput {
 public:
  void OutputDebugString(const wchar_t* text) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    texts_.emplace_back(text ? text : L"");
  }

  std::vector<std::wstring> Take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(texts_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
};

// Removes a folder and everything below it; read-only files too, since suites make them.
bool RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
  }
  bool removed = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      removed = RemoveTree(path) && removed;
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      removed = ::DeleteFileW(path.c_str()) != FALSE && removed;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return ::RemoveDirectoryW(folder.c_str()) != FALSE && removed;
}

std::wstring TempFolder() {
  wchar_t path[MAX_PATH + 1];
  const DWORD chars = ::GetTempPathW(static_cast<DWORD>(std::size(path)), path);
  if (chars == 0 || chars >= std::size(path)) ThrowFailed("GetTempPathW", ::GetLastError());
  // %TEMP% may be in 8.3 form on Windows; the suites compare against long names.
  wchar_t longPath[MAX_PATH + 1];
  const DWORD longChars =
      ::GetLongPathNameW(path, longPath, static_cast<DWORD>(std::size(longPath)));
  std::wstring folder = (longChars == 0 || longChars >= std::size(longPath))
                            ? std::wstring(path, chars)
                            : std::wstring(longPath, longChars);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

constexpr wchar_t kKeyParent[] = L"Software\\KvdTest";

class Win32Machine final : public TestMachine {
 public:
  Win32Machine() : ports_(platform::Overridden(real_.Ports(), {.debug = &debug_})) {
    static std::atomic<unsigned> made{0};
    const std::wstring name =
        std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++made);

    folder_ = TempFolder() + L"\\kvdtest-" + name;
    // A run that died with the same process id may have left its area behind.
    RemoveTree(folder_);
    if (!::CreateDirectoryW(folder_.c_str(), nullptr)) {
      ThrowFailed("CreateDirectoryW", ::GetLastError());
    }

    key_ = std::wstring(kKeyParent) + L"\\" + name;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    HKEY key = nullptr;
    const LSTATUS status =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_READ, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) ThrowFailed("RegCreateKeyExW", static_cast<std::uint32_t>(status));
    ::RegCloseKey(key);
  }

  ~Win32Machine() override {
    // A handle a suite left open keeps its file, and shows here.
    EXPECT_TRUE(RemoveTree(folder_))
        << "scratch folder left behind: " << platform::NarrowUtf8(folder_);
    // A suite may have deleted the scratch key itself.
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        << "scratch key left behind: " << platform::NarrowUtf8(key_) << ", error " << status;
    // Only succeeds once no other machine of this run holds a key under it.
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kKeyParent);
  }

  Win32Machine(const Win32Machine&) = delete;
  Win32Machine& operator=(const Win32Machine&) = delete;

  platform::Platform& Ports() override { return ports_; }
  std::wstring ScratchFolder() override { return folder_; }
  std::wstring ScratchKey() override { return key_; }
  std::vector<std::wstring> TakeDebugOutput() override { return debug_.Take(); }
  bool IsSimulated() const override { return false; }

 private:
  platform::win32::Win32Platform real_;
  DebugRecorder debug_;
  platform::Platform ports_;
  std::wstring folder_;
  std::wstring key_;
};

}  // namespace

const std::vector<TargetFactory>& AllTargets() {
  static const std::vector<TargetFactory> targets{
      {"Win32", [] { return std::unique_ptr<TestMachine>(std::make_unique<Win32Machine>()); }}};
  return targets;
}

}  // namespace kvd::test
