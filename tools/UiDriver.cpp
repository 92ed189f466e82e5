// tools/: programs built for the Wine tier (fake components, the UI driver).
//
// kvd_ui_driver: a small Win32 driver for whole-program tests. Output is UTF-8 on stdout, one
// record a line, fields separated by tabs; exit code 0 on success, 1 when what was waited for did
// not appear or a call failed, 64 on bad usage. <window> is a hex handle (0x...) or the exact title
// of a visible top-level window; <id> and the numbers are decimal or 0x hex. Texts in records have
// CR, LF and TAB written as \r, \n and \t. "Visible" is IsWindowVisible (the window and all its
// ancestors), so a control on a hidden page is not visible.
//   kvd_ui_driver hold-mutex <name> <seconds>   holds a named mutex, as a running instance does
//   kvd_ui_driver read-box <caption> <ms>       waits for a message box with that caption, prints
//                                               its text (UTF-8) and presses its OK button
//   kvd_ui_driver answer-box <caption> <ms> <button>
//                                               the same, pressing the button with that id
//                                               (6 Yes, 7 No, 1 OK, 2 Cancel)
//   kvd_ui_driver wait-window <title> <ms>      waits for a visible top-level window with exactly
//                                               that title (any class): prints its handle (0x1a2b)
//   kvd_ui_driver wait-control <window> <id> <ms>
//                                               waits for a visible descendant with that id: prints
//                                               its handle
//   kvd_ui_driver controls <window>             every descendant, depth-first:
//                                               id, class, visible (0/1), enabled (0/1), text
//   kvd_ui_driver text <window> <id>            the text of the first descendant with that id
//   kvd_ui_driver enabled <window> <id>         0 or 1
//   kvd_ui_driver visible <window> <id>         0 or 1
//   kvd_ui_driver list-rows <window> <id>       a list view's rows: one line a row, its columns
//                                               (a list box: its entries)
//   kvd_ui_driver list-images <window> <id>  each row's image index, one a line (-1: none)
//   kvd_ui_driver list-columns <window> <id>    a list view's header texts, on one line
//   kvd_ui_driver select-row <window> <id> <row>
//                                               selects and focuses a row as a click does
//   kvd_ui_driver click <window> <id>           posts BM_CLICK to a visible, enabled button
//   kvd_ui_driver command <window> <id>         posts WM_COMMAND (id, BN_CLICKED) to the parent of
//                                               the control with that id, shown or not: the
//                                               handler of a button no result offers yet
//   kvd_ui_driver send <window> <message> <wparam> <lparam>
//                                               SendMessageTimeout (5 s): prints the result
//   kvd_ui_driver post <window> <message> <wparam> <lparam>
//   kvd_ui_driver syscommand <window> <command> posts WM_SYSCOMMAND; a number or close, minimize,
//                                               maximize, restore, move, size, keymenu
//   kvd_ui_driver richedit-text <window> <id>   a rich edit's text: one output line a line
//   kvd_ui_driver close <window>                posts WM_CLOSE
//   kvd_ui_driver wait-gone <window> <ms>       waits until the window no longer exists
//   kvd_ui_driver click-link <window> <id>      clicks a SysLink's first link: the control sends
//                                               NM_CLICK to its parent
//   kvd_ui_driver key-link <window> <id>        focuses a SysLink and presses Return: NM_RETURN
//   kvd_ui_driver windows                       visible top-level windows: handle, class, title
//   kvd_ui_driver rect <window>                 its screen rectangle: left top right bottom
//   kvd_ui_driver shell-run <file> <parameters> <ms>
//                                               starts a program as the program starts its helper
//                                               (ShellExecuteExW "open", hidden), waits up to <ms>
//                                               and prints its exit code and the time taken (ms)
#include "platform/win32/Windows.h"

#include "platform/win32/Owners.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

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

