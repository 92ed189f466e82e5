#include "ui/win32/Win32Ui.h"

#include "platform/win32/Windows.h"

// SDK headers that need <windows.h> before them. GDI+ needs objidl.h before it when the wrapper
// leaves out the rarely used headers (separate blocks keep that order).
#include <commctrl.h>
#include <objidl.h>
#include <richedit.h>
#include <shobjidl.h>

#include <gdiplus.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "logging/Trace.h"
#include "platform/win32/Owners.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
using namespace kvd::platform::win32;

namespace {

// GDI+ for the duration of one decode.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  ~GdiplusSession() {
    if (started_) Gdiplus::GdiplusShutdown(token_);
  }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

HWND Hwnd(kvd::ui::WindowHandle window) { return reinterpret_cast<HWND>(window); }
kvd::ui::WindowHandle Handle(HWND window) {
  return reinterpret_cast<kvd::ui::WindowHandle>(window);
}
HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

constexpr int kPageTitle = 1021;
constexpr COLORREF kTitleBackground = RGB(219, 219, 219);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kBannerWidth = 756;
constexpr int kBannerHeight = 540;

}  // namespace

bool LoadPNGFromResource(std::uintptr_t module, int id, std::uintptr_t* bitmap) {
  KVD_SCOPE(L"CKavidApp::LoadPNGFromResource");
  GdiplusSession gdiplus;
  const auto instance = reinterpret_cast<HMODULE>(module);
  HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(id), L"PNG");
  if (resource == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to find the resource");
    return false;
  }
  HGLOBAL loaded = ::LoadResource(instance, resource);
  if (loaded == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to load the resource");
    return false;
  }
  const DWORD size = ::SizeofResource(instance, resource);
  UniqueGlobal block(GlobalMemoryTraits{}, ::GlobalAlloc(GMEM_MOVEABLE, size));
  const void* source = ::LockResource(loaded);
  void* target = block.valid() ? ::GlobalLock(block.get()) : nullptr;
  if (!block.valid() || source == nullptr || target == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to allocate memory");
    return false;
  }
  std::memcpy(target, source, size);
  ::GlobalUnlock(block.get());
  ComRef<IStream> stream;
  // The stream does not own the block: the owner above frees it after the stream is released.
  if (FAILED(::CreateStreamOnHGlobal(block.get(), FALSE, stream.put())) || !stream) {
    KVD_LOG(kind::Debug, L"Failed to create stream");
    return false;
  }
  bool decoded = false;
  {
    Gdiplus::Bitmap picture(stream.get());
    HBITMAP handle = nullptr;
    if (picture.GetLastStatus() == Gdiplus::Ok &&
        picture.GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), &handle) == Gdiplus::Ok &&
        handle != nullptr) {
      *bitmap = reinterpret_cast<std::uintptr_t>(handle);
      decoded = true;
    }
  }
  stream.reset();
  if (!decoded) KVD_LOG(kind::Debug, L"Failed to get HBITMAP from Gdiplus::Bitmap");
  return decoded;
}

namespace kvd::ui::win32 {

namespace {

// One dialog window's controls.
class Win32DialogView final : public IDialogView {
 public:
  explicit Win32DialogView(HWND window) : window_(window) {}

