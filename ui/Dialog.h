#pragma once

#include <cstdint>
#include <string>

#include "platform/api/IGdi.h"
#include "platform/api/IWindowMessages.h"

// The dialog framework the pages run on. A page is a CDialog: a plain C++ object that decides
// (texts, fonts, which controls are enabled, what a click or a message does) and talks to its
// window only through IDialogView. A toolkit (IUiToolkit) makes the windows: the Win32 one from
// the resources of kavid.exe, the simulated one on the simulated machine's UI thread, where the
// native tests drive the same page objects.

namespace kvd::ui {

using platform::FontHandle;
using platform::WindowHandle;
using MenuHandle = std::uintptr_t;       // HMENU; 0 is none
using IconHandle = std::uintptr_t;       // HICON; 0 is none
using ImageListHandle = std::uintptr_t;  // HIMAGELIST; 0 is none

// The user32 numbers the pages handle, the same on every toolkit.
namespace wm {
inline constexpr std::uint32_t Close = 0x0010;
inline constexpr std::uint32_t SetIcon = 0x0080;
inline constexpr std::uint32_t NcHitTest = 0x0084;
inline constexpr std::uint32_t NcLButtonDown = 0x00A1;
inline constexpr std::uint32_t InitDialog = 0x0110;
inline constexpr std::uint32_t Command = 0x0111;
inline constexpr std::uint32_t SysCommand = 0x0112;
inline constexpr std::uint32_t Timer = 0x0113;
inline constexpr std::uint32_t DeviceChange = 0x0219;
inline constexpr std::uint32_t User = 0x0400;
}  // namespace wm

inline constexpr int IdOk = 1;
inline constexpr int IdCancel = 2;
inline constexpr int BnClicked = 0;
inline constexpr int NmClick = -2;
inline constexpr int NmReturn = -4;
inline constexpr int LvnItemChanging = -100;
inline constexpr int LvnItemChanged = -101;
inline constexpr int EnMsgFilter = 0x0700;
inline constexpr int EnLink = 0x070B;
inline constexpr std::uint32_t LvifImage = 0x0002;
inline constexpr std::uint32_t WmLButtonDown = 0x0201;
// A list row without a picture.
inline constexpr int kNoImage = -1;
inline constexpr int HtCaption = 2;
inline constexpr int HtSysMenu = 3;
inline constexpr std::uint32_t ScClose = 0xF060;
inline constexpr std::uint32_t MfEnabled = 0x0000;
inline constexpr std::uint32_t MfGrayed = 0x0001;
inline constexpr std::uint32_t MfDisabled = 0x0002;
inline constexpr std::uint32_t MfString = 0x0000;
inline constexpr std::uint32_t MfSeparator = 0x0800;
inline constexpr std::uint32_t MfByCommand = 0x0000;
inline constexpr std::uint32_t LvsExFullRowSelect = 0x0020;
inline constexpr std::uint32_t LvsExSubItemImages = 0x0002;
inline constexpr int VkLShift = 0xA0;
inline constexpr int VkLControl = 0xA2;
inline constexpr int SmCxDlgFrame = 7;
inline constexpr int SmCyDlgFrame = 8;
inline constexpr int SmCyCaption = 4;

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// One dialog window and its controls, by control id. The calls mirror the user32 and common
// controls messages they are made of; a control that does not exist makes each call do nothing
// (texts read as empty, counts as 0, indexes as -1), as GetDlgItem's null does.
class IDialogView {
 public:
  virtual ~IDialogView() = default;
  virtual WindowHandle Handle() const = 0;
  // GetParent: 0 for a window without one.
  virtual WindowHandle Parent() const = 0;
  // SetParent.
  virtual void SetParent(WindowHandle parent) = 0;
  // ShowWindow: whether the window was visible before.
  virtual bool Show(bool show) = 0;
  virtual bool IsVisible() const = 0;
  virtual void SetWindowText(const std::wstring& text) = 0;
  virtual std::wstring WindowText() const = 0;
  // WM_SETICON, both sizes.
  virtual void SetIcon(IconHandle icon, bool big) = 0;
  // RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN).
  virtual void Redraw() = 0;
  // SetFocus on the window itself, or on one of its controls.
  virtual void SetFocus() = 0;
  // SetWindowPos(HWND_TOP), neither moved nor sized.
  virtual void BringToTop() = 0;
  virtual void SetItemFocus(int id) = 0;

  virtual void SetItemText(int id, const std::wstring& text) = 0;
  virtual std::wstring ItemText(int id) const = 0;
  // WM_SETFONT (redrawn); 0 keeps the control's font.
  virtual void SetItemFont(int id, FontHandle font) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  virtual bool IsItemEnabled(int id) const = 0;
  virtual void ShowItem(int id, bool show) = 0;
  virtual bool IsItemVisible(int id) const = 0;
  // The control's rectangle in the dialog's client coordinates; MoveItem keeps its size.
  virtual Rect ItemRect(int id) const = 0;
  virtual void MoveItem(int id, int left, int top) = 0;
  // InvalidateRect of the dialog under the control (its transparent text is painted anew).
  virtual void InvalidateItem(int id) = 0;

