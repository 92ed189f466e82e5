// A TWAIN data source for the Wine tier, built by us: installed as "twain_32\sane.ds", one of the
// file names Wine's source manager loads. Its DS_Entry answers the triplets the TWAIN check sends,
// as the published standard describes them; configured in "<this library's path>.ini":
//   [source]     name=<ProductName>
//   [behaviour]  ready=post|never   (whether enabling posts the ready event to the parent)
//                transfer=ok|fail|cancel
// Once enabled it posts a message of its own to the parent window; handed back through
// DAT_EVENT / MSG_PROCESSEVENT it answers MSG_XFERREADY. A native transfer gives a 2 x 2 DIB
// in global memory (the caller frees it). Every triplet appends "<DAT> <MSG>" (the standard's
// names) to "<this library's path>.calls". What it does not implement (capabilities, memory and
// file transfers, its own user interface) answers TWRC_FAILURE.
#include "platform/win32/Windows.h"

#include <cstring>
#include <string>

#include "platform/api/ITwain.h"
#include "platform/win32/TwainTypes.h"
#include "tools/fakes/FakeSupport.h"

namespace {

namespace tw = kvd::platform::twain;
using fake::Record;
using fake::Setting;

using kvd::platform::win32::TW_EVENT;
using kvd::platform::win32::TW_IDENTITY;
using kvd::platform::win32::TW_PENDINGXFERS;
using kvd::platform::win32::TW_USERINTERFACE;

// The source's own message to its parent, registered by name as a source would.
UINT ReadyMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"QuvariTestTwainSourceReady");
  return message;
}

HWND g_parent = nullptr;
bool g_enabled = false;

void Copy(char (&out)[34], const std::string& text) {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, text.data(), text.size() < sizeof out - 1 ? text.size() : sizeof out - 1);
}

const wchar_t* NameOf(WORD dat, WORD msg) {
  static std::wstring name;
  const wchar_t* data = dat == tw::DAT_IDENTITY          ? L"DAT_IDENTITY"
                        : dat == tw::DAT_USERINTERFACE   ? L"DAT_USERINTERFACE"
                        : dat == tw::DAT_EVENT           ? L"DAT_EVENT"
                        : dat == tw::DAT_STATUS          ? L"DAT_STATUS"
                        : dat == tw::DAT_PENDINGXFERS    ? L"DAT_PENDINGXFERS"
                        : dat == tw::DAT_IMAGEINFO       ? L"DAT_IMAGEINFO"
                        : dat == tw::DAT_IMAGENATIVEXFER ? L"DAT_IMAGENATIVEXFER"
                                                         : L"DAT_OTHER";
  const wchar_t* message = msg == tw::MSG_GET            ? L"MSG_GET"
                           : msg == tw::MSG_OPENDS       ? L"MSG_OPENDS"
                           : msg == tw::MSG_CLOSEDS      ? L"MSG_CLOSEDS"
                           : msg == tw::MSG_ENABLEDS     ? L"MSG_ENABLEDS"
                           : msg == tw::MSG_DISABLEDS    ? L"MSG_DISABLEDS"
                           : msg == tw::MSG_PROCESSEVENT ? L"MSG_PROCESSEVENT"
                           : msg == tw::MSG_ENDXFER      ? L"MSG_ENDXFER"
                           : msg == tw::MSG_RESET        ? L"MSG_RESET"
                                                         : L"MSG_OTHER";
  name = std::wstring(data) + L" " + message;
  return name.c_str();
}

// A 2 x 2 24-bit DIB (header and pixels) in movable global memory, as a native transfer gives.
HGLOBAL SmallDib() {
  const SIZE_T bytes = sizeof(BITMAPINFOHEADER) + 16;
  HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
  if (memory == nullptr) return nullptr;
  auto* header = static_cast<BITMAPINFOHEADER*>(::GlobalLock(memory));
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = 2;
  header->biHeight = 2;
  header->biPlanes = 1;
  header->biBitCount = 24;
  header->biSizeImage = 16;
  ::GlobalUnlock(memory);
  return memory;
}

