// tests/wine: the Wine tier: the shared suites against the real Win32 adapters, and the facts
// only the real machine shows.
#include "platform/win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/api/Text.h"
#include "platform/win32/Win32Platform.h"
#include "tests/support/TestMachine.h"

namespace kvd::test {
namespace {

// Setting up a scratch area fails only when the prefix is broken; the exception names the call
// and its code, and the suite's fixture reports it.
[[noreturn]] void ThrowFailed(const char* call, std::uint32_t code) {
  throw std::runtime_error(std::string(call) + " failed with error " + std::to_string(code));
}

class DebugRecorder final : public platform::IDebugOutput {
 public:
  void OutputDebugString(const wchar_t* text) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    texts_.emplace_back(text ? text : L"");
  }

  std::vector<std::wstring> Take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(texts_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
};

// Removes a folder and everything below it; read-only files too, since suites make them.
bool RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
  }
  bool removed = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      removed = RemoveTree(path) && removed;
    } else {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      removed = ::DeleteFileW(path.c_str()) != FALSE && removed;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return ::RemoveDirectoryW(folder.c_str()) != FALSE && removed;
}

std::wstring TempFolder() {
  wchar_t path[MAX_PATH + 1];
  const DWORD chars = ::GetTempPathW(static_cast<DWORD>(std::size(path)), path);
  if (chars == 0 || chars >= std::size(path)) ThrowFailed("GetTempPathW", ::GetLastError());
  // %TEMP% may be in 8.3 form on Windows; the suites compare against long names.
  wchar_t longPath[MAX_PATH + 1];
  const DWORD longChars =
      ::GetLongPathNameW(path, longPath, static_cast<DWORD>(std::size(longPath)));
  std::wstring folder = (longChars == 0 || longChars >= std::size(longPath))
                            ? std::wstring(path, chars)
                            : std::wstring(longPath, longChars);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

constexpr wchar_t kKeyParent[] = L"Software\\KvdTest";

// The number the port's doc and the simulated machine give for a window that does not exist.
static_assert(platform::err::InvalidWindowHandle == ERROR_INVALID_WINDOW_HANDLE);

// The UI thread of a Win32Machine: it runs GetMessage/DispatchMessage for message-only windows
// it owns. A window belongs to the thread that made it, so other threads have this one make and
// destroy the test windows by sending to its control window, which is one of them.
class UiThread {
 public:
  using Handler = TestMachine::MessageHandler;

  UiThread() {
    std::promise<DWORD> started;
    std::future<DWORD> error = started.get_future();
    thread_ = std::thread([this, &started] { Run(started); });
    if (const DWORD code = error.get(); code != 0) {
      thread_.join();
      ThrowFailed("CreateWindowExW", code);
    }
  }

  ~UiThread() {
    ::SendMessageW(control_, kQuit, 0, 0);
    thread_.join();
  }

  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  platform::WindowHandle Create(Handler handler) {
    const auto shared = std::make_shared<const Handler>(std::move(handler));
    return static_cast<platform::WindowHandle>(
        ::SendMessageW(control_, kCreate, 0, reinterpret_cast<LPARAM>(&shared)));
  }

  bool Destroy(platform::WindowHandle window) {
    return ::SendMessageW(control_, kDestroy, static_cast<WPARAM>(window), 0) != 0;
  }

  void RunUntilIdle() {
    if (IsCurrent()) {
      throw std::logic_error("RunUntilIdle: called on the UI thread, which would wait for itself");
    }
    std::unique_lock lock(mutex_);
    const WPARAM ticket = ++drainsAsked_;
    // A send would not do: sent messages overtake the posted ones, so its answer says nothing
    // about the posts before it. A posted marker comes after them.
    if (!::PostMessageW(control_, kDrain, ticket, 0)) ThrowFailed("PostMessageW", ::GetLastError());
    drained_.wait(lock, [&] { return drainsDone_ >= ticket; });
  }

  bool IsCurrent() const { return ::GetCurrentThreadId() == threadId_; }

 private:
  static constexpr UINT kCreate = WM_USER;
  static constexpr UINT kDestroy = WM_USER + 1;
  static constexpr UINT kDrain = WM_USER + 2;
  static constexpr UINT kQuit = WM_USER + 3;
  static constexpr wchar_t kClassName[] = L"KvdTestMessageWindow";

  struct Creation {
    UiThread* self;
    std::shared_ptr<const Handler> handler;
  };

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<UiThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      const auto* creation = static_cast<const Creation*>(create->lpCreateParams);
      self = creation->self;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->handlers_[window] = creation->handler;
    }
    if (self != nullptr && message == WM_NCDESTROY) self->handlers_.erase(window);
    // The program's own messages and the timers its windows set.
    if (self != nullptr && (message >= WM_USER || message == WM_TIMER)) {
      const auto found = self->handlers_.find(window);
      if (found != self->handlers_.end()) {
        // A copy: the handler may destroy its own window.
        const std::shared_ptr<const Handler> handler = found->second;
        return static_cast<LRESULT>((*handler)(message, static_cast<std::uintptr_t>(wParam),
                                               static_cast<std::intptr_t>(lParam)));
      }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  HWND Make(std::shared_ptr<const Handler> handler) {
    Creation creation{this, std::move(handler)};
    return ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             ::GetModuleHandleW(nullptr), &creation);
  }

  // The control window's messages, on the UI thread.
  std::intptr_t Control(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
      case kCreate:
        return reinterpret_cast<std::intptr_t>(
            Make(*reinterpret_cast<const std::shared_ptr<const Handler>*>(lParam)));
      case kDestroy: {
        const HWND target = reinterpret_cast<HWND>(wParam);
        return target != control_ && handlers_.count(target) != 0 &&
               ::DestroyWindow(target) != FALSE;
      }
      case kDrain:
        // Posted messages wait in one queue per thread and come in order, so everything posted
        // before the marker has been handled. Handlers may have queued more since, or a send
        // may wait: then the marker goes round again.
        if (HIWORD(::GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER)) != 0) {
          ::PostMessageW(control_, kDrain, static_cast<WPARAM>(wParam), 0);
          return 0;
        }
        {
          const std::lock_guard<std::mutex> lock(mutex_);
          if (wParam > drainsDone_) drainsDone_ = static_cast<WPARAM>(wParam);
        }
        drained_.notify_all();
        return 0;
      case kQuit: {
        std::vector<HWND> windows;
        for (const auto& entry : handlers_) {
          if (entry.first != control_) windows.push_back(entry.first);
        }
        for (const HWND window : windows) ::DestroyWindow(window);
        ::DestroyWindow(control_);
        ::PostQuitMessage(0);
        return 0;
      }
      default:
        return 0;
    }
  }

  void Run(std::promise<DWORD>& started) {
    threadId_ = ::GetCurrentThreadId();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &UiThread::Procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    // Registered by the first UI thread of the run; later ones find it.
    ::RegisterClassExW(&windowClass);
    control_ = Make(std::make_shared<const Handler>(
        [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
          return Control(message, wParam, lParam);
        }));
    started.set_value(control_ == nullptr ? ::GetLastError() : 0);
    if (control_ == nullptr) return;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  }

  std::thread thread_;
  DWORD threadId_ = 0;  // written by the UI thread before the constructor returns
  HWND control_ = nullptr;
  std::map<HWND, std::shared_ptr<const Handler>> handlers_;  // UI thread only
  std::mutex mutex_;
  std::condition_variable drained_;
  WPARAM drainsAsked_ = 0;  // guarded by mutex_
  WPARAM drainsDone_ = 0;   // guarded by mutex_
};

