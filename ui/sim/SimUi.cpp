#include "ui/sim/SimUi.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace kvd::ui::sim {

namespace {
// What the window system answers on the simulated machine.
constexpr int kDlgFrame = 3;
constexpr int kCaption = 19;
constexpr Rect kHostRect{100, 80, 100 + 662, 80 + 500};
// The page and host resources are made visible (WS_VISIBLE); the small dialogs are not.
bool CreatedVisible(int resource) { return resource >= 161 && resource <= 164; }
}  // namespace

// One window's controls, kept in the toolkit's state under its lock.
class SimUi::View final : public IDialogView {
  // Declared before their users: their return types are deduced.
  template <class F>
  auto Read(F f) const {
    std::lock_guard lock(ui_.mutex_);
    return f(ui_.states_.at(handle_));
  }
  template <class F>
  void Write(F f) {
    std::lock_guard lock(ui_.mutex_);
    f(ui_.states_.at(handle_));
  }

 public:
  View(SimUi& ui, WindowHandle handle) : ui_(ui), handle_(handle) {}

  WindowHandle Handle() const override { return handle_; }
  WindowHandle Parent() const override {
    return Read([](const WindowState& s) { return s.parent; });
  }
  void SetParent(WindowHandle parent) override {
    Write([&](WindowState& s) { s.parent = parent; });
  }
  bool Show(bool show) override {
    bool was = false;
    Write([&](WindowState& s) {
      was = s.visible;
      s.visible = show;
    });
    return was;
  }
  bool IsVisible() const override {
    return Read([](const WindowState& s) { return s.visible; });
  }
  void SetWindowText(const std::wstring& text) override {
    Write([&](WindowState& s) { s.text = text; });
  }
  std::wstring WindowText() const override {
    return Read([](const WindowState& s) { return s.text; });
  }
  void SetIcon(IconHandle icon, bool big) override {
    Write([&](WindowState& s) {
      if (big) {
        s.bigIcon = icon;
        ++s.bigIconSets;
      } else {
        s.smallIcon = icon;
      }
    });
  }
  void Redraw() override {
    Write([](WindowState& s) { ++s.redraws; });
  }
  void SetFocus() override {
    Write([](WindowState& s) { s.focusItem = 0; });
  }
  void SetItemFocus(int id) override {
    Write([&](WindowState& s) { s.focusItem = id; });
  }
  void SetItemText(int id, const std::wstring& text) override {
    Write([&](WindowState& s) { s.controls[id].text = text; });
  }
  std::wstring ItemText(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.controls.find(id);
      return it != s.controls.end() ? it->second.text : std::wstring();
    });
  }
  void SetItemFont(int id, FontHandle font) override {
    Write([&](WindowState& s) { s.controls[id].font = font; });
  }
  void EnableItem(int id, bool enable) override {
    Write([&](WindowState& s) { s.controls[id].enabled = enable; });
  }
  bool IsItemEnabled(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.controls.find(id);
      return it == s.controls.end() || it->second.enabled;
    });
  }
  void ListSetExtendedStyle(int id, std::uint32_t mask, std::uint32_t styles) override {
    Write([&](WindowState& s) {
      auto& list = s.lists[id];
      list.extendedStyle = (list.extendedStyle & ~mask) | (styles & mask);
    });
  }
  void ListDeleteAllItems(int id) override {
    Write([&](WindowState& s) {
      s.lists[id].rows.clear();
      s.lists[id].images.clear();
      s.lists[id].selectionMark = -1;
    });
  }
  void ListDeleteColumn(int id, int column) override {
    Write([&](WindowState& s) {
      auto& columns = s.lists[id].columns;
      if (column >= 0 && static_cast<std::size_t>(column) < columns.size())
        columns.erase(columns.begin() + column);
    });
  }
  void ListInsertColumn(int id, int column, const std::wstring& heading, int width) override {
    Write([&](WindowState& s) {
      auto& columns = s.lists[id].columns;
      const auto at = std::min(static_cast<std::size_t>(std::max(column, 0)), columns.size());
      columns.insert(columns.begin() + static_cast<std::ptrdiff_t>(at), {heading, width});
    });
  }
  int ListInsertItem(int id, int row, const std::wstring& text) override {
    int index = -1;
    Write([&](WindowState& s) {
      auto& rows = s.lists[id].rows;
      const auto at = std::min(static_cast<std::size_t>(std::max(row, 0)), rows.size());
      rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), {text});
      auto& images = s.lists[id].images;
      images.insert(images.begin() + static_cast<std::ptrdiff_t>(at), kNoImage);
      index = static_cast<int>(at);
    });
    return index;
  }
  void ListSetItemText(int id, int row, int column, const std::wstring& text) override {
    Write([&](WindowState& s) {
      auto& rows = s.lists[id].rows;
      if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || column < 0) return;
      auto& cells = rows[static_cast<std::size_t>(row)];
      if (cells.size() <= static_cast<std::size_t>(column))
        cells.resize(static_cast<std::size_t>(column) + 1);
      cells[static_cast<std::size_t>(column)] = text;
    });
  }
  void ShowItem(int id, bool show) override {
    Write([&](WindowState& s) { s.controls[id].visible = show; });
  }
  bool IsItemVisible(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.controls.find(id);
      return it == s.controls.end() || it->second.visible;
    });
  }
  Rect ItemRect(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.controls.find(id);
      return it != s.controls.end() ? it->second.rect : Rect{};
    });
  }
  void MoveItem(int id, int left, int top) override {
    Write([&](WindowState& s) {
      Rect& rect = s.controls[id].rect;
      rect = {left, top, left + (rect.right - rect.left), top + (rect.bottom - rect.top)};
    });
  }
  void InvalidateItem(int id) override {
    Write([&](WindowState& s) { ++s.controls[id].invalidated; });
  }
  void ListSetImageList(int id, ImageListHandle images) override {
    Write([&](WindowState& s) { s.lists[id].imageList = images; });
  }
  void ListSetItemImage(int id, int row, int image) override {
    Write([&](WindowState& s) {
      auto& list = s.lists[id];
      if (row >= 0 && static_cast<std::size_t>(row) < list.images.size())
        list.images[static_cast<std::size_t>(row)] = image;
    });
  }
  void RichPrepare(int id) override {
    Write([&](WindowState& s) { s.controls[id].richPrepared = true; });
  }
  void RichClear(int id) override {
    Write([&](WindowState& s) {
      s.controls[id].rich.clear();
      s.controls[id].text.clear();
    });
  }
  void RichAppend(int id, const std::wstring& text, bool link) override {
    Write([&](WindowState& s) {
      Control& control = s.controls[id];
      if (!control.rich.empty() && control.rich.back().link == link) {
        control.rich.back().text += text;
      } else if (!text.empty()) {
        control.rich.push_back({text, link});
      }
      control.text += text;
    });
  }
  void RichHideSelection(int id) override {
    Write([&](WindowState& s) { ++s.controls[id].selectionHidden; });
  }
  int ListGetItemCount(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.lists.find(id);
      return it != s.lists.end() ? static_cast<int>(it->second.rows.size()) : 0;
    });
  }
  int ListGetSelectionMark(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.lists.find(id);
      return it != s.lists.end() ? it->second.selectionMark : -1;
    });
  }
  void BringToTop() override {
    Write([&](WindowState& s) { ++s.raised; });
  }
  // A list box is a list of one column here: its entries are rows, its selection the mark.
  int ListBoxAddString(int id, const std::wstring& text) override {
    int index = -1;
    Write([&](WindowState& s) {
      auto& list = s.lists[id];
      list.rows.push_back({text});
      list.images.push_back(kNoImage);
      index = static_cast<int>(list.rows.size()) - 1;
    });
    return index;
  }
  void ListBoxSetCurSel(int id, int index) override {
    Write([&](WindowState& s) {
      auto& list = s.lists[id];
      list.selectionMark =
          index >= 0 && static_cast<std::size_t>(index) < list.rows.size() ? index : -1;
    });
  }
  int ListBoxGetCurSel(int id) const override { return ListGetSelectionMark(id); }
  void ProgressSetRange(int id, int low, int high) override {
    Write([&](WindowState& s) {
      s.controls[id].progressLow = low;
      s.controls[id].progressHigh = high;
    });
  }
  void ProgressSetPos(int id, int position) override {
    Write([&](WindowState& s) { s.controls[id].progressPos = position; });
  }
  int ProgressGetPos(int id) const override {
    return Read([&](const WindowState& s) {
      auto it = s.controls.find(id);
      return it != s.controls.end() ? it->second.progressPos : 0;
    });
  }
  void ProgressSetStep(int id, int step) override {
    Write([&](WindowState& s) { s.controls[id].progressStep = step; });
  }

 private:
  SimUi& ui_;
  WindowHandle handle_;
};

