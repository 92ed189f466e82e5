// The TWAIN source manager: "Twain_32.dll" and its DSM_Entry with the structures of the
// published TWAIN standard (packed to 2 bytes, as the standard wants them on Windows), and the
// calling thread's window and message queue that the source's events arrive in.
#include "platform/win32/Windows.h"

#include <cstring>
#include <new>

#include "platform/win32/TwainTypes.h"
#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {

namespace {

using DsmEntry = WORD(WINAPI*)(TW_IDENTITY* origin, TW_IDENTITY* destination, DWORD dg, WORD dat,
                               WORD msg, void* data);

// The library and its entry, as the port's number.
struct Library {
  HMODULE module = nullptr;
  DsmEntry entry = nullptr;
};

Library* Of(TwainLibrary library) { return reinterpret_cast<Library*>(library); }

void CopyText(char (&out)[34], const std::string& text) {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, text.data(), text.size() < sizeof out - 1 ? text.size() : sizeof out - 1);
}

std::string TextOf(const char (&text)[34]) {
  return std::string(text, strnlen(text, sizeof text - 1));
}

TW_IDENTITY ToTwain(const TwIdentity& identity) {
  TW_IDENTITY out{};
  out.Id = identity.id;
  out.Version.MajorNum = identity.majorNum;
  out.Version.MinorNum = identity.minorNum;
  out.Version.Language = identity.language;
  out.Version.Country = identity.country;
  CopyText(out.Version.Info, identity.info);
  out.ProtocolMajor = identity.protocolMajor;
  out.ProtocolMinor = identity.protocolMinor;
  out.SupportedGroups = identity.supportedGroups;
  CopyText(out.Manufacturer, identity.manufacturer);
  CopyText(out.ProductFamily, identity.productFamily);
  CopyText(out.ProductName, identity.productName);
  return out;
}

TwIdentity FromTwain(const TW_IDENTITY& identity) {
  TwIdentity out;
  out.id = identity.Id;
  out.majorNum = identity.Version.MajorNum;
  out.minorNum = identity.Version.MinorNum;
  out.language = identity.Version.Language;
  out.country = identity.Version.Country;
  out.info = TextOf(identity.Version.Info);
  out.protocolMajor = identity.ProtocolMajor;
  out.protocolMinor = identity.ProtocolMinor;
  out.supportedGroups = identity.SupportedGroups;
  out.manufacturer = TextOf(identity.Manufacturer);
  out.productFamily = TextOf(identity.ProductFamily);
  out.productName = TextOf(identity.ProductName);
  return out;
}

// One triplet: the identities handed over as the standard's structures and read back, since the
// manager writes the ids into them.
WORD Call(TwainLibrary library, TwIdentity& app, TwIdentity* destination, DWORD dg, WORD dat,
          WORD msg, void* data) {
  Library* dsm = Of(library);
  if (dsm == nullptr || dsm->entry == nullptr) return twain::TWRC_FAILURE;
  TW_IDENTITY origin = ToTwain(app);
  TW_IDENTITY target{};
  if (destination != nullptr) target = ToTwain(*destination);
  const WORD result =
      dsm->entry(&origin, destination != nullptr ? &target : nullptr, dg, dat, msg, data);
  app = FromTwain(origin);
  if (destination != nullptr) *destination = FromTwain(target);
  return result;
}

INT_PTR CALLBACK ParentProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

MSG ToMsg(const ThreadMessage& message) {
  MSG msg{};
  msg.hwnd = reinterpret_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  msg.time = message.time;
  msg.pt.x = message.x;
  msg.pt.y = message.y;
  return msg;
}

}  // namespace

TwainLibrary Win32Twain::LoadLibrary(const wchar_t* path, bool* hasEntry) {
  *hasEntry = false;
  HMODULE module = ::LoadLibraryW(path);
  if (module == nullptr) return 0;
  auto* library = new (std::nothrow) Library{module, nullptr};
  if (library == nullptr) {
    ::FreeLibrary(module);
    return 0;
  }
  library->entry = reinterpret_cast<DsmEntry>(
      reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(1))));
  *hasEntry = library->entry != nullptr;
  return reinterpret_cast<TwainLibrary>(library);
}

void Win32Twain::FreeLibrary(TwainLibrary library) {
  Library* dsm = Of(library);
  if (dsm == nullptr) return;
  ::FreeLibrary(dsm->module);
  delete dsm;
}

std::uint16_t Win32Twain::Parent(TwainLibrary library, TwIdentity& app, std::uint16_t msg,
                                 WindowHandle parent) {
  HWND window = reinterpret_cast<HWND>(parent);
  return Call(library, app, nullptr, twain::DG_CONTROL, twain::DAT_PARENT, msg, &window);
}