class Win32Machine final : public TestMachine {
 public:
  Win32Machine() : ports_(platform::Overridden(real_.Ports(), {.debug = &debug_})) {
    static std::atomic<unsigned> made{0};
    const std::wstring name =
        std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++made);

    folder_ = TempFolder() + L"\\kvdtest-" + name;
    // A run that died with the same process id may have left its area behind.
    RemoveTree(folder_);
    if (!::CreateDirectoryW(folder_.c_str(), nullptr)) {
      ThrowFailed("CreateDirectoryW", ::GetLastError());
    }

    key_ = std::wstring(kKeyParent) + L"\\" + name;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    HKEY key = nullptr;
    const LSTATUS status =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_READ, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) ThrowFailed("RegCreateKeyExW", static_cast<std::uint32_t>(status));
    ::RegCloseKey(key);
  }

  ~Win32Machine() override {
    // First: handlers may use the ports and the scratch area.
    std::unique_ptr<UiThread> ui;
    {
      const std::lock_guard<std::mutex> lock(uiMutex_);
      ui = std::move(ui_);
    }
    ui.reset();
    // A handle a suite left open keeps its file, and shows here.
    EXPECT_TRUE(RemoveTree(folder_))
        << "scratch folder left behind: " << platform::NarrowUtf8(folder_);
    // A suite may have deleted the scratch key itself.
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        << "scratch key left behind: " << platform::NarrowUtf8(key_) << ", error " << status;
    // Only succeeds once no other machine of this run holds a key under it.
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kKeyParent);
  }

  Win32Machine(const Win32Machine&) = delete;
  Win32Machine& operator=(const Win32Machine&) = delete;

  platform::Platform& Ports() override { return ports_; }
  std::wstring ScratchFolder() override { return folder_; }
  std::wstring ScratchKey() override { return key_; }
  std::vector<std::wstring> TakeDebugOutput() override { return debug_.Take(); }
  bool IsSimulated() const override { return false; }

  platform::WindowHandle CreateTestWindow(MessageHandler handler) override {
    return Ui().Create(std::move(handler));
  }
  bool DestroyTestWindow(platform::WindowHandle window) override {
    UiThread* ui = Started();
    return ui != nullptr && ui->Destroy(window);
  }
  void RunUntilIdle() override {
    if (UiThread* ui = Started()) ui->RunUntilIdle();
  }
  bool IsUiThread() override {
    UiThread* ui = Started();
    return ui != nullptr && ui->IsCurrent();
  }
  bool InSendMessage() override { return ::InSendMessage() != FALSE; }
  bool SendPending() override {
    return (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  }

 private:
  // Started with the first test window: most suites make none.
  UiThread& Ui() {
    const std::lock_guard<std::mutex> lock(uiMutex_);
    if (!ui_) ui_ = std::make_unique<UiThread>();
    return *ui_;
  }
  UiThread* Started() {
    const std::lock_guard<std::mutex> lock(uiMutex_);
    return ui_.get();
  }

  platform::win32::Win32Platform real_;
  DebugRecorder debug_;
  platform::Platform ports_;
  std::wstring folder_;
  std::wstring key_;
  std::mutex uiMutex_;
  std::unique_ptr<UiThread> ui_;  // guarded by uiMutex_
};

}  // namespace

const std::vector<TargetFactory>& AllTargets() {
  static const std::vector<TargetFactory> targets{
      {"Win32", [] { return std::unique_ptr<TestMachine>(std::make_unique<Win32Machine>()); }}};
  return targets;
}

}  // namespace kvd::test