int ReadBox(const wchar_t* caption, int milliseconds, int button = IDOK) {
  for (int waited = 0; waited < milliseconds; waited += 100) {
    // The program's own windows are dialogs with the same caption: the box is the one with a
    // message text (its static control, id 0xFFFF).
    HWND box = nullptr;
    for (HWND next = ::FindWindowExW(nullptr, nullptr, L"#32770", caption); next != nullptr;
         next = ::FindWindowExW(nullptr, next, L"#32770", caption)) {
      if (::GetDlgItem(next, 0xFFFF) != nullptr) {
        box = next;
        break;
      }
    }
    if (box != nullptr) {
      // The message box's text is its static control (id 0xFFFF).
      HWND text = ::GetDlgItem(box, 0xFFFF);
      std::printf("%s\n", Utf8(text != nullptr ? TextOf(text) : std::wstring()).c_str());
      std::fflush(stdout);
      HWND pressed = ::GetDlgItem(box, button);
      if (pressed != nullptr) {
        // Posted: the box's owner may be busy with what the answer starts.
        ::PostMessageW(pressed, BM_CLICK, 0, 0);
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

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 64;

// A program that hangs in a handler must fail the test step, not hang the driver (and the test).
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;
// Controls copy texts into a caller's buffer and cut them silently at its end: the buffer grows
// while the text fills it, up to this many characters.
constexpr std::size_t kMaxTextChars = 1 << 20;

// Records go out with "\n" only: the CRT's text mode would turn a "\r\n" inside a text into
// "\r\r\n" and end every line with a CR that a shell test would have to strip.
void PrintLine(const std::wstring& line) {
  const std::string bytes = Utf8(line) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void Complain(const std::wstring& message) {
  const std::string bytes = Utf8(message) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

std::wstring Escaped(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    switch (c) {
      case L'\r':
        out += L"\\r";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::wstring Hex(const void* handle) {
  wchar_t buffer[32] = {};
  std::swprintf(buffer, std::size(buffer), L"0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
  return buffer;
}

std::wstring Flag(bool value) { return value ? L"1" : L"0"; }

// Decimal (with an optional sign) or 0x hex, the whole argument: "010" is ten, not octal eight.
std::optional<long long> ParseNumber(const wchar_t* text) {
  const bool hex = text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
  const wchar_t* digits = hex ? text + 2 : text;
  if (*digits == L'\0') return std::nullopt;
  wchar_t* end = nullptr;
  const long long value = hex ? static_cast<long long>(std::wcstoull(digits, &end, 16))
                              : std::wcstoll(digits, &end, 10);
  if (end == nullptr || *end != L'\0') return std::nullopt;
  return value;
}

// Polls until the probe answers something (a handle, true) or the time is up; the probe runs at
// least once, so a wait of 0 ms is a plain look.
template <class Probe>
auto WaitFor(long long milliseconds, Probe probe) -> decltype(probe()) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    auto answer = probe();
    if (answer || ::GetTickCount64() >= deadline) return answer;
    ::Sleep(kPollMs);
  }
}

// Reads a text into a buffer of a given capacity (characters, with the terminator), growing it
// while the text fills it, because the control gives no sign of having cut it.
template <class Read>
std::optional<std::wstring> ReadGrowing(std::size_t capacity, Read read) {
  for (;; capacity *= 2) {
    std::optional<std::wstring> text = read(capacity);
    if (!text || text->size() + 1 < capacity || capacity >= kMaxTextChars) return text;
  }
}

std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                            &result) == 0)
    return std::nullopt;
  return static_cast<LRESULT>(result);
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  ::GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
  return buffer;
}

// The caption a top-level window keeps in its own structure: read without a message, so a busy
// program cannot stall the search.
std::wstring TitleOf(HWND window) {
  std::wstring title(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  title.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
  return title;
}

// WM_GETTEXT, which the system copies between processes (unlike the common controls' messages).
std::optional<std::wstring> ControlText(HWND control) {
  const std::optional<LRESULT> length = Send(control, WM_GETTEXTLENGTH, 0, 0);
  if (!length) return std::nullopt;
  return ReadGrowing(static_cast<std::size_t>(*length > 0 ? *length : 0) + 1,
                     [control](std::size_t capacity) -> std::optional<std::wstring> {
                       std::wstring text(capacity, L'\0');
                       const std::optional<LRESULT> copied = Send(
                           control, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(text.data()));
                       if (!copied) return std::nullopt;
                       text.resize(std::wcslen(text.c_str()));
                       return text;
                     });
}

// A lambda will not do on i686: enumeration callbacks are stdcall.
BOOL CALLBACK Collect(HWND window, LPARAM found) {
  reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> all;
  ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> visible;
  for (HWND window : all)
    if (::IsWindowVisible(window)) visible.push_back(window);
  return visible;
}

// A program's window rather than a message box of the same title (a box has its text in the
// static 0xFFFF); a box when nothing else has the title.
HWND FindTopLevel(const std::wstring& title) {
  HWND box = nullptr;
  for (HWND window : TopLevelWindows()) {
    if (TitleOf(window) != title) continue;
    if (::GetDlgItem(window, 0xFFFF) == nullptr) return window;
    if (box == nullptr) box = window;
  }
  return box;
}

// A handle written as 0x... that names a live window, else the visible top-level window titled so.
HWND ResolveWindow(const wchar_t* name) {
  if (name[0] == L'0' && (name[1] == L'x' || name[1] == L'X')) {
    const std::optional<long long> value = ParseNumber(name);
    if (value) {
      HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(*value));
      if (::IsWindow(window)) return window;
    }
  }
  return FindTopLevel(name);
}

// Pages are child dialogs of the host dialog: EnumChildWindows walks children of children too,
// depth-first.
std::vector<HWND> Descendants(HWND window) {
  std::vector<HWND> found;
  ::EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindDescendant(HWND window, int id) {
  for (HWND child : Descendants(window))
    if (::GetDlgCtrlID(child) == id) return child;
  return nullptr;
}

using UniqueProcess = kvd::platform::win32::UniqueKernelHandle;

// Memory inside the process that owns a window. The common controls' messages carry pointers that
// the system passes unchanged between processes (it copies only the standard messages' data, such
// as WM_GETTEXT's), so their structures and text buffers must live in the target's address space.
// Both sides are 32-bit, so the structures have the same layout here and there.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t bytes) : bytes_(bytes) {
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(window, &process_id);
    process_.reset(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                                 process_id));
    if (process_.valid())
      base_ = static_cast<char*>(::VirtualAllocEx(process_.get(), nullptr, bytes,
                                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  ~RemoteBuffer() {
    if (base_ != nullptr) ::VirtualFreeEx(process_.get(), base_, 0, MEM_RELEASE);
  }

  [[nodiscard]] bool valid() const { return base_ != nullptr; }

  // An address as the target sees it, for the pointers inside a structure and for lParam; it is
  // never dereferenced here.
  template <class T>
  [[nodiscard]] T* At(std::size_t offset) const {
    return reinterpret_cast<T*>(base_ + offset);
  }
  template <class T>
  [[nodiscard]] LPARAM Param(std::size_t offset = 0) const {
    return reinterpret_cast<LPARAM>(At<T>(offset));
  }

  bool Write(std::size_t offset, const void* data, std::size_t size) {
    SIZE_T written = 0;
    return offset + size <= bytes_ &&
           ::WriteProcessMemory(process_.get(), base_ + offset, data, size, &written) != 0 &&
           written == size;
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    SIZE_T read = 0;
    return offset + size <= bytes_ &&
           ::ReadProcessMemory(process_.get(), base_ + offset, data, size, &read) != 0 &&
           read == size;
  }
  std::optional<std::wstring> ReadText(std::size_t offset, std::size_t chars) const {
    std::wstring text(chars, L'\0');
    if (!Read(offset, text.data(), chars * sizeof(wchar_t))) return std::nullopt;
    text.resize(std::wcslen(text.c_str()));
    return text;
  }

 private:
  UniqueProcess process_;
  char* base_ = nullptr;
  std::size_t bytes_;
};

// A structure followed by its text buffer, in one remote block.
template <class T>
constexpr std::size_t TextOffset() {
  return (sizeof(T) + 7) / 8 * 8;
}

// Resolves <window> <id> to a control, saying on stderr what is missing.
HWND ControlArg(const wchar_t* window_name, const wchar_t* id_text, int* exit_code) {
  const std::optional<long long> id = ParseNumber(id_text);
  if (!id) {
    Complain(L"not a control id: " + std::wstring(id_text));
    *exit_code = kUsage;
    return nullptr;
  }
  HWND window = ResolveWindow(window_name);
  if (window == nullptr) {
    Complain(L"no window " + std::wstring(window_name));
    *exit_code = kFailed;
    return nullptr;
  }
  HWND control = FindDescendant(window, static_cast<int>(*id));
  if (control == nullptr) {
    Complain(L"no control " + std::wstring(id_text) + L" in " + std::wstring(window_name));
    *exit_code = kFailed;
  }
  return control;
}

HWND WindowArg(const wchar_t* window_name, int* exit_code) {
  HWND window = ResolveWindow(window_name);
  if (window == nullptr) {
    Complain(L"no window " + std::wstring(window_name));
    *exit_code = kFailed;
  }
  return window;
}

HWND ListViewArg(const wchar_t* window_name, const wchar_t* id_text, int* exit_code) {
  HWND list = ControlArg(window_name, id_text, exit_code);
  if (list != nullptr && ClassOf(list) != WC_LISTVIEWW) {
    Complain(L"control " + std::wstring(id_text) + L" (" + ClassOf(list) + L") is not a list view");
    *exit_code = kFailed;
    return nullptr;
  }
  return list;
}

int ColumnCount(HWND list) {
  const std::optional<LRESULT> header = Send(list, LVM_GETHEADER, 0, 0);
  if (!header || *header == 0) return 1;
  const std::optional<LRESULT> count =
      Send(reinterpret_cast<HWND>(*header), HDM_GETITEMCOUNT, 0, 0);
  return count && *count > 0 ? static_cast<int>(*count) : 1;
}

std::optional<std::wstring> ItemText(HWND list, int row, int column) {
  return ReadGrowing(256, [&](std::size_t capacity) -> std::optional<std::wstring> {
    RemoteBuffer remote(list, TextOffset<LVITEMW>() + capacity * sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = remote.At<wchar_t>(TextOffset<LVITEMW>());
    item.cchTextMax = static_cast<int>(capacity);
    const wchar_t empty = L'\0';
    if (!remote.valid() || !remote.Write(0, &item, sizeof(item)) ||
        !remote.Write(TextOffset<LVITEMW>(), &empty, sizeof(empty)) ||
        !Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), remote.Param<LVITEMW>()))
      return std::nullopt;
    return remote.ReadText(TextOffset<LVITEMW>(), capacity);
  });
}

std::optional<std::wstring> ColumnText(HWND list, int column) {
  return ReadGrowing(256, [&](std::size_t capacity) -> std::optional<std::wstring> {
    RemoteBuffer remote(list, TextOffset<LVCOLUMNW>() + capacity * sizeof(wchar_t));
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.pszText = remote.At<wchar_t>(TextOffset<LVCOLUMNW>());
    header.cchTextMax = static_cast<int>(capacity);
    const wchar_t empty = L'\0';
    if (!remote.valid() || !remote.Write(0, &header, sizeof(header)) ||
        !remote.Write(TextOffset<LVCOLUMNW>(), &empty, sizeof(empty)))
      return std::nullopt;
    const std::optional<LRESULT> done =
        Send(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), remote.Param<LVCOLUMNW>());
    if (!done || *done == 0) return std::nullopt;
    return remote.ReadText(TextOffset<LVCOLUMNW>(), capacity);
  });
}

// --- commands: each takes the arguments after its name, their count checked by the table ---

int HoldMutexCommand(wchar_t** args) { return HoldMutex(args[0], _wtoi(args[1])); }

int ReadBoxCommand(wchar_t** args) { return ReadBox(args[0], _wtoi(args[1])); }
int AnswerBoxCommand(wchar_t** args) { return ReadBox(args[0], _wtoi(args[1]), _wtoi(args[2])); }

int WaitWindowCommand(wchar_t** args) {
  const std::optional<long long> ms = ParseNumber(args[1]);
  if (!ms) return kUsage;
  const std::wstring title = args[0];
  HWND window = WaitFor(*ms, [&title] { return FindTopLevel(title); });
  if (window == nullptr) {
    Complain(L"no visible window titled " + title);
    return kFailed;
  }
  PrintLine(Hex(window));
  return kOk;
}

int WaitControlCommand(wchar_t** args) {
  const std::optional<long long> id = ParseNumber(args[1]);
  const std::optional<long long> ms = ParseNumber(args[2]);
  if (!id || !ms) return kUsage;
  // The window itself may still be on its way (a page shown after the host).
  HWND control = WaitFor(*ms, [&]() -> HWND {
    HWND window = ResolveWindow(args[0]);
    HWND child = window != nullptr ? FindDescendant(window, static_cast<int>(*id)) : nullptr;
    return child != nullptr && ::IsWindowVisible(child) ? child : nullptr;
  });
  if (control == nullptr) {
    Complain(L"no visible control " + std::wstring(args[1]) + L" in " + std::wstring(args[0]));
    return kFailed;
  }
  PrintLine(Hex(control));
  return kOk;
}

int ControlsCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND window = WindowArg(args[0], &exit_code);
  if (window == nullptr) return exit_code;
  for (HWND child : Descendants(window)) {
    PrintLine(std::to_wstring(::GetDlgCtrlID(child)) + L"\t" + ClassOf(child) + L"\t" +
              Flag(::IsWindowVisible(child) != 0) + L"\t" + Flag(::IsWindowEnabled(child) != 0) +
              L"\t" + Escaped(ControlText(child).value_or(std::wstring())));
  }
  return kOk;
}

int TextCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND control = ControlArg(args[0], args[1], &exit_code);
  if (control == nullptr) return exit_code;
  const std::optional<std::wstring> text = ControlText(control);
  if (!text) return kFailed;
  PrintLine(Escaped(*text));
  return kOk;
}

int EnabledCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND control = ControlArg(args[0], args[1], &exit_code);
  if (control == nullptr) return exit_code;
  PrintLine(Flag(::IsWindowEnabled(control) != 0));
  return kOk;
}

int VisibleCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND control = ControlArg(args[0], args[1], &exit_code);
  if (control == nullptr) return exit_code;
  PrintLine(Flag(::IsWindowVisible(control) != 0));
  return kOk;
}

// A list box's entries, one a line: the system carries LB_GETTEXT across processes itself.
int ListBoxRows(HWND list) {
  const std::optional<LRESULT> rows = Send(list, LB_GETCOUNT, 0, 0);
  if (!rows || *rows < 0) return kFailed;
  for (int row = 0; row < static_cast<int>(*rows); ++row) {
    const std::optional<LRESULT> length = Send(list, LB_GETTEXTLEN, row, 0);
    if (!length || *length < 0) return kFailed;
    std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied =
        Send(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
    if (!copied || *copied < 0) return kFailed;
    text.resize(static_cast<std::size_t>(*copied));
    PrintLine(Escaped(text));
  }
  return kOk;
}

int ListRowsCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND control = ControlArg(args[0], args[1], &exit_code);
  if (control != nullptr && ::lstrcmpiW(ClassOf(control).c_str(), L"ListBox") == 0)
    return ListBoxRows(control);
  HWND list = ListViewArg(args[0], args[1], &exit_code);
  if (list == nullptr) return exit_code;
  const std::optional<LRESULT> rows = Send(list, LVM_GETITEMCOUNT, 0, 0);
  if (!rows) return kFailed;
  const int columns = ColumnCount(list);
  for (int row = 0; row < static_cast<int>(*rows); ++row) {
    std::wstring line;
    for (int column = 0; column < columns; ++column) {
      const std::optional<std::wstring> text = ItemText(list, row, column);
      if (!text) {
        Complain(L"cannot read row " + std::to_wstring(row) + L" column " +
                 std::to_wstring(column));
        return kFailed;
      }
      line += (column > 0 ? L"\t" : L"") + Escaped(*text);
    }
    PrintLine(line);
  }
  return kOk;
}

int ListImagesCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND list = ListViewArg(args[0], args[1], &exit_code);
  if (list == nullptr) return exit_code;
  const std::optional<LRESULT> rows = Send(list, LVM_GETITEMCOUNT, 0, 0);
  if (!rows) return kFailed;
  for (int row = 0; row < static_cast<int>(*rows); ++row) {
    RemoteBuffer remote(list, sizeof(LVITEMW));
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (!remote.valid() || !remote.Write(0, &item, sizeof(item)) ||
        !Send(list, LVM_GETITEMW, 0, remote.Param<LVITEMW>()) ||
        !remote.Read(0, &item, sizeof(item))) {
      Complain(L"cannot read the image of row " + std::to_wstring(row));
      return kFailed;
    }
    PrintLine(std::to_wstring(item.iImage));
  }
  return kOk;
}

int ListColumnsCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND list = ListViewArg(args[0], args[1], &exit_code);
  if (list == nullptr) return exit_code;
  std::wstring line;
  const int columns = ColumnCount(list);
  for (int column = 0; column < columns; ++column) {
    const std::optional<std::wstring> text = ColumnText(list, column);
    if (!text) {
      Complain(L"cannot read column " + std::to_wstring(column));
      return kFailed;
    }
    line += (column > 0 ? L"\t" : L"") + Escaped(*text);
  }
  PrintLine(line);
  return kOk;
}