  // List-view messages (LVM_*).
  virtual void ListSetExtendedStyle(int id, std::uint32_t mask, std::uint32_t styles) = 0;
  virtual void ListDeleteAllItems(int id) = 0;
  virtual void ListDeleteColumn(int id, int column) = 0;
  virtual void ListInsertColumn(int id, int column, const std::wstring& heading, int width) = 0;
  // LVM_INSERTITEMW: the index of the new row, -1 on failure.
  virtual int ListInsertItem(int id, int row, const std::wstring& text) = 0;
  virtual void ListSetItemText(int id, int row, int column, const std::wstring& text) = 0;
  virtual int ListGetItemCount(int id) const = 0;
  virtual int ListGetSelectionMark(int id) const = 0;
  // LVM_SETIMAGELIST (small images) and a row's picture (LVIF_IMAGE of column 0).
  virtual void ListSetImageList(int id, ImageListHandle images) = 0;
  virtual void ListSetItemImage(int id, int row, int image) = 0;

  // List-box messages: LB_ADDSTRING (the new entry's index, -1 on failure), LB_SETCURSEL,
  // LB_GETCURSEL (-1 without a selection).
  virtual int ListBoxAddString(int id, const std::wstring& text) = 0;
  virtual void ListBoxSetCurSel(int id, int index) = 0;
  virtual int ListBoxGetCurSel(int id) const = 0;

  // Rich-edit messages: read-only with link, mouse, key and scroll notifications; empty; text
  // appended at the end with or without the link effect (EM_SETSEL to the end, EM_SETCHARFORMAT
  // of the selection, EM_REPLACESEL); caret and selection hidden.
  virtual void RichPrepare(int id) = 0;
  virtual void RichClear(int id) = 0;
  virtual void RichAppend(int id, const std::wstring& text, bool link) = 0;
  virtual void RichHideSelection(int id) = 0;

  // Progress-bar messages (PBM_*).
  virtual void ProgressSetRange(int id, int low, int high) = 0;
  virtual void ProgressSetPos(int id, int position) = 0;
  virtual int ProgressGetPos(int id) const = 0;
  virtual void ProgressSetStep(int id, int step) = 0;
};

class CDialog;

// Where the windows come from.
class IUiToolkit {
 public:
  virtual ~IUiToolkit() = default;
  // DialogBoxParamW of the dialog's resource: returns when the dialog ends, with its result
  // (-1 when the window cannot be made).
  virtual int DoModal(CDialog& dialog, WindowHandle owner) = 0;
  // CreateDialogParamW: the dialog's OnInitDialog has run when it returns; false when the
  // window cannot be made.
  virtual bool CreateModeless(CDialog& dialog, WindowHandle owner) = 0;
  // DestroyWindow: the dialog object stays and may be created again.
  virtual void DestroyWindow(CDialog& dialog) = 0;

  // LoadIconW from the program's resources.
  virtual IconHandle LoadIcon(int id) = 0;
  // GetSystemMenu(window, FALSE), AppendMenuW, EnableMenuItem.
  virtual MenuHandle GetSystemMenu(WindowHandle window) = 0;
  virtual bool AppendMenu(MenuHandle menu, std::uint32_t flags, std::uintptr_t id,
                          const std::wstring& text) = 0;
  virtual int EnableMenuItem(MenuHandle menu, std::uint32_t item, std::uint32_t flags) = 0;
  // LoadMenuW(resource), its first submenu opened with TrackPopupMenu(flags 0) at (x, y) for
  // `owner`, the loaded menu destroyed afterwards. The command chosen arrives as WM_COMMAND.
  virtual bool TrackResourceMenu(int resource, int x, int y, WindowHandle owner) = 0;
  virtual Rect GetWindowRect(WindowHandle window) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  // GetKeyState: negative while the key is down.
  virtual short GetKeyState(int virtualKey) = 0;
  // SetCursor(LoadCursor(nullptr, IDC_WAIT)).
  virtual void ShowWaitCursor() = 0;
  // A PNG resource decoded into a bitmap (LoadPNGFromResource), 0 when it cannot be (logged);
  // DeletePicture frees it.
  virtual std::uintptr_t LoadPicture(int id) = 0;
  virtual void DeletePicture(std::uintptr_t picture) = 0;
  // ImageList_Create (32-bit colour), ImageList_Add of a picture from LoadPicture or of a
  // bitmap resource (LoadBitmapW), ImageList_Destroy. The add answers the new index, -1.
  virtual ImageListHandle CreateImageList(int width, int height) = 0;
  virtual int ImageListAddPicture(ImageListHandle images, std::uintptr_t picture) = 0;
  virtual int ImageListAddBitmap(ImageListHandle images, int resource) = 0;
  virtual void DestroyImageList(ImageListHandle images) = 0;
  // The wait cursor for a blocking step, then the normal one again (BeginWaitCursor /
  // EndWaitCursor).
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
  // The window's taskbar button taken away (ITaskbarList: HrInit, ActivateTab, DeleteTab, on the
  // window's thread, COM initialised there): a small window of a longer job shows none.
  virtual void RemoveTaskbarButton(WindowHandle window) = 0;
};

// What a dialog's background is painted with.
enum class Background {
  Default,  // the system's dialog colour
  Banner,   // the program's banner (the host window and its pages)
  Own,      // a picture of the dialog's own
};

// A dialog object. The toolkit calls the handlers on the window's thread, one at a time; every
// handler is an exception boundary in the toolkit (an exception is logged, never unwound into
// the window system).
class CDialog {
 public:
  CDialog(IUiToolkit& ui, int resource) : m_ui(ui), m_nResource(resource) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  int Resource() const { return m_nResource; }
  // The window, or null before it is created and after it is destroyed.
  IDialogView* View() const { return m_pView; }
  WindowHandle GetSafeHwnd() const { return m_pView != nullptr ? m_pView->Handle() : 0; }
  // Whether the dialog runs modally (DoModal) or as a modeless window.
  bool IsModal() const { return m_bModal; }