SimUi::SimUi(kvd::sim::SimWindows& windows) : windows_(windows) {}

SimUi::~SimUi() = default;

WindowHandle SimUi::Make(CDialog& dialog, WindowHandle owner, bool modal) {
  {
    std::lock_guard lock(mutex_);
    if (failingResources_.count(dialog.Resource()) != 0) return 0;
  }
  // The window's own handle is known once CreateWindow has returned; its first message comes
  // after that.
  auto self = std::make_shared<WindowHandle>(0);
  const WindowHandle handle = windows_.CreateWindow(
      [this, self](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        return Handle(*self, message, wParam, lParam);
      });
  *self = handle;
  {
    std::lock_guard lock(mutex_);
    WindowState state;
    state.resource = dialog.Resource();
    state.owner = owner;
    state.visible = CreatedVisible(dialog.Resource()) || modal;
    state.modal = modal;
    for (const auto& [key, rect] : controlRects_) {
      if (key.first == dialog.Resource()) state.controls[key.second].rect = rect;
    }
    states_[handle] = state;
    dialogs_[handle] = &dialog;
    views_[handle] = std::make_unique<View>(*this, handle);
    dialog.Attach(views_[handle].get(), modal);
  }
  return handle;
}

void SimUi::Unmake(CDialog& dialog) {
  const WindowHandle handle = dialog.GetSafeHwnd();
  if (handle == 0) return;
  windows_.DestroyWindow(handle);
  std::unique_ptr<View> view;
  {
    std::lock_guard lock(mutex_);
    dialog.Detach();
    dialogs_.erase(handle);
    states_.erase(handle);
    ended_.erase(handle);
    auto it = views_.find(handle);
    if (it != views_.end()) {
      view = std::move(it->second);
      views_.erase(it);
    }
  }
  changed_.notify_all();
}