  WindowHandle Handle() const override { return ::Handle(window_); }
  WindowHandle Parent() const override { return ::Handle(::GetParent(window_)); }
  void SetParent(WindowHandle parent) override { ::SetParent(window_, Hwnd(parent)); }
  bool Show(bool show) override { return ::ShowWindow(window_, show ? SW_SHOW : SW_HIDE) != 0; }
  bool IsVisible() const override { return ::IsWindowVisible(window_) != FALSE; }
  void SetWindowText(const std::wstring& text) override { ::SetWindowTextW(window_, text.c_str()); }
  std::wstring WindowText() const override { return TextOf(window_); }
  void SetIcon(IconHandle icon, bool big) override {
    ::SendMessageW(window_, WM_SETICON, big ? ICON_BIG : ICON_SMALL, static_cast<LPARAM>(icon));
  }
  void Redraw() override {
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
  void SetFocus() override { ::SetFocus(window_); }
  void SetItemFocus(int id) override {
    if (HWND item = Item(id)) ::SetFocus(item);
  }
  void SetItemText(int id, const std::wstring& text) override {
    HWND item = Item(id);
    if (item == nullptr) return;
    ::SetWindowTextW(item, text.c_str());
    // A transparent static does not erase what it showed before: the dialog's background
    // under it is painted again first.
    RECT area{};
    ::GetWindowRect(item, &area);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&area), 2);
    ::InvalidateRect(window_, &area, TRUE);
  }
  std::wstring ItemText(int id) const override {
    HWND item = Item(id);
    return item != nullptr ? TextOf(item) : std::wstring();
  }
  void SetItemFont(int id, FontHandle font) override {
    HWND item = Item(id);
    if (item != nullptr && font != 0)
      ::SendMessageW(item, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  }
  void EnableItem(int id, bool enable) override {
    if (HWND item = Item(id)) ::EnableWindow(item, enable ? TRUE : FALSE);
  }
  bool IsItemEnabled(int id) const override {
    HWND item = Item(id);
    return item != nullptr && ::IsWindowEnabled(item) != FALSE;
  }
  void ShowItem(int id, bool show) override {
    if (HWND item = Item(id)) ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
  }
  bool IsItemVisible(int id) const override {
    HWND item = Item(id);
    return item != nullptr && (::GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
  }
  Rect ItemRect(int id) const override {
    HWND item = Item(id);
    if (item == nullptr) return {};
    RECT area{};
    ::GetWindowRect(item, &area);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&area), 2);
    return {area.left, area.top, area.right, area.bottom};
  }
  void MoveItem(int id, int left, int top) override {
    if (HWND item = Item(id))
      ::SetWindowPos(item, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void InvalidateItem(int id) override {
    HWND item = Item(id);
    if (item == nullptr) return;
    RECT area{};
    ::GetWindowRect(item, &area);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&area), 2);
    ::InvalidateRect(window_, &area, TRUE);
  }
  void ListSetImageList(int id, ImageListHandle images) override {
    Send(id, LVM_SETIMAGELIST, LVSIL_SMALL, static_cast<LPARAM>(images));
  }
  void ListSetItemImage(int id, int row, int image) override {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = image;
    Send(id, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  void RichPrepare(int id) override {
    Send(id, EM_SETREADONLY, TRUE, 0);
    const LRESULT mask = Send(id, EM_GETEVENTMASK, 0, 0);
    Send(id, EM_SETEVENTMASK, 0,
         mask | ENM_LINK | ENM_MOUSEEVENTS | ENM_KEYEVENTS | ENM_SCROLLEVENTS);
  }
  void RichClear(int id) override {
    if (HWND item = Item(id)) ::SetWindowTextW(item, L"");
  }
  void RichAppend(int id, const std::wstring& text, bool link) override {
    Send(id, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_LINK;
    format.dwEffects = link ? CFE_LINK : 0;
    Send(id, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    Send(id, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void RichHideSelection(int id) override {
    HWND item = Item(id);
    if (item == nullptr) return;
    ::HideCaret(item);
    Send(id, EM_HIDESELECTION, TRUE, 0);
  }
  void ListSetExtendedStyle(int id, std::uint32_t mask, std::uint32_t styles) override {
    Send(id, LVM_SETEXTENDEDLISTVIEWSTYLE, mask, static_cast<LPARAM>(styles));
  }
  void ListDeleteAllItems(int id) override { Send(id, LVM_DELETEALLITEMS, 0, 0); }
  void ListDeleteColumn(int id, int column) override {
    Send(id, LVM_DELETECOLUMN, static_cast<WPARAM>(column), 0);
  }
  void ListInsertColumn(int id, int column, const std::wstring& heading, int width) override {
    std::wstring text = heading;
    LVCOLUMNW info{};
    info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    info.fmt = LVCFMT_LEFT;
    info.cx = width;
    info.pszText = text.data();
    Send(id, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  }
  int ListInsertItem(int id, int row, const std::wstring& text) override {
    if (Item(id) == nullptr) return -1;
    std::wstring copy = text;
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = copy.data();
    return static_cast<int>(Send(id, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  }
  void ListSetItemText(int id, int row, int column, const std::wstring& text) override {
    std::wstring copy = text;
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = copy.data();
    Send(id, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  }
  int ListGetItemCount(int id) const override {
    return static_cast<int>(Send(id, LVM_GETITEMCOUNT, 0, 0));
  }
  int ListGetSelectionMark(int id) const override {
    return Item(id) != nullptr ? static_cast<int>(Send(id, LVM_GETSELECTIONMARK, 0, 0)) : -1;
  }
  void BringToTop() override {
    ::SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  int ListBoxAddString(int id, const std::wstring& text) override {
    if (Item(id) == nullptr) return -1;
    const LRESULT index = Send(id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return index == LB_ERR || index == LB_ERRSPACE ? -1 : static_cast<int>(index);
  }
  void ListBoxSetCurSel(int id, int index) override {
    Send(id, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int ListBoxGetCurSel(int id) const override {
    if (Item(id) == nullptr) return -1;
    const LRESULT index = Send(id, LB_GETCURSEL, 0, 0);
    return index == LB_ERR ? -1 : static_cast<int>(index);
  }
  void ProgressSetRange(int id, int low, int high) override {
    Send(id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
  }
  void ProgressSetPos(int id, int position) override {
    Send(id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
  int ProgressGetPos(int id) const override { return static_cast<int>(Send(id, PBM_GETPOS, 0, 0)); }
  void ProgressSetStep(int id, int step) override {
    Send(id, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
  }

 private:
  HWND Item(int id) const { return ::GetDlgItem(window_, id); }
  LRESULT Send(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
    HWND item = Item(id);
    return item != nullptr ? ::SendMessageW(item, message, wParam, lParam) : 0;
  }
  static std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
  }

  HWND window_;
};

}  // namespace

// What a window's DWLP_USER points at: its dialog object and its view.
class DialogBinding {
 public:
  DialogBinding(CWin32Ui& ui, CDialog& dialog, bool modal)
      : ui_(ui), dialog_(dialog), modal_(modal) {}

  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // A handled message's answer: dialog procedures return it through DWLP_MSGRESULT.
  static INT_PTR Answer(HWND window, LRESULT result) {
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
  }
  INT_PTR EraseBackground(HWND window, HDC dc);
  INT_PTR StaticColours(HDC dc, HWND control);

  CWin32Ui& ui_;
  CDialog& dialog_;
  bool modal_;
  bool endedModal_ = false;
  std::unique_ptr<Win32DialogView> view_;
};

INT_PTR CALLBACK DialogBinding::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* binding = reinterpret_cast<DialogBinding*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    binding->view_ = std::make_unique<Win32DialogView>(window);
    binding->dialog_.Attach(binding->view_.get(), binding->modal_);
    if (binding->modal_ && binding->ui_.m_hMainWindow == 0 && ::GetParent(window) == nullptr)
      binding->ui_.m_hMainWindow = ::Handle(window);
  }
  auto* binding = reinterpret_cast<DialogBinding*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (binding == nullptr) return FALSE;
  // No exception may unwind through the window system: it becomes a logged failure of the
  // message, and the window goes on.
  try {
    return binding->Handle(window, message, wParam, lParam);
  } catch (const std::exception& e) {
    KVD_SCOPE(L"CWin32Ui::DialogProc");
    KVD_LOG(kind::Error, L"The window message %u failed unexpectedly: %S", message, e.what());
  } catch (...) {
    KVD_SCOPE(L"CWin32Ui::DialogProc");
    KVD_LOG(kind::Error, L"The window message %u failed unexpectedly.", message);
  }
  return FALSE;
}

INT_PTR DialogBinding::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header == nullptr) return FALSE;
      const int code = static_cast<int>(header->code);
      std::uint32_t detail = 0;
      if (code == static_cast<int>(LVN_ITEMCHANGING)) {
        detail = reinterpret_cast<const NMLISTVIEW*>(lParam)->uChanged;
      } else if (code == EN_LINK) {
        detail = reinterpret_cast<const ENLINK*>(lParam)->msg;
      }
      std::intptr_t result = 0;
      if (!dialog_.OnNotify(static_cast<int>(header->idFrom), code, detail, &result)) return FALSE;
      return Answer(window, result);
    }
    case WM_NCHITTEST: {
      const LRESULT hit = ::DefWindowProcW(window, message, wParam, lParam);
      return Answer(window, dialog_.OnNcHitTest(static_cast<int>(hit)));
    }
    case WM_NCLBUTTONDOWN:
      ::DefWindowProcW(window, message, wParam, lParam);
      dialog_.OnNcLButtonDown();
      return Answer(window, 0);
    case WM_ERASEBKGND:
      return EraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORSTATIC:
      return StaticColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SETCURSOR:
      if (!dialog_.Waiting()) return FALSE;
      ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
      return Answer(window, TRUE);
    case WM_NCDESTROY:
      dialog_.Detach();
      ::SetWindowLongPtrW(window, DWLP_USER, 0);
      if (ui_.m_hMainWindow == ::Handle(window)) ui_.m_hMainWindow = 0;
      return FALSE;
    default:
      break;
  }
  bool handled = false;
  const std::intptr_t result = dialog_.Dispatch(message, wParam, lParam, &handled);
  if (modal_ && dialog_.Ended() && !endedModal_) {
    endedModal_ = true;
    ::EndDialog(window, dialog_.Result());
  }
  if (!handled) return FALSE;
  // WM_INITDIALOG answers directly: TRUE lets the dialog manager set the default focus.
  if (message == WM_INITDIALOG) return static_cast<INT_PTR>(result);
  return Answer(window, result);
}

INT_PTR DialogBinding::EraseBackground(HWND window, HDC dc) {
  const Background kind = dialog_.BackgroundKind();
  const auto picture = reinterpret_cast<HBITMAP>(kind == Background::Banner ? ui_.Banner()
                                                 : kind == Background::Own  ? dialog_.Picture()
                                                                            : 0);
  // Without its picture a dialog keeps the system's background.
  if (picture == nullptr) return FALSE;
  BITMAP info{};
  if (::GetObjectW(picture, sizeof info, &info) == 0) return FALSE;
  RECT client{};
  ::GetClientRect(window, &client);
  UniqueMemoryDc memory(MemoryDcTraits{}, ::CreateCompatibleDC(dc));
  if (!memory.valid()) return FALSE;
  SelectedObject selected(memory.get(), picture);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (kind == Background::Banner && width == kBannerWidth && height == kBannerHeight) {
    ::BitBlt(dc, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
  } else {
    // Another DPI gives another client size: the picture is stretched over all of it.
    ::SetStretchBltMode(dc, HALFTONE);
    ::StretchBlt(dc, 0, 0, width, height, memory.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  }
  return Answer(window, TRUE);
}

INT_PTR DialogBinding::StaticColours(HDC dc, HWND control) {
  if (!dialog_.PageColours()) return FALSE;
  wchar_t className[32] = {};
  ::GetClassNameW(control, className, static_cast<int>(std::size(className)));
  // Read-only edits and check boxes ask the same question; they keep the default colours. A
  // link control asks it for its background, which is the page's picture as for a static.
  if (::lstrcmpiW(className, L"Static") != 0 && ::lstrcmpiW(className, WC_LINK) != 0) return FALSE;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetBkColor(dc, ::GetDlgCtrlID(control) == kPageTitle ? kTitleBackground : kWhite);
  ::SetTextColor(dc, RGB(0, 0, 0));
  // WM_CTLCOLOR* answers with the brush itself, not through DWLP_MSGRESULT.
  return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
}

CWin32Ui::CWin32Ui() = default;

CWin32Ui::~CWin32Ui() {
  if (m_hBanner != 0) ::DeleteObject(reinterpret_cast<HGDIOBJ>(m_hBanner));
  if (m_hRichEdit != 0) ::FreeLibrary(reinterpret_cast<HMODULE>(m_hRichEdit));
}

void CWin32Ui::InitCommonControls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;  // 8
  controls.dwICC = 0xFF;
  ::InitCommonControlsEx(&controls);
}

bool CWin32Ui::LoadBanner(int id) {
  std::uintptr_t bitmap = 0;
  if (!LoadPNGFromResource(reinterpret_cast<std::uintptr_t>(Instance()), id, &bitmap)) return false;
  m_hBanner = bitmap;
  return true;
}

void CWin32Ui::InitRichEdit() {
  // From the system folder only: a library of that name planted beside the program or in the
  // current folder must not be loaded into an elevated process.
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring path = std::wstring(system) + L"\\Msftedit.dll";
  m_hRichEdit = reinterpret_cast<std::uintptr_t>(::LoadLibraryW(path.c_str()));
}

int CWin32Ui::DoModal(CDialog& dialog, WindowHandle owner) {
  DialogBinding binding(*this, dialog, true);
  const WindowHandle parent = owner != 0 ? owner : m_hMainWindow;
  const INT_PTR result =
      ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(dialog.Resource()), Hwnd(parent),
                        &DialogBinding::Procedure, reinterpret_cast<LPARAM>(&binding));
  dialog.Detach();
  return static_cast<int>(result);
}

bool CWin32Ui::CreateModeless(CDialog& dialog, WindowHandle owner) {
  // Owned by the window while it lives: WM_NCDESTROY detaches it, DestroyWindow frees it.
  auto binding = std::make_unique<DialogBinding>(*this, dialog, false);
  const WindowHandle parent = owner != 0 ? owner : m_hMainWindow;
  HWND window =
      ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(dialog.Resource()), Hwnd(parent),
                           &DialogBinding::Procedure, reinterpret_cast<LPARAM>(binding.get()));
  if (window == nullptr) {
    dialog.Detach();
    return false;
  }
  static_cast<void>(binding.release());
  return true;
}

void CWin32Ui::DestroyWindow(CDialog& dialog) {
  HWND window = Hwnd(dialog.GetSafeHwnd());
  if (window == nullptr) return;
  auto* binding = reinterpret_cast<DialogBinding*>(::GetWindowLongPtrW(window, DWLP_USER));
  ::DestroyWindow(window);
  delete binding;
}

IconHandle CWin32Ui::LoadIcon(int id) {
  return reinterpret_cast<IconHandle>(::LoadIconW(Instance(), MAKEINTRESOURCEW(id)));
}

MenuHandle CWin32Ui::GetSystemMenu(WindowHandle window) {
  return reinterpret_cast<MenuHandle>(::GetSystemMenu(Hwnd(window), FALSE));
}

bool CWin32Ui::AppendMenu(MenuHandle menu, std::uint32_t flags, std::uintptr_t id,
                          const std::wstring& text) {
  return ::AppendMenuW(reinterpret_cast<HMENU>(menu), flags, id,
                       (flags & MF_SEPARATOR) != 0 ? nullptr : text.c_str()) != FALSE;
}

int CWin32Ui::EnableMenuItem(MenuHandle menu, std::uint32_t item, std::uint32_t flags) {
  if (menu == 0) return -1;
  return ::EnableMenuItem(reinterpret_cast<HMENU>(menu), item, MF_BYCOMMAND | flags);
}

bool CWin32Ui::TrackResourceMenu(int resource, int x, int y, WindowHandle owner) {
  UniqueMenu menu(MenuTraits{}, ::LoadMenuW(Instance(), MAKEINTRESOURCEW(resource)));
  if (!menu.valid()) return false;
  HMENU popup = ::GetSubMenu(menu.get(), 0);
  if (popup == nullptr) return false;
  return ::TrackPopupMenu(popup, 0, x, y, 0, Hwnd(owner), nullptr) != FALSE;
}

Rect CWin32Ui::GetWindowRect(WindowHandle window) {
  RECT rect{};
  ::GetWindowRect(Hwnd(window), &rect);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

int CWin32Ui::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

short CWin32Ui::GetKeyState(int virtualKey) { return ::GetKeyState(virtualKey); }

void CWin32Ui::ShowWaitCursor() { ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT)); }

std::uintptr_t CWin32Ui::LoadPicture(int id) {
  std::uintptr_t bitmap = 0;
  return LoadPNGFromResource(reinterpret_cast<std::uintptr_t>(Instance()), id, &bitmap) ? bitmap
                                                                                        : 0;
}

void CWin32Ui::DeletePicture(std::uintptr_t picture) {
  if (picture != 0) ::DeleteObject(reinterpret_cast<HGDIOBJ>(picture));
}

ImageListHandle CWin32Ui::CreateImageList(int width, int height) {
  return reinterpret_cast<ImageListHandle>(::ImageList_Create(width, height, ILC_COLOR32, 5, 0));
}

int CWin32Ui::ImageListAddPicture(ImageListHandle images, std::uintptr_t picture) {
  return ::ImageList_Add(reinterpret_cast<HIMAGELIST>(images), reinterpret_cast<HBITMAP>(picture),
                         nullptr);
}

int CWin32Ui::ImageListAddBitmap(ImageListHandle images, int resource) {
  UniqueGdiObject bitmap(GdiObjectTraits{}, ::LoadBitmapW(Instance(), MAKEINTRESOURCEW(resource)));
  if (!bitmap.valid()) return -1;
  // The list copies the picture: the bitmap is freed with its owner.
  return ::ImageList_Add(reinterpret_cast<HIMAGELIST>(images), static_cast<HBITMAP>(bitmap.get()),
                         nullptr);
}

void CWin32Ui::DestroyImageList(ImageListHandle images) {
  if (images != 0) ::ImageList_Destroy(reinterpret_cast<HIMAGELIST>(images));
}

void CWin32Ui::RemoveTaskbarButton(WindowHandle window) {
  // COM on the window's thread for the taskbar list; balanced whatever it answered.
  const HRESULT com = ::CoInitialize(nullptr);
  ITaskbarList* taskbar = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskbarList, reinterpret_cast<void**>(&taskbar))) &&
      taskbar != nullptr) {
    const HWND hwnd = reinterpret_cast<HWND>(window);
    if (SUCCEEDED(taskbar->HrInit())) {
      taskbar->ActivateTab(hwnd);
      taskbar->DeleteTab(hwnd);
    }
    taskbar->Release();
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
}

void CWin32Ui::BeginWaitCursor() {
  m_hRestoreCursor = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
}

void CWin32Ui::EndWaitCursor() {
  ::SetCursor(m_hRestoreCursor != nullptr ? static_cast<HCURSOR>(m_hRestoreCursor)
                                          : ::LoadCursorW(nullptr, IDC_ARROW));
  m_hRestoreCursor = nullptr;
}

}  // namespace kvd::ui::win32

// The pages speak the window system's numbers without its headers.
static_assert(kvd::ui::wm::Close == WM_CLOSE && kvd::ui::wm::SetIcon == WM_SETICON &&
              kvd::ui::wm::NcHitTest == WM_NCHITTEST &&
              kvd::ui::wm::NcLButtonDown == WM_NCLBUTTONDOWN &&
              kvd::ui::wm::InitDialog == WM_INITDIALOG && kvd::ui::wm::Command == WM_COMMAND &&
              kvd::ui::wm::SysCommand == WM_SYSCOMMAND && kvd::ui::wm::Timer == WM_TIMER &&
              kvd::ui::wm::DeviceChange == WM_DEVICECHANGE && kvd::ui::wm::User == WM_USER);
static_assert(kvd::ui::IdOk == IDOK && kvd::ui::IdCancel == IDCANCEL &&
              kvd::ui::BnClicked == BN_CLICKED && kvd::ui::NmClick == static_cast<int>(NM_CLICK) &&
              kvd::ui::NmReturn == static_cast<int>(NM_RETURN) &&
              kvd::ui::LvnItemChanged == static_cast<int>(LVN_ITEMCHANGED));
static_assert(kvd::ui::HtCaption == HTCAPTION && kvd::ui::HtSysMenu == HTSYSMENU &&
              kvd::ui::ScClose == SC_CLOSE && kvd::ui::MfGrayed == MF_GRAYED &&
              kvd::ui::MfDisabled == MF_DISABLED && kvd::ui::MfSeparator == MF_SEPARATOR &&
              kvd::ui::MfEnabled == MF_ENABLED && kvd::ui::MfString == MF_STRING);
static_assert(kvd::ui::LvsExFullRowSelect == LVS_EX_FULLROWSELECT &&
              kvd::ui::LvsExSubItemImages == LVS_EX_SUBITEMIMAGES);
static_assert(kvd::ui::VkLShift == VK_LSHIFT && kvd::ui::VkLControl == VK_LCONTROL &&
              kvd::ui::SmCxDlgFrame == SM_CXDLGFRAME && kvd::ui::SmCyDlgFrame == SM_CYDLGFRAME &&
              kvd::ui::SmCyCaption == SM_CYCAPTION);
static_assert(kvd::platform::sw::Show == SW_SHOW && kvd::platform::sw::Hide == SW_HIDE);