int SelectRowCommand(wchar_t** args) {
  const std::optional<long long> row = ParseNumber(args[2]);
  if (!row) return kUsage;
  int exit_code = kOk;
  HWND list = ListViewArg(args[0], args[1], &exit_code);
  if (list == nullptr) return exit_code;
  const std::optional<LRESULT> rows = Send(list, LVM_GETITEMCOUNT, 0, 0);
  if (!rows || *row < 0 || *row >= *rows) {
    Complain(L"no row " + std::wstring(args[2]));
    return kFailed;
  }
  // The state change is what the list view itself does on a click, and what raises
  // LVN_ITEMCHANGED in the target (single-selection lists drop the old selection themselves).
  RemoteBuffer remote(list, sizeof(LVITEMW));
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  if (!remote.valid() || !remote.Write(0, &item, sizeof(item))) return kFailed;
  const std::optional<LRESULT> set =
      Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(*row), remote.Param<LVITEMW>());
  if (!set || *set == 0) {
    Complain(L"the list view refused the selection");
    return kFailed;
  }
  if (!Send(list, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(*row))) return kFailed;
  return kOk;
}

int ClickCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND button = ControlArg(args[0], args[1], &exit_code);
  if (button == nullptr) return exit_code;
  // A user cannot press what is hidden or greyed out; a test that tries has a bug to show.
  if (!::IsWindowVisible(button) || !::IsWindowEnabled(button)) {
    Complain(L"control " + std::wstring(args[1]) + L" is hidden or disabled");
    return kFailed;
  }
  // Posted: a button that opens a modal dialog would keep a sent BM_CLICK from returning.
  return ::PostMessageW(button, BM_CLICK, 0, 0) != 0 ? kOk : kFailed;
}

int CommandCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND control = ControlArg(args[0], args[1], &exit_code);
  if (control == nullptr) return exit_code;
  const int id = ::GetDlgCtrlID(control);
  return ::PostMessageW(::GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(control)) != 0
             ? kOk
             : kFailed;
}

struct MessageArgs {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

std::optional<MessageArgs> ParseMessageArgs(wchar_t** args) {
  const std::optional<long long> message = ParseNumber(args[0]);
  const std::optional<long long> wparam = ParseNumber(args[1]);
  const std::optional<long long> lparam = ParseNumber(args[2]);
  if (!message || !wparam || !lparam) return std::nullopt;
  return MessageArgs{static_cast<UINT>(*message), static_cast<WPARAM>(*wparam),
                     static_cast<LPARAM>(*lparam)};
}

int SendCommand(wchar_t** args) {
  const std::optional<MessageArgs> message = ParseMessageArgs(args + 1);
  if (!message) return kUsage;
  int exit_code = kOk;
  HWND window = WindowArg(args[0], &exit_code);
  if (window == nullptr) return exit_code;
  const std::optional<LRESULT> result =
      Send(window, message->message, message->wparam, message->lparam);
  if (!result) {
    Complain(L"no answer within 5 s");
    return kFailed;
  }
  PrintLine(std::to_wstring(static_cast<long long>(*result)));
  return kOk;
}

int PostCommand(wchar_t** args) {
  const std::optional<MessageArgs> message = ParseMessageArgs(args + 1);
  if (!message) return kUsage;
  int exit_code = kOk;
  HWND window = WindowArg(args[0], &exit_code);
  if (window == nullptr) return exit_code;
  return ::PostMessageW(window, message->message, message->wparam, message->lparam) != 0 ? kOk
                                                                                         : kFailed;
}

struct NamedCommand {
  const wchar_t* name;
  UINT command;
};
constexpr NamedCommand kSysCommands[] = {
    {L"close", SC_CLOSE},     {L"minimize", SC_MINIMIZE}, {L"maximize", SC_MAXIMIZE},
    {L"restore", SC_RESTORE}, {L"move", SC_MOVE},         {L"size", SC_SIZE},
    {L"keymenu", SC_KEYMENU},
};

int SysCommandCommand(wchar_t** args) {
  std::optional<long long> command = ParseNumber(args[1]);
  for (const NamedCommand& named : kSysCommands)
    if (std::wcscmp(named.name, args[1]) == 0) command = named.command;
  if (!command) return kUsage;
  int exit_code = kOk;
  HWND window = WindowArg(args[0], &exit_code);
  if (window == nullptr) return exit_code;
  return ::PostMessageW(window, WM_SYSCOMMAND, static_cast<WPARAM>(*command), 0) != 0 ? kOk
                                                                                      : kFailed;
}

int RichEditTextCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND control = ControlArg(args[0], args[1], &exit_code);
  if (control == nullptr) return exit_code;
  const std::optional<std::wstring> text = ControlText(control);
  if (!text) return kFailed;
  // A rich edit keeps paragraphs ended by CR; what it gives back may say CR, CR LF or LF.
  std::wstring line;
  for (std::size_t i = 0; i < text->size(); ++i) {
    const wchar_t c = (*text)[i];
    if (c == L'\r' || c == L'\n') {
      PrintLine(line);
      line.clear();
      if (c == L'\r' && i + 1 < text->size() && (*text)[i + 1] == L'\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) PrintLine(line);
  return kOk;
}

int CloseCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND window = WindowArg(args[0], &exit_code);
  if (window == nullptr) return exit_code;
  return ::PostMessageW(window, WM_CLOSE, 0, 0) != 0 ? kOk : kFailed;
}

int WaitGoneCommand(wchar_t** args) {
  const std::optional<long long> ms = ParseNumber(args[1]);
  if (!ms) return kUsage;
  HWND window = ResolveWindow(args[0]);
  if (window == nullptr) return kOk;
  if (!WaitFor(*ms, [window] { return ::IsWindow(window) == 0; })) {
    Complain(L"the window is still there");
    return kFailed;
  }
  return kOk;
}

// The link itself sends NM_CLICK / NM_RETURN to its parent, from its own input handling, with
// the NMLINK it builds (id, URL, link index). A WM_NOTIFY made up here cannot be delivered: Wine's
// message packing rejects WM_NOTIFY between processes (SendMessage fails, error 0), whatever
// memory its lParam points to. Wine's own NM_CLICK numbers item.iLink over all pieces of the text
// (a link after plain text comes as 1); its NM_RETURN and LM_HITTEST count links only.
HWND LinkArg(const wchar_t* window_name, const wchar_t* id_text, int* exit_code) {
  HWND link = ControlArg(window_name, id_text, exit_code);
  if (link == nullptr) return nullptr;
  if (ClassOf(link) != WC_LINK) {
    Complain(L"control " + std::wstring(id_text) + L" (" + ClassOf(link) + L") is not a SysLink");
  } else if (!::IsWindowVisible(link) || !::IsWindowEnabled(link)) {
    Complain(L"control " + std::wstring(id_text) + L" is hidden or disabled");
  } else {
    return link;
  }
  *exit_code = kFailed;
  return nullptr;
}

// A point (client coordinates) on the control's first link. Only the control knows where its
// text wraps, so it is asked point by point (LM_HITTEST, whose LHITTESTINFO must be in its
// process).
std::optional<POINT> FirstLinkPoint(HWND link) {
  RECT client{};
  RemoteBuffer remote(link, sizeof(LHITTESTINFO));
  if (!::GetClientRect(link, &client) || !remote.valid()) return std::nullopt;
  constexpr std::size_t kLinkIndex = offsetof(LHITTESTINFO, item) + offsetof(LITEM, iLink);
  for (LONG y = client.top; y < client.bottom; y += 2) {
    for (LONG x = client.left; x < client.right; x += 2) {
      const POINT point{x, y};
      if (!remote.Write(offsetof(LHITTESTINFO, pt), &point, sizeof(point))) return std::nullopt;
      const std::optional<LRESULT> hit = Send(link, LM_HITTEST, 0, remote.Param<LHITTESTINFO>());
      if (!hit) return std::nullopt;
      int index = -1;
      if (*hit != 0 && remote.Read(kLinkIndex, &index, sizeof(index)) && index == 0) return point;
    }
  }
  return std::nullopt;
}

// Posted, as a click is queued: a handler that opens a box or a browser must not hold the driver.
int ClickLinkCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND link = LinkArg(args[0], args[1], &exit_code);
  if (link == nullptr) return exit_code;
  const std::optional<POINT> point = FirstLinkPoint(link);
  if (!point) {
    Complain(L"control " + std::wstring(args[1]) + L" shows no link");
    return kFailed;
  }
  const LPARAM where = MAKELPARAM(point->x, point->y);
  return ::PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, where) != 0 &&
                 ::PostMessageW(link, WM_LBUTTONUP, 0, where) != 0
             ? kOk
             : kFailed;
}