std::intptr_t SimUi::Handle(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
  CDialog* dialog = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = dialogs_.find(window);
    if (it != dialogs_.end()) dialog = it->second;
  }
  if (dialog == nullptr) return 0;
  ++depth_;
  std::intptr_t result = 0;
  try {
    bool handled = true;
    if (message == kSimNotify) {
      // wParam: the id; lParam: the code in its low 32 bits, the detail in its high ones.
      const auto packed = static_cast<std::uint64_t>(lParam);
      std::intptr_t answer = 0;
      const bool notified = dialog->OnNotify(static_cast<int>(wParam),
                                             static_cast<int>(static_cast<std::int32_t>(packed)),
                                             static_cast<std::uint32_t>(packed >> 32), &answer);
      result = notified ? answer : 0;
    } else if (message == kSimNcHitTest) {
      result = dialog->OnNcHitTest(static_cast<int>(lParam));
    } else if (message == kSimNcLButtonDown) {
      dialog->OnNcLButtonDown();
    } else {
      result = dialog->Dispatch(message, wParam, lParam, &handled);
      // The window system's own answer to the Close command of the system menu.
      if (!handled && message == wm::SysCommand && (wParam & 0xFFF0) == ScClose)
        windows_.SendMessage(window, wm::Close, 0, 0);
    }
  } catch (const std::exception&) {
    std::lock_guard lock(mutex_);
    ++exceptions_;
  }
  // A modal run returns only once the UI thread is back in its loop, as DialogBoxParam does:
  // the handlers still on the stack (a page's click that closed the host) use their objects
  // until then. Read here, on the thread that ends dialogs; the run's waiter reads the copy.
  if (--depth_ == 0) {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, modal] : modalRuns_) {
      if (modal->Ended()) ended_.insert(handle);
    }
  }
  changed_.notify_all();
  return result;
}

