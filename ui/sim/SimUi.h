#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/SimWindows.h"
#include "ui/Dialog.h"

namespace kvd::ui::sim {

// The dialog toolkit of the simulated machine: every window is a window of the simulated UI
// thread (SimWindows), whose handler hands its messages to the dialog object as the Win32
// toolkit does, and whose controls are plain state that tests read. Test-side calls (Click,
// Notify, SelectRow, Send...) are made from a thread other than the UI thread and return once
// the UI thread is idle again.
//
// A dialog run modally from the UI thread (the About box from the host's system menu) cannot
// have a message loop of its own here: it is initialised, handed to the modal responder (by
// default it ends with IDOK), recorded and destroyed.
class SimUi final : public IUiToolkit {
 public:
  struct ListState {
    std::uint32_t extendedStyle = 0;
    std::vector<std::pair<std::wstring, int>> columns;  // heading, width
    std::vector<std::vector<std::wstring>> rows;        // item text, then the sub-items
    std::vector<int> images;                            // each row's picture (kNoImage: none)
    int selectionMark = -1;
    ImageListHandle imageList = 0;
  };
  // A piece of a rich-edit text, and whether it carries the link effect.
  struct RichPiece {
    std::wstring text;
    bool link = false;
    friend bool operator==(const RichPiece&, const RichPiece&) = default;
  };
  struct Control {
    std::wstring text;
    FontHandle font = 0;
    bool enabled = true;
    bool visible = true;
    Rect rect;
    int invalidated = 0;
    int progressLow = 0;
    int progressHigh = 100;
    int progressPos = 0;
    int progressStep = 10;
    bool richPrepared = false;
    int selectionHidden = 0;
    std::vector<RichPiece> rich;  // adjacent pieces of the same kind are one
  };
  struct WindowState {
    int resource = 0;
    WindowHandle parent = 0;
    WindowHandle owner = 0;
    bool visible = false;
    bool modal = false;
    // WM_INITDIALOG has been handled: what the dialog shows first is in place.
    bool initialised = false;
    std::wstring text;
    IconHandle bigIcon = 0;
    IconHandle smallIcon = 0;
    int bigIconSets = 0;
    int redraws = 0;
    int raised = 0;     // BringToTop calls
    int focusItem = 0;  // the control with the focus; 0 is the window itself
    std::map<int, Control> controls;
    std::map<int, ListState> lists;
  };
  struct MenuItem {
    std::uint32_t flags = 0;
    std::uintptr_t id = 0;
    std::wstring text;
  };
  struct Popup {
    int resource = 0;
    int x = 0;
    int y = 0;
    WindowHandle owner = 0;
  };

  explicit SimUi(kvd::sim::SimWindows& windows);
  ~SimUi() override;
  SimUi(const SimUi&) = delete;
  SimUi& operator=(const SimUi&) = delete;

  int DoModal(CDialog& dialog, WindowHandle owner) override;
  bool CreateModeless(CDialog& dialog, WindowHandle owner) override;
  void DestroyWindow(CDialog& dialog) override;
  IconHandle LoadIcon(int id) override;
  MenuHandle GetSystemMenu(WindowHandle window) override;
  bool AppendMenu(MenuHandle menu, std::uint32_t flags, std::uintptr_t id,
                  const std::wstring& text) override;
  int EnableMenuItem(MenuHandle menu, std::uint32_t item, std::uint32_t flags) override;
  bool TrackResourceMenu(int resource, int x, int y, WindowHandle owner) override;
  Rect GetWindowRect(WindowHandle window) override;
  int GetSystemMetrics(int index) override;
  short GetKeyState(int virtualKey) override;
  void ShowWaitCursor() override;
  std::uintptr_t LoadPicture(int id) override;
  void DeletePicture(std::uintptr_t picture) override;
  ImageListHandle CreateImageList(int width, int height) override;
  int ImageListAddPicture(ImageListHandle images, std::uintptr_t picture) override;
  int ImageListAddBitmap(ImageListHandle images, int resource) override;
  void DestroyImageList(ImageListHandle images) override;
  void BeginWaitCursor() override;
  void RemoveTaskbarButton(WindowHandle window) override;
  // The windows whose taskbar button was taken away.
  std::vector<WindowHandle> WithoutTaskbarButton() const;
  void EndWaitCursor() override;

