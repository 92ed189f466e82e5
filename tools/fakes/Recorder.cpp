// tools/fakes/: stand-ins of our own for the maker's programs that kavid.exe starts, for the Wine
// tier.
//
// kvd_fake_recorder: one program under the names of the maker's tools (the technical-information
// tool, the software-update client...). Each start appends one line to "<its own path>.calls":
// its command line and its working folder, tab-separated, so that a test sees exactly how it was
// started. It exits with the number in "<its own path>.exit" when that file exists, else 0, and
// never when "<its own path>.hang" exists.
#include "platform/win32/Windows.h"

#include "tools/fakes/FakeSupport.h"

#include <cstdio>
#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring self = fake::OwnPath();
  wchar_t folder[MAX_PATH] = {};
  ::GetCurrentDirectoryW(static_cast<DWORD>(std::size(folder)), folder);
  fake::Record(std::wstring(::GetCommandLineW()) + L"\t" + folder);
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