std::uint16_t Win32Twain::Identity(TwainLibrary library, TwIdentity& app, std::uint16_t msg,
                                   TwIdentity& source) {
  Library* dsm = Of(library);
  if (dsm == nullptr || dsm->entry == nullptr) return twain::TWRC_FAILURE;
  // The source's identity is the triplet's data here, to and from the manager.
  TW_IDENTITY origin = ToTwain(app);
  TW_IDENTITY data = ToTwain(source);
  const WORD result =
      dsm->entry(&origin, nullptr, twain::DG_CONTROL, twain::DAT_IDENTITY, msg, &data);
  app = FromTwain(origin);
  source = FromTwain(data);
  return result;
}

std::uint16_t Win32Twain::UserInterface(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                        std::uint16_t msg, bool showUi, bool modalUi,
                                        WindowHandle parent) {
  TW_USERINTERFACE ui{};
  ui.ShowUI = showUi ? 1 : 0;
  ui.ModalUI = modalUi ? 1 : 0;
  ui.hParent = reinterpret_cast<HANDLE>(parent);
  return Call(library, app, &source, twain::DG_CONTROL, twain::DAT_USERINTERFACE, msg, &ui);
}

std::uint16_t Win32Twain::ProcessEvent(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                       const ThreadMessage& message, std::uint16_t* twMessage) {
  MSG msg = ToMsg(message);
  TW_EVENT event{};
  event.pEvent = &msg;
  const WORD result = Call(library, app, &source, twain::DG_CONTROL, twain::DAT_EVENT,
                           twain::MSG_PROCESSEVENT, &event);
  *twMessage = event.TWMessage;
  return result;
}

std::uint16_t Win32Twain::Status(TwainLibrary library, TwIdentity& app, TwIdentity* source,
                                 std::uint16_t* conditionCode) {
  TW_STATUS status{};
  const WORD result =
      Call(library, app, source, twain::DG_CONTROL, twain::DAT_STATUS, twain::MSG_GET, &status);
  *conditionCode = status.ConditionCode;
  return result;
}

std::uint16_t Win32Twain::ImageInfo(TwainLibrary library, TwIdentity& app, TwIdentity& source) {
  TW_IMAGEINFO info{};
  return Call(library, app, &source, twain::DG_IMAGE, twain::DAT_IMAGEINFO, twain::MSG_GET, &info);
}

std::uint16_t Win32Twain::NativeTransfer(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                         TwainImage* image) {
  HANDLE handle = nullptr;
  const WORD result = Call(library, app, &source, twain::DG_IMAGE, twain::DAT_IMAGENATIVEXFER,
                           twain::MSG_GET, &handle);
  *image = reinterpret_cast<TwainImage>(handle);
  return result;
}

std::uint16_t Win32Twain::PendingTransfers(TwainLibrary library, TwIdentity& app,
                                           TwIdentity& source, std::uint16_t msg,
                                           std::uint16_t* count) {
  TW_PENDINGXFERS pending{};
  const WORD result =
      Call(library, app, &source, twain::DG_CONTROL, twain::DAT_PENDINGXFERS, msg, &pending);
  *count = pending.Count;
  return result;
}

void Win32Twain::FreeImage(TwainImage image) {
  if (image != 0) ::GlobalFree(reinterpret_cast<HGLOBAL>(image));
}

std::wstring Win32Twain::AnsiToWide(const std::string& text) {
  if (text.empty()) return {};
  const int chars =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (chars <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), chars);
  return wide;
}

WindowHandle Win32Twain::CreateParentWindow() {
  HWND window = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(153), nullptr,
                                     ParentProc, 0);
  return reinterpret_cast<WindowHandle>(window);
}

void Win32Twain::DestroyWindow(WindowHandle window) {
  if (window != 0) ::DestroyWindow(reinterpret_cast<HWND>(window));
}

void Win32Twain::SetWindowZOrder(WindowHandle window, bool bottom) {
  ::SetWindowPos(reinterpret_cast<HWND>(window), bottom ? HWND_BOTTOM : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
}

MessageWait Win32Twain::GetMessage(ThreadMessage* message, std::uint32_t timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg{};
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return MessageWait::Quit;
      message->window = reinterpret_cast<WindowHandle>(msg.hwnd);
      message->message = msg.message;
      message->wParam = msg.wParam;
      message->lParam = msg.lParam;
      message->time = msg.time;
      message->x = msg.pt.x;
      message->y = msg.pt.y;
      return MessageWait::Message;
    }
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) return MessageWait::Timeout;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
  }
}

void Win32Twain::DispatchMessage(const ThreadMessage& message) {
  MSG msg = ToMsg(message);
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

}  // namespace kvd::platform::win32