  // Set-up.
  void SetKeyDown(int virtualKey, bool down);
  void SetPictureFails(int id);
  void SetModalResponder(std::function<int(CDialog&)> responder);
  // Where a control of a resource is (dialog client coordinates), as its template would place it.
  void SetControlRect(int resource, int id, Rect rect);
  // A window the resource cannot be made into (CreateDialogParam / DialogBoxParam fail).
  void SetResourceFails(int id);

  // What a user does, from the test's thread: each returns when the UI thread is idle again.
  void Click(WindowHandle window, int id);
  // WM_NOTIFY; the handler's answer (0 when it did not handle it).
  std::intptr_t Notify(WindowHandle window, int id, int code, std::uint32_t detail = 0);
  void SelectRow(WindowHandle window, int list, int row);
  // Escape on a dialog: IDCANCEL as the dialog manager sends it.
  void PressEscape(WindowHandle window);
  // A left click on the caption (WM_NCHITTEST then WM_NCLBUTTONDOWN); the hit test's answer.
  int ClickCaption(WindowHandle window, int hit);
  std::intptr_t Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam);
  // Runs `work` on the UI thread (a page's state is that thread's) and returns after it.
  void Call(const std::function<void()>& work);
  void Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam);

  // Inspection (copies, callable from any thread).
  bool Exists(WindowHandle window) const;
  WindowState State(WindowHandle window) const;
  // The windows made from `resource` that still exist, oldest first.
  std::vector<WindowHandle> WindowsOf(int resource) const;
  std::vector<MenuItem> MenuItems(MenuHandle menu) const;
  // EnableMenuItem's last flags for `item` (MF_ENABLED when never set).
  std::uint32_t MenuItemFlags(MenuHandle menu, std::uint32_t item) const;
  std::vector<Popup> Popups() const;
  // The state of every modal dialog when it ended, in order.
  std::vector<WindowState> Modals() const;
  int WaitCursorShown() const;
  // How many pictures an image list holds; whether BeginWaitCursor is in effect.
  int ImageCount(ImageListHandle images) const;
  int WaitCursorDepth() const;
  int LivePictures() const;
  // Exceptions that a handler let out (the toolkit's boundary logged and swallowed them).
  int HandlerExceptions() const;

 private:
  class View;
  friend class View;

  std::intptr_t Handle(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam);
  // Makes the window and its view (not yet initialised); 0 when the resource fails.
  WindowHandle Make(CDialog& dialog, WindowHandle owner, bool modal);
  void MarkInitialised(WindowHandle handle);
  void Unmake(CDialog& dialog);

  kvd::sim::SimWindows& windows_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<WindowHandle, WindowState> states_;
  std::map<WindowHandle, CDialog*> dialogs_;
  std::map<WindowHandle, std::unique_ptr<View>> views_;
  std::map<WindowHandle, MenuHandle> systemMenus_;
  std::vector<WindowHandle> withoutTaskbarButton_;
  std::map<MenuHandle, std::vector<MenuItem>> menus_;
  std::map<std::pair<MenuHandle, std::uint32_t>, std::uint32_t> menuFlags_;
  std::vector<Popup> popups_;
  std::vector<WindowState> modals_;
  std::set<int> keysDown_;
  std::set<int> failingPictures_;
  std::set<int> failingResources_;
  std::set<std::uintptr_t> pictures_;
  std::set<WindowHandle> ended_;
  std::map<std::pair<int, int>, Rect> controlRects_;
  std::map<ImageListHandle, int> imageLists_;
  ImageListHandle nextImageList_ = 0x7800;
  int waitDepth_ = 0;
  WindowHandle caller_ = 0;  // the window whose handler runs Call's work
  // The dialogs run modally from another thread, and how deep the UI thread is in handlers
  // (touched on the UI thread only).
  std::map<WindowHandle, CDialog*> modalRuns_;
  int depth_ = 0;
  std::function<int(CDialog&)> responder_;
  MenuHandle nextMenu_ = 0x5000;
  std::uintptr_t nextPicture_ = 0x6000;
  int waitCursor_ = 0;
  int exceptions_ = 0;
};

// The sim-only messages that carry what Win32 passes by pointer (WM_NOTIFY's header) or
// computes in the window system (the caption's hit test and click).
inline constexpr std::uint32_t kSimNotify = 0x7F00;         // wParam id, lParam code | detail << 32
inline constexpr std::uint32_t kSimNcHitTest = 0x7F01;      // lParam: the default hit
inline constexpr std::uint32_t kSimNcLButtonDown = 0x7F02;  // none

}  // namespace kvd::ui::sim
