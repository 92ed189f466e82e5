// Window messages through the real adapter: a message-only window on a UI thread with a real
// message loop shows the same send/post sequencing that the simulated UI thread has
// (tests/platform/SimWindowsTest.cpp).
#include "platform/win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {
namespace {

constexpr UINT kGate = WM_USER + 1;
constexpr UINT kWork = WM_USER + 2;
constexpr UINT kInner = WM_USER + 3;
constexpr UINT kLast = WM_USER + 4;
constexpr wchar_t kClassName[] = L"KvdTestMessageWindow";
// The number the port's doc and the simulated machine give for a window that does not exist.
static_assert(ERROR_INVALID_WINDOW_HANDLE == 1400);

// A one-way door between threads: Wait returns once Open was called, before or after.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

struct Received {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  bool fromOtherThread = false;  // InSendMessage: sent by another thread, not posted
  bool operator==(const Received& o) const {
    return message == o.message && wParam == o.wParam && lParam == o.lParam &&
           fromOtherThread == o.fromOtherThread;
  }
};

void PrintTo(const Received& r, std::ostream* out) {
  *out << "{0x" << std::hex << r.message << std::dec << ", " << r.wParam << ", " << r.lParam
       << (r.fromOtherThread ? ", sent}" : ", posted or own}");
}

// A thread that owns one message-only window and runs GetMessage/DispatchMessage until the
// window is destroyed. Messages from WM_USER on are recorded and handed to the handler, on the
// UI thread.
class UiThread {
 public:
  using Handler = std::function<LRESULT(UINT, WPARAM, LPARAM)>;

  explicit UiThread(Handler handler) : handler_(std::move(handler)) {
    std::promise<HWND> made;
    std::future<HWND> window = made.get_future();
    thread_ = std::thread([this, &made] { Run(made); });
    window_ = window.get();
  }
  ~UiThread() { Destroy(); }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  WindowHandle Window() const { return reinterpret_cast<WindowHandle>(window_); }
  DWORD ThreadId() const { return threadId_; }

  // Destroys the window on its own thread (WM_CLOSE), which ends the loop.
  void Destroy() {
    if (!thread_.joinable()) return;
    if (window_ != nullptr) ::SendMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }

  std::vector<Received> Delivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<UiThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      self = static_cast<UiThread*>(create->lpCreateParams);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    if (self != nullptr && message >= WM_USER) {
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->delivered_.push_back(Received{message, wParam, lParam, ::InSendMessage() != FALSE});
      }
      return self->handler_(message, wParam, lParam);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  void Run(std::promise<HWND>& made) {
    threadId_ = ::GetCurrentThreadId();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &UiThread::Procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    // Registered by the first UI thread of the run; later ones find it.
    ::RegisterClassExW(&windowClass);
    HWND window = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleW(nullptr), this);
    made.set_value(window);
    if (window == nullptr) return;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  }

  Handler handler_;
  std::thread thread_;
  HWND window_ = nullptr;
  DWORD threadId_ = 0;
  std::mutex mutex_;
  std::vector<Received> delivered_;
};

class Win32MessagesTest : public ::testing::Test {
 protected:
  Win32Messages messages_;
};

TEST_F(Win32MessagesTest, CrossThreadSendBlocksUntilHandledAndAnswersTheResult) {
  Gate entered;
  Gate release;
  std::atomic<DWORD> handledOn{0};
  UiThread ui([&](UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message != kWork) return 0;
    handledOn = ::GetCurrentThreadId();
    entered.Open();
    release.Wait();
    return static_cast<LRESULT>(w) * 2 + l;
  });
  ASSERT_NE(ui.Window(), 0u);
  std::atomic<bool> returned{false};
  std::intptr_t result = 0;
  std::thread sender([&] {
    result = messages_.SendMessage(ui.Window(), kWork, 20, 2);
    returned = true;
  });
  entered.Wait();
  EXPECT_FALSE(returned.load());
  release.Open();
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(handledOn.load(), ui.ThreadId());
  EXPECT_EQ(ui.Delivered(), (std::vector<Received>{{kWork, 20, 2, true}}));
}

