// tools/: programs built for the Wine tier (fake components, the UI driver).
//
// kvd_ui_driver: a small Win32 driver for whole-program tests.
//   kvd_ui_driver hold-mutex <name> <seconds>   holds a named mutex, as a running instance does
//   kvd_ui_driver read-box <caption> <ms>       waits for a message box with that caption, prints
//                                               its text (UTF-8) and presses its OK button
#include "platform/win32/Windows.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
  if (bytes > 1)
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[2048] = {};
  ::SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(std::size(buffer)),
                 reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

int HoldMutex(const wchar_t* name, int seconds) {
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name);
  if (mutex == nullptr) return 2;
  std::printf("holding\n");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(seconds) * 1000);
  ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
  return 0;
}

int ReadBox(const wchar_t* caption, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 100) {
    HWND box = ::FindWindowW(L"#32770", caption);
    if (box != nullptr) {
      // The message box's text is its static control (id 0xFFFF).
      HWND text = ::GetDlgItem(box, 0xFFFF);
      std::printf("%s\n", Utf8(text != nullptr ? TextOf(text) : std::wstring()).c_str());
      std::fflush(stdout);
      HWND ok = ::GetDlgItem(box, IDOK);
      if (ok != nullptr) {
        ::SendMessageW(ok, BM_CLICK, 0, 0);
      } else {
        ::PostMessageW(box, WM_CLOSE, 0, 0);
      }
      return 0;
    }
    ::Sleep(100);
  }
  std::fprintf(stderr, "no message box captioned as asked\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"hold-mutex") == 0)
    return HoldMutex(argv[2], _wtoi(argv[3]));
  if (argc == 4 && std::wcscmp(argv[1], L"read-box") == 0) return ReadBox(argv[2], _wtoi(argv[3]));
  std::fprintf(stderr,
               "usage: kvd_ui_driver hold-mutex <name> <seconds> | read-box <caption> <ms>\n");
  return 64;
}