// Return reaches a link only while it has the keyboard focus (the control ignores it otherwise),
// so the focus is first moved to it the way the dialog manager does on Tab.
int KeyLinkCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND link = LinkArg(args[0], args[1], &exit_code);
  if (link == nullptr) return exit_code;
  HWND dialog = ::GetParent(link);
  if (dialog == nullptr || !Send(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(link), TRUE)) {
    Complain(L"cannot move the focus to control " + std::wstring(args[1]));
    return kFailed;
  }
  const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC)) << 16;
  return ::PostMessageW(link, WM_KEYDOWN, VK_RETURN, scan | 1) != 0 &&
                 ::PostMessageW(link, WM_KEYUP, VK_RETURN, scan | 1 | (LPARAM{3} << 30)) != 0
             ? kOk
             : kFailed;
}

int WindowsCommand(wchar_t**) {
  for (HWND window : TopLevelWindows())
    PrintLine(Hex(window) + L"\t" + ClassOf(window) + L"\t" + Escaped(TitleOf(window)));
  return kOk;
}

// Where a window is on the screen, for a test that clicks it with real input (xdotool).
int RectCommand(wchar_t** args) {
  int exit_code = kOk;
  HWND window = WindowArg(args[0], &exit_code);
  if (window == nullptr) return exit_code;
  RECT rect{};
  if (::GetWindowRect(window, &rect) == 0) return kFailed;
  PrintLine(std::to_wstring(rect.left) + L"\t" + std::to_wstring(rect.top) + L"\t" +
            std::to_wstring(rect.right) + L"\t" + std::to_wstring(rect.bottom));
  return kOk;
}

