#pragma once

#include <cstdint>
#include <string>

#include "platform/api/IWindowMessages.h"

namespace kvd::platform {

// The source manager library ("Twain_32.dll") and an image handle of a native transfer, as
// plain numbers; 0 is none.
using TwainLibrary = std::uintptr_t;
using TwainImage = std::uintptr_t;

// The TWAIN protocol's values, as the published standard gives them.
namespace twain {
inline constexpr std::uint32_t DG_CONTROL = 0x0001;
inline constexpr std::uint32_t DG_IMAGE = 0x0002;
inline constexpr std::uint16_t DAT_EVENT = 0x0002;
inline constexpr std::uint16_t DAT_IDENTITY = 0x0003;
inline constexpr std::uint16_t DAT_PARENT = 0x0004;
inline constexpr std::uint16_t DAT_PENDINGXFERS = 0x0005;
inline constexpr std::uint16_t DAT_STATUS = 0x0008;
inline constexpr std::uint16_t DAT_USERINTERFACE = 0x0009;
inline constexpr std::uint16_t DAT_IMAGEINFO = 0x0101;
inline constexpr std::uint16_t DAT_IMAGENATIVEXFER = 0x0104;
inline constexpr std::uint16_t MSG_GET = 0x0001;
inline constexpr std::uint16_t MSG_GETFIRST = 0x0004;
inline constexpr std::uint16_t MSG_GETNEXT = 0x0005;
inline constexpr std::uint16_t MSG_RESET = 0x0007;
inline constexpr std::uint16_t MSG_XFERREADY = 0x0101;
inline constexpr std::uint16_t MSG_CLOSEDSREQ = 0x0102;
inline constexpr std::uint16_t MSG_CLOSEDSOK = 0x0103;
inline constexpr std::uint16_t MSG_OPENDSM = 0x0301;
inline constexpr std::uint16_t MSG_CLOSEDSM = 0x0302;
inline constexpr std::uint16_t MSG_OPENDS = 0x0401;
inline constexpr std::uint16_t MSG_CLOSEDS = 0x0402;
inline constexpr std::uint16_t MSG_DISABLEDS = 0x0501;
inline constexpr std::uint16_t MSG_ENABLEDS = 0x0502;
inline constexpr std::uint16_t MSG_PROCESSEVENT = 0x0601;
inline constexpr std::uint16_t MSG_ENDXFER = 0x0701;
inline constexpr std::uint16_t TWRC_SUCCESS = 0;
inline constexpr std::uint16_t TWRC_FAILURE = 1;
inline constexpr std::uint16_t TWRC_CANCEL = 3;
inline constexpr std::uint16_t TWRC_DSEVENT = 4;
inline constexpr std::uint16_t TWRC_NOTDSEVENT = 5;
inline constexpr std::uint16_t TWRC_XFERDONE = 6;
inline constexpr std::uint16_t TWRC_ENDOFLIST = 7;
inline constexpr std::uint16_t TWLG_ENGLISH_USA = 13;
inline constexpr std::uint16_t TWCY_INDIA = 91;
}  // namespace twain

// TW_IDENTITY's fields; the texts are the TW_STR32 bytes up to their NUL (at most 33), in the
// ANSI code page.
struct TwIdentity {
  std::uint32_t id = 0;
  std::uint16_t majorNum = 0;
  std::uint16_t minorNum = 0;
  std::uint16_t language = 0;
  std::uint16_t country = 0;
  std::string info;
  std::uint16_t protocolMajor = 0;
  std::uint16_t protocolMinor = 0;
  std::uint32_t supportedGroups = 0;
  std::string manufacturer;
  std::string productFamily;
  std::string productName;
};

// A message of the calling thread's queue (MSG), as TW_EVENT hands it to the source.
struct ThreadMessage {
  WindowHandle window = 0;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::uint32_t time = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

enum class MessageWait { Message, Quit, Timeout };

// The TWAIN source manager through DSM_Entry, one method for each kind of data a triplet carries
// (each answers the triplet's TW_UINT16 return code), and the calling thread's own window and
// message queue, which the source's events arrive in.
class ITwain {
 public:
  virtual ~ITwain() = default;
  // LoadLibraryW(path), and whether it exports DSM_Entry (ordinal 1).
  virtual TwainLibrary LoadLibrary(const wchar_t* path, bool* hasEntry) = 0;
  virtual void FreeLibrary(TwainLibrary library) = 0;

  // DG_CONTROL / DAT_PARENT: MSG_OPENDSM, MSG_CLOSEDSM with the parent window.
  virtual std::uint16_t Parent(TwainLibrary library, TwIdentity& app, std::uint16_t msg,
                               WindowHandle parent) = 0;
  // DG_CONTROL / DAT_IDENTITY to the manager: MSG_GETFIRST, MSG_GETNEXT, MSG_OPENDS,
  // MSG_CLOSEDS; `source` is the triplet's data.
  virtual std::uint16_t Identity(TwainLibrary library, TwIdentity& app, std::uint16_t msg,
                                 TwIdentity& source) = 0;
  // DG_CONTROL / DAT_USERINTERFACE to the source: MSG_ENABLEDS, MSG_DISABLEDS.
  virtual std::uint16_t UserInterface(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                      std::uint16_t msg, bool showUi, bool modalUi,
                                      WindowHandle parent) = 0;
  // DG_CONTROL / DAT_EVENT / MSG_PROCESSEVENT: the message, and the TWMessage the source set.
  virtual std::uint16_t ProcessEvent(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                     const ThreadMessage& message, std::uint16_t* twMessage) = 0;
  // DG_CONTROL / DAT_STATUS / MSG_GET: to the source when given, else to the manager.
  virtual std::uint16_t Status(TwainLibrary library, TwIdentity& app, TwIdentity* source,
                               std::uint16_t* conditionCode) = 0;
  // DG_IMAGE / DAT_IMAGEINFO / MSG_GET (the information is not kept).
  virtual std::uint16_t ImageInfo(TwainLibrary library, TwIdentity& app, TwIdentity& source) = 0;
  // DG_IMAGE / DAT_IMAGENATIVEXFER / MSG_GET: the image's handle.
  virtual std::uint16_t NativeTransfer(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                       TwainImage* image) = 0;
  // DG_CONTROL / DAT_PENDINGXFERS: MSG_ENDXFER, MSG_RESET; the Count it leaves.
  virtual std::uint16_t PendingTransfers(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                         std::uint16_t msg, std::uint16_t* count) = 0;
  // GlobalFree of a transferred image.
  virtual void FreeImage(TwainImage image) = 0;
  // A TW_STR32 text in the ANSI code page, as wide text.
  virtual std::wstring AnsiToWide(const std::string& text) = 0;

  // The progress dialog (resource 153) made on the calling thread and not shown: the parent
  // window of the manager and the source.
  virtual WindowHandle CreateParentWindow() = 0;
  virtual void DestroyWindow(WindowHandle window) = 0;
  // SetWindowPos to the bottom (HWND_BOTTOM) or the top (HWND_TOP), neither moved nor sized.
  virtual void SetWindowZOrder(WindowHandle window, bool bottom) = 0;
  // The next message of the calling thread's queue (GetMessageW), waiting at most `timeoutMs`.
  virtual MessageWait GetMessage(ThreadMessage* message, std::uint32_t timeoutMs) = 0;
  // TranslateMessage and DispatchMessageW.
  virtual void DispatchMessage(const ThreadMessage& message) = 0;
};

}  // namespace kvd::platform
