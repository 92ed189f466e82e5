// tools/fakes/: stand-ins of our own for the maker's programs that kavid.exe starts, for the Wine
// tier.
//
// kvd_fake_recorder: one program under the names of the maker's tools (the technical-information
// tool, the software-update client...). Each start appends one line to "<its own path>.calls":
// its command line and its working folder, tab-separated, so that a test sees exactly how it was
// started. It exits with the number in "<its own path>.exit" when that file exists, else 0, and
// never when "<its own path>.hang" exists.
#include "platform/win32/Windows.h"

#include "platform/api/Text.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring self = OwnPath();
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(static_cast<DWORD>(std::size(folder)), folder);
  const std::string line = kvd::platform::NarrowUtf8(::GetCommandLineW()) + "\t" +
                           kvd::platform::NarrowUtf8(folder) + "\n";
  if (FILE* calls = _wfopen((self + L".calls").c_str(), L"ab")) {
    std::fwrite(line.data(), 1, line.size(), calls);
    std::fclose(calls);
  }
  // A program that hangs: "<its own path>.hang" keeps it running until it is ended.
  if (::GetFileAttributesW((self + L".hang").c_str()) != INVALID_FILE_ATTRIBUTES) {
    ::Sleep(INFINITE);
  }
  int code = 0;
  if (FILE* exit = _wfopen((self + L".exit").c_str(), L"rb")) {
    if (std::fscanf(exit, "%d", &code) != 1) code = 0;
    std::fclose(exit);
  }
  return code;
}