TEST_F(Win32MessagesTest, SendFromInsideAHandlerRunsAtOnce) {
  std::vector<std::string> steps;  // UI thread only, read after the send returned
  WindowHandle window = 0;
  UiThread ui([&](UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == kWork) {
      steps.push_back("outer entered");
      const std::intptr_t inner = messages_.SendMessage(window, kInner, 5, 0);
      steps.push_back("outer got " + std::to_string(inner));
      return inner + 1;
    }
    if (message == kInner) {
      steps.push_back(::GetCurrentThreadId() == ui.ThreadId() ? "inner on UI thread"
                                                              : "inner elsewhere");
      return 41;
    }
    return 0;
  });
  window = ui.Window();
  ASSERT_NE(window, 0u);
  EXPECT_EQ(messages_.SendMessage(window, kWork, 0, 0), 42);
  EXPECT_EQ(steps,
            (std::vector<std::string>{"outer entered", "inner on UI thread", "outer got 41"}));
  // InSendMessage cannot tell the inner call apart: inside it, the thread is still handling the
  // outer message another thread sent. The steps above show that it was a direct call.
  const std::vector<Received> delivered = ui.Delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0], (Received{kWork, 0, 0, true}));
  EXPECT_EQ(delivered[1].message, kInner);
  EXPECT_EQ(delivered[1].wParam, 5u);
}

// While the UI thread is busy, two posts and then a send queue up: the send is handled first,
// then the posts in their order, then a post made while handling the send.
TEST_F(Win32MessagesTest, PostsArriveInOrderAfterSendsAlreadyPending) {
  Gate entered;
  Gate release;
  Gate last;
  WindowHandle window = 0;
  UiThread ui([&](UINT message, WPARAM w, LPARAM) -> LRESULT {
    switch (message) {
      case kGate:
        entered.Open();
        release.Wait();
        // Only the UI thread can see the send arrive in its queue; a bound keeps a broken run
        // from hanging.
        for (int i = 0;
             i < 10000 && (LOWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) == 0; ++i) {
          ::Sleep(1);
        }
        return 0;
      case kInner:
        messages_.PostMessage(window, kWork, 3, 0);
        return static_cast<LRESULT>(w);
      case kLast:
        last.Open();
        return 0;
      default:
        return static_cast<LRESULT>(w);
    }
  });
  window = ui.Window();
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(messages_.PostMessage(window, kGate, 0, 0));
  entered.Wait();
  ASSERT_TRUE(messages_.PostMessage(window, kWork, 1, 0));
  ASSERT_TRUE(messages_.PostMessage(window, kWork, 2, 0));
  std::intptr_t answer = 0;
  std::thread sender([&] { answer = messages_.SendMessage(window, kInner, 9, 0); });
  release.Open();
  sender.join();
  ASSERT_TRUE(messages_.PostMessage(window, kLast, 0, 0));
  last.Wait();
  EXPECT_EQ(answer, 9);
  EXPECT_EQ(ui.Delivered(), (std::vector<Received>{{kGate, 0, 0, false},
                                                   {kInner, 9, 0, true},
                                                   {kWork, 1, 0, false},
                                                   {kWork, 2, 0, false},
                                                   {kWork, 3, 0, false},
                                                   {kLast, 0, 0, false}}));
}

TEST_F(Win32MessagesTest, ADestroyedWindowAnswersZeroAndInvalidWindowHandle) {
  UiThread ui([](UINT, WPARAM, LPARAM) -> LRESULT { return 7; });
  const WindowHandle window = ui.Window();
  ASSERT_NE(window, 0u);
  EXPECT_EQ(messages_.SendMessage(window, kWork, 0, 0), 7);
  ui.Destroy();
  ::SetLastError(0);
  EXPECT_EQ(messages_.SendMessage(window, kWork, 0, 0), 0);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  ::SetLastError(0);
  EXPECT_FALSE(messages_.PostMessage(window, kWork, 0, 0));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(ui.Delivered().size(), 1u);
}

// The port reaches the same adapter through the platform, as the engine holds it.
TEST_F(Win32MessagesTest, ThePlatformHoldsTheMessageAdapter) {
  Win32Platform platform;
  UiThread ui([](UINT, WPARAM w, LPARAM) -> LRESULT { return static_cast<LRESULT>(w) + 1; });
  ASSERT_NE(ui.Window(), 0u);
  EXPECT_EQ(platform.Ports().messages.SendMessage(ui.Window(), kWork, 4, 0), 5);
}

}  // namespace
}  // namespace kvd::platform::win32