int SimUi::DoModal(CDialog& dialog, WindowHandle owner) {
  const WindowHandle handle = Make(dialog, owner, true);
  if (handle == 0) return -1;
  if (!windows_.IsUiThread()) {
    std::lock_guard lock(mutex_);
    modalRuns_[handle] = &dialog;
  }
  windows_.SendMessage(handle, wm::InitDialog, 0, 0);
  MarkInitialised(handle);
  if (windows_.IsUiThread()) {
    std::function<int(CDialog&)> responder;
    {
      std::lock_guard lock(mutex_);
      responder = responder_;
    }
    if (!dialog.Ended()) {
      if (responder) {
        const int result = responder(dialog);
        if (!dialog.Ended()) dialog.EndDialog(result);
      } else {
        dialog.EndDialog(IdOk);
      }
    }
  } else {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_.count(handle) != 0; });
    modalRuns_.erase(handle);
  }
  {
    std::lock_guard lock(mutex_);
    modals_.push_back(states_.at(handle));
  }
  Unmake(dialog);
  return dialog.Result();
}

bool SimUi::CreateModeless(CDialog& dialog, WindowHandle owner) {
  const WindowHandle handle = Make(dialog, owner, false);
  if (handle == 0) return false;
  windows_.SendMessage(handle, wm::InitDialog, 0, 0);
  MarkInitialised(handle);
  return true;
}

void SimUi::MarkInitialised(WindowHandle handle) {
  {
    std::lock_guard lock(mutex_);
    auto it = states_.find(handle);
    if (it != states_.end()) it->second.initialised = true;
  }
  changed_.notify_all();
}

void SimUi::DestroyWindow(CDialog& dialog) { Unmake(dialog); }

IconHandle SimUi::LoadIcon(int id) {
  return static_cast<IconHandle>(0x7000) + static_cast<IconHandle>(id);
}

MenuHandle SimUi::GetSystemMenu(WindowHandle window) {
  std::lock_guard lock(mutex_);
  auto& menu = systemMenus_[window];
  if (menu == 0) {
    menu = nextMenu_++;
    menus_[menu] = {{MfString, ScClose, L"Close"}};
  }
  return menu;
}

bool SimUi::AppendMenu(MenuHandle menu, std::uint32_t flags, std::uintptr_t id,
                       const std::wstring& text) {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(menu);
  if (it == menus_.end()) return false;
  it->second.push_back({flags, id, text});
  return true;
}

int SimUi::EnableMenuItem(MenuHandle menu, std::uint32_t item, std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (menus_.count(menu) == 0) return -1;
  auto& current = menuFlags_[{menu, item}];
  const int previous = static_cast<int>(current);
  current = flags;
  return previous;
}

bool SimUi::TrackResourceMenu(int resource, int x, int y, WindowHandle owner) {
  std::lock_guard lock(mutex_);
  popups_.push_back({resource, x, y, owner});
  return true;
}

Rect SimUi::GetWindowRect(WindowHandle window) {
  static_cast<void>(window);
  return kHostRect;
}