  // Ends the dialog: a modal one returns `result` from DoModal; a modeless one is hidden, and
  // the object and its window stay until the owner destroys them.
  void EndDialog(int result);
  int Result() const { return m_nResult; }

  // The messages, as the toolkit hands them over. Portable messages (WM_INITDIALOG,
  // WM_COMMAND, WM_TIMER, WM_SYSCOMMAND, WM_CLOSE, WM_DEVICECHANGE, WM_NCHITTEST and the
  // program's own WM_USER messages) arrive through Dispatch; `handled` false asks for the
  // window system's default processing.
  std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                         bool* handled);
  // WM_NOTIFY from control `id` with notification `code`; `detail` is what the notification
  // carries that the pages read (LVN_ITEMCHANGING's uChanged, EN_LINK's mouse message). True
  // when handled, with the answer in *result (LVN_ITEMCHANGING: TRUE refuses the change).
  virtual bool OnNotify(int id, int code, std::uint32_t detail, std::intptr_t* result) {
    static_cast<void>(id);
    static_cast<void>(code);
    static_cast<void>(detail);
    static_cast<void>(result);
    return false;
  }
  // After the default processing of WM_NCLBUTTONDOWN.
  virtual void OnNcLButtonDown() {}
  // WM_NCHITTEST after the default processing found `hit`: the answer.
  virtual int OnNcHitTest(int hit) { return hit; }

  virtual Background BackgroundKind() const { return Background::Default; }
  // The picture of Background::Own (a bitmap from LoadPicture), stretched over the window.
  virtual std::uintptr_t Picture() const { return 0; }
  // Static texts drawn transparently over the background: black, on RGB(219, 219, 219) for the
  // page title (1021), on white for the others.
  virtual bool PageColours() const { return BackgroundKind() == Background::Banner; }
  // Whether the wait cursor is to be kept (WM_SETCURSOR).
  virtual bool Waiting() const { return false; }

  // The toolkit's side: the window made for this object, and the end of a modal run.
  void Attach(IDialogView* view, bool modal) {
    m_pView = view;
    m_bModal = modal;
    m_bEnded = false;
    m_nResult = 0;
  }
  void Detach() { m_pView = nullptr; }
  bool Ended() const { return m_bEnded; }

 protected:
  virtual bool OnInitDialog() { return true; }
  // IDOK and IDCANCEL: the framework's defaults end the dialog; pages override them.
  virtual void OnOK() { EndDialog(IdOk); }
  virtual void OnCancel() { EndDialog(IdCancel); }
  virtual bool OnCommand(int id, int code) {
    static_cast<void>(id);
    static_cast<void>(code);
    return false;
  }
  virtual void OnTimer(std::uintptr_t id) { static_cast<void>(id); }
  // WM_SYSCOMMAND: true when handled, false for the default processing.
  virtual bool OnSysCommand(std::uint32_t command) {
    static_cast<void>(command);
    return false;
  }
  // WM_CLOSE: false for the default processing (which is OnCancel for a dialog).
  virtual bool OnClose() { return false; }
  virtual std::intptr_t OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
    static_cast<void>(wParam);
    static_cast<void>(lParam);
    return 1;
  }
  // The program's own messages (WM_USER and above).
  virtual bool OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                             std::intptr_t* result) {
    static_cast<void>(message);
    static_cast<void>(wParam);
    static_cast<void>(lParam);
    static_cast<void>(result);
    return false;
  }

  IUiToolkit& m_ui;

 private:
  int m_nResource;
  IDialogView* m_pView = nullptr;
  bool m_bModal = false;
  bool m_bEnded = false;
  int m_nResult = 0;
};

}  // namespace kvd::ui