WORD Control(WORD dat, WORD msg, void* data) {
  switch (dat) {
    case tw::DAT_IDENTITY: {
      if (msg == tw::MSG_GET) {
        auto* identity = static_cast<TW_IDENTITY*>(data);
        identity->Version.MajorNum = 1;
        identity->Version.Language = tw::TWLG_ENGLISH_USA;
        identity->ProtocolMajor = 2;
        identity->SupportedGroups = tw::DG_CONTROL | tw::DG_IMAGE;
        Copy(identity->Manufacturer, "Quvari");
        Copy(identity->ProductFamily, "Quvari test sources");
        std::wstring name = Setting(L"source", L"name", L"Quvari Test TWAIN");
        Copy(identity->ProductName, std::string(name.begin(), name.end()));
        return tw::TWRC_SUCCESS;
      }
      if (msg == tw::MSG_OPENDS || msg == tw::MSG_CLOSEDS) return tw::TWRC_SUCCESS;
      return tw::TWRC_FAILURE;
    }
    case tw::DAT_USERINTERFACE: {
      auto* ui = static_cast<TW_USERINTERFACE*>(data);
      if (msg == tw::MSG_ENABLEDS) {
        g_parent = static_cast<HWND>(ui->hParent);
        g_enabled = true;
        if (Setting(L"behaviour", L"ready", L"post") == L"post") {
          ::PostMessageW(g_parent, ReadyMessage(), 0, 0);
        }
        return tw::TWRC_SUCCESS;
      }
      if (msg == tw::MSG_DISABLEDS) {
        g_enabled = false;
        return tw::TWRC_SUCCESS;
      }
      return tw::TWRC_FAILURE;
    }
    case tw::DAT_EVENT: {
      auto* event = static_cast<TW_EVENT*>(data);
      event->TWMessage = 0;
      const MSG* message = static_cast<const MSG*>(event->pEvent);
      if (!g_enabled || message == nullptr || message->message != ReadyMessage()) {
        return tw::TWRC_NOTDSEVENT;
      }
      event->TWMessage = tw::MSG_XFERREADY;
      return tw::TWRC_DSEVENT;
    }
    case tw::DAT_PENDINGXFERS: {
      static_cast<TW_PENDINGXFERS*>(data)->Count = 0;
      return tw::TWRC_SUCCESS;
    }
    case tw::DAT_STATUS:
      std::memset(data, 0, 4);
      return tw::TWRC_SUCCESS;
    default:
      return tw::TWRC_FAILURE;
  }
}

WORD Image(WORD dat, WORD msg, void* data) {
  if (dat == tw::DAT_IMAGEINFO && msg == tw::MSG_GET) return tw::TWRC_SUCCESS;
  if (dat != tw::DAT_IMAGENATIVEXFER || msg != tw::MSG_GET) return tw::TWRC_FAILURE;
  const std::wstring transfer = Setting(L"behaviour", L"transfer", L"ok");
  if (transfer == L"fail") return tw::TWRC_FAILURE;
  if (transfer == L"cancel") return tw::TWRC_CANCEL;
  HGLOBAL image = SmallDib();
  if (image == nullptr) return tw::TWRC_FAILURE;
  *static_cast<HGLOBAL*>(data) = image;
  return tw::TWRC_XFERDONE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) fake::g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) WORD WINAPI
    DS_Entry(TW_IDENTITY*, DWORD dg, WORD dat, WORD msg, void* data) {
  Record(NameOf(dat, msg));
  if (data == nullptr) return tw::TWRC_FAILURE;
  if (dg == tw::DG_CONTROL) return Control(dat, msg, data);
  if (dg == tw::DG_IMAGE) return Image(dat, msg, data);
  return tw::TWRC_FAILURE;
}