int SimUi::GetSystemMetrics(int index) {
  switch (index) {
    case SmCxDlgFrame:
    case SmCyDlgFrame:
      return kDlgFrame;
    case SmCyCaption:
      return kCaption;
    default:
      return 0;
  }
}

short SimUi::GetKeyState(int virtualKey) {
  std::lock_guard lock(mutex_);
  // The high bit, as GetKeyState reports a key that is down.
  return keysDown_.count(virtualKey) != 0 ? static_cast<short>(-128) : static_cast<short>(0);
}

void SimUi::ShowWaitCursor() {
  std::lock_guard lock(mutex_);
  ++waitCursor_;
}

std::uintptr_t SimUi::LoadPicture(int id) {
  std::lock_guard lock(mutex_);
  if (failingPictures_.count(id) != 0) return 0;
  const std::uintptr_t picture = nextPicture_++;
  pictures_.insert(picture);
  return picture;
}

void SimUi::DeletePicture(std::uintptr_t picture) {
  std::lock_guard lock(mutex_);
  pictures_.erase(picture);
}

ImageListHandle SimUi::CreateImageList(int width, int height) {
  static_cast<void>(width);
  static_cast<void>(height);
  std::lock_guard lock(mutex_);
  const ImageListHandle images = nextImageList_++;
  imageLists_[images] = 0;
  return images;
}

int SimUi::ImageListAddPicture(ImageListHandle images, std::uintptr_t picture) {
  std::lock_guard lock(mutex_);
  auto it = imageLists_.find(images);
  if (it == imageLists_.end() || pictures_.count(picture) == 0) return -1;
  return it->second++;
}

int SimUi::ImageListAddBitmap(ImageListHandle images, int resource) {
  std::lock_guard lock(mutex_);
  auto it = imageLists_.find(images);
  if (it == imageLists_.end() || failingPictures_.count(resource) != 0) return -1;
  return it->second++;
}

void SimUi::DestroyImageList(ImageListHandle images) {
  std::lock_guard lock(mutex_);
  imageLists_.erase(images);
}

int SimUi::ImageCount(ImageListHandle images) const {
  std::lock_guard lock(mutex_);
  auto it = imageLists_.find(images);
  return it != imageLists_.end() ? it->second : -1;
}

void SimUi::RemoveTaskbarButton(WindowHandle window) {
  std::lock_guard lock(mutex_);
  withoutTaskbarButton_.push_back(window);
}

std::vector<WindowHandle> SimUi::WithoutTaskbarButton() const {
  std::lock_guard lock(mutex_);
  return withoutTaskbarButton_;
}

void SimUi::BeginWaitCursor() {
  std::lock_guard lock(mutex_);
  ++waitDepth_;
}

void SimUi::EndWaitCursor() {
  std::lock_guard lock(mutex_);
  --waitDepth_;
}

int SimUi::WaitCursorDepth() const {
  std::lock_guard lock(mutex_);
  return waitDepth_;
}

void SimUi::SetControlRect(int resource, int id, Rect rect) {
  std::lock_guard lock(mutex_);
  controlRects_[{resource, id}] = rect;
}

void SimUi::SetKeyDown(int virtualKey, bool down) {
  std::lock_guard lock(mutex_);
  if (down) {
    keysDown_.insert(virtualKey);
  } else {
    keysDown_.erase(virtualKey);
  }
}

void SimUi::SetPictureFails(int id) {
  std::lock_guard lock(mutex_);
  failingPictures_.insert(id);
}

void SimUi::SetResourceFails(int id) {
  std::lock_guard lock(mutex_);
  failingResources_.insert(id);
}

void SimUi::SetModalResponder(std::function<int(CDialog&)> responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void SimUi::Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
  windows_.PostMessage(window, message, wParam, lParam);
  windows_.RunUntilIdle();
}

std::intptr_t SimUi::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
  const std::intptr_t result = windows_.SendMessage(window, message, wParam, lParam);
  windows_.RunUntilIdle();
  return result;
}