int ShellRunCommand(wchar_t** args) {
  const std::optional<long long> wait = ParseNumber(args[2]);
  if (!wait) return kUsage;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = args[0];
  info.lpParameters = args[1];
  info.nShow = SW_HIDE;
  const ULONGLONG start = ::GetTickCount64();
  if (::ShellExecuteExW(&info) == FALSE || info.hProcess == nullptr) {
    Complain(L"ShellExecuteExW failed: " + std::to_wstring(::GetLastError()));
    return kFailed;
  }
  kvd::platform::win32::UniqueKernelHandle process(kvd::platform::win32::KernelHandleTraits{},
                                                   info.hProcess);
  ::WaitForSingleObject(process.get(), static_cast<DWORD>(*wait));
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code) == FALSE) return kFailed;
  PrintLine(std::to_wstring(code) + L"\t" + std::to_wstring(::GetTickCount64() - start));
  return kOk;
}

struct Command {
  const wchar_t* name;
  int arguments;
  const char* usage;
  int (*run)(wchar_t** args);
  bool raw_lines;  // the CRT's text mode kept, as the first callers read it
};

constexpr Command kCommands[] = {
    {L"hold-mutex", 2, "hold-mutex <name> <seconds>", HoldMutexCommand, true},
    {L"rect", 1, "rect <window>", RectCommand, false},
    {L"read-box", 2, "read-box <caption> <ms>", ReadBoxCommand, true},
    {L"wait-window", 2, "wait-window <title> <ms>", WaitWindowCommand, false},
    {L"wait-control", 3, "wait-control <window> <id> <ms>", WaitControlCommand, false},
    {L"controls", 1, "controls <window>", ControlsCommand, false},
    {L"text", 2, "text <window> <id>", TextCommand, false},
    {L"enabled", 2, "enabled <window> <id>", EnabledCommand, false},
    {L"visible", 2, "visible <window> <id>", VisibleCommand, false},
    {L"list-rows", 2, "list-rows <window> <id>", ListRowsCommand, false},
    {L"list-columns", 2, "list-columns <window> <id>", ListColumnsCommand, false},
    {L"list-images", 2, "list-images <window> <id>", ListImagesCommand, false},
    {L"select-row", 3, "select-row <window> <id> <row>", SelectRowCommand, false},
    {L"answer-box", 3, "answer-box <caption> <ms> <button>", AnswerBoxCommand, true},
    {L"click", 2, "click <window> <id>", ClickCommand, false},
    {L"command", 2, "command <window> <id>", CommandCommand, false},
    {L"send", 4, "send <window> <message> <wparam> <lparam>", SendCommand, false},
    {L"post", 4, "post <window> <message> <wparam> <lparam>", PostCommand, false},
    {L"syscommand", 2, "syscommand <window> <command>", SysCommandCommand, false},
    {L"richedit-text", 2, "richedit-text <window> <id>", RichEditTextCommand, false},
    {L"close", 1, "close <window>", CloseCommand, false},
    {L"wait-gone", 2, "wait-gone <window> <ms>", WaitGoneCommand, false},
    {L"click-link", 2, "click-link <window> <id>", ClickLinkCommand, false},
    {L"key-link", 2, "key-link <window> <id>", KeyLinkCommand, false},
    {L"windows", 0, "windows", WindowsCommand, false},
    {L"shell-run", 3, "shell-run <file> <parameters> <ms>", ShellRunCommand, false},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (const Command& command : kCommands) {
    if (argc == command.arguments + 2 && std::wcscmp(argv[1], command.name) == 0) {
      if (!command.raw_lines) _setmode(_fileno(stdout), _O_BINARY);
      const int result = command.run(argv + 2);
      if (result == kUsage) std::fprintf(stderr, "usage: kvd_ui_driver %s\n", command.usage);
      return result;
    }
  }
  std::fprintf(stderr, "usage:\n");
  for (const Command& command : kCommands)
    std::fprintf(stderr, "  kvd_ui_driver %s\n", command.usage);
  std::fprintf(stderr,
               "<window>: a handle (0x...) or the exact title of a visible top-level window\n");
  return 64;
}
