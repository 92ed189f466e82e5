#pragma once

#include <cstdint>

#include "platform/api/Types.h"

namespace kvd::platform {

using WindowHandle = std::uintptr_t;  // HWND; 0 is none

// Window messages between threads (user32): how the engine reports to the pages. On Windows the
// window's thread handles them in its message loop; in the simulated machine a "UI thread" runs a
// loop with the same semantics.
class IWindowMessages {
 public:
  virtual ~IWindowMessages() = default;

  // SendMessageW(window, message, wParam, lParam): handled before it returns. From another
  // thread the caller waits until the window's thread has handled it (sent messages are handled
  // before posted ones); from the window's own thread the handler runs at once. 0 for a window
  // that does not exist.
  virtual std::intptr_t SendMessage(WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) = 0;

  // PostMessageW(window, message, wParam, lParam): queued, handled in order after pending sends.
  // false for a window that does not exist (ERROR_INVALID_WINDOW_HANDLE 1400). Window 0 is the
  // calling thread's own queue on Windows; the simulated machine refuses it, and the program
  // never posts to it.
  virtual bool PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) = 0;

  // SetTimer(window, id, milliseconds, nullptr): WM_TIMER with wParam `id` every `milliseconds`
  // until KillTimer; an id already set is set anew. false for a window that does not exist.
  virtual bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) = 0;
  // KillTimer(window, id): false when no such timer is set.
  virtual bool KillTimer(WindowHandle window, std::uintptr_t id) = 0;
};

inline constexpr std::uint32_t kWmUser = 0x0400;

}  // namespace kvd::platform