void SimUi::Call(const std::function<void()>& work) {
  WindowHandle caller = 0;
  {
    std::lock_guard lock(mutex_);
    caller = caller_;
  }
  if (caller == 0) {
    caller = windows_.CreateWindow([](std::uint32_t, std::uintptr_t, std::intptr_t lParam) {
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return std::intptr_t{0};
    });
    std::lock_guard lock(mutex_);
    caller_ = caller;
  }
  windows_.SendMessage(caller, wm::User, 0, reinterpret_cast<std::intptr_t>(&work));
  windows_.RunUntilIdle();
}

void SimUi::Click(WindowHandle window, int id) {
  // A disabled button cannot be clicked.
  {
    std::lock_guard lock(mutex_);
    auto it = states_.find(window);
    if (it == states_.end()) return;
    auto control = it->second.controls.find(id);
    if (control != it->second.controls.end() && !control->second.enabled) return;
  }
  Post(window, wm::Command, static_cast<std::uintptr_t>(id) | (BnClicked << 16), 0);
}

std::intptr_t SimUi::Notify(WindowHandle window, int id, int code, std::uint32_t detail) {
  const std::uint64_t packed =
      (static_cast<std::uint64_t>(detail) << 32) | static_cast<std::uint32_t>(code);
  return Send(window, kSimNotify, static_cast<std::uintptr_t>(id),
              static_cast<std::intptr_t>(packed));
}

void SimUi::SelectRow(WindowHandle window, int list, int row) {
  {
    std::lock_guard lock(mutex_);
    auto it = states_.find(window);
    if (it == states_.end()) return;
    auto& state = it->second.lists[list];
    state.selectionMark = row >= 0 && static_cast<std::size_t>(row) < state.rows.size() ? row : -1;
  }
  Notify(window, list, LvnItemChanged);
}

void SimUi::PressEscape(WindowHandle window) {
  Post(window, wm::Command, static_cast<std::uintptr_t>(IdCancel), 0);
}

int SimUi::ClickCaption(WindowHandle window, int hit) {
  const auto answer = static_cast<int>(Send(window, kSimNcHitTest, 0, hit));
  Send(window, kSimNcLButtonDown, 0, 0);
  return answer;
}

bool SimUi::Exists(WindowHandle window) const {
  std::lock_guard lock(mutex_);
  return states_.count(window) != 0;
}

SimUi::WindowState SimUi::State(WindowHandle window) const {
  std::lock_guard lock(mutex_);
  auto it = states_.find(window);
  return it != states_.end() ? it->second : WindowState{};
}

std::vector<WindowHandle> SimUi::WindowsOf(int resource) const {
  std::lock_guard lock(mutex_);
  std::vector<WindowHandle> found;
  for (const auto& [handle, state] : states_) {
    if (state.resource == resource) found.push_back(handle);
  }
  return found;
}

std::vector<SimUi::MenuItem> SimUi::MenuItems(MenuHandle menu) const {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(menu);
  return it != menus_.end() ? it->second : std::vector<MenuItem>{};
}

std::uint32_t SimUi::MenuItemFlags(MenuHandle menu, std::uint32_t item) const {
  std::lock_guard lock(mutex_);
  auto it = menuFlags_.find({menu, item});
  return it != menuFlags_.end() ? it->second : MfEnabled;
}

std::vector<SimUi::Popup> SimUi::Popups() const {
  std::lock_guard lock(mutex_);
  return popups_;
}

std::vector<SimUi::WindowState> SimUi::Modals() const {
  std::lock_guard lock(mutex_);
  return modals_;
}

int SimUi::WaitCursorShown() const {
  std::lock_guard lock(mutex_);
  return waitCursor_;
}

int SimUi::LivePictures() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(pictures_.size());
}

int SimUi::HandlerExceptions() const {
  std::lock_guard lock(mutex_);
  return exceptions_;
}

}  // namespace kvd::ui::sim
