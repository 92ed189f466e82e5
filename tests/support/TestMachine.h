// tests/support: what every test tier shares: the machine a suite runs against and its factories.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/api/Platform.h"

namespace kvd::test {

// A machine that the port contract suites and the trace-log suites run against: the simulated
// machine natively, the real Win32 adapters under Wine. Each instance is fresh: its scratch
// folder and scratch registry key exist and are empty, and are removed when it is destroyed.
class TestMachine {
 public:
  virtual ~TestMachine() = default;

  // The ports. Under Wine they are the real adapters, except the debug output, which on every
  // target is a recorder (TakeDebugOutput) so that suites can read what reached it.
  virtual platform::Platform& Ports() = 0;

  // A writable folder in Windows form without a trailing backslash, e.g. "C:\\...\\kvdtest-1".
  virtual std::wstring ScratchFolder() = 0;

  // A key path under HKEY_CURRENT_USER that exists and is empty, e.g. "Software\\KvdTest\\1".
  virtual std::wstring ScratchKey() = 0;

  // Every text the debug output received since the last call, in order.
  virtual std::vector<std::wstring> TakeDebugOutput() = 0;

  // True for the simulated machine, whose clock only advances and which allows fault injection.
  virtual bool IsSimulated() const = 0;

  // Window messages. The machine has one UI thread of its own, started with the first test
  // window, that owns every test window and runs a message loop with user32's order: sent
  // messages, then posted ones. A window's handler gets its messages from kWmUser on, on the UI
  // thread; the windows left are destroyed with the machine.
  using MessageHandler = std::function<std::intptr_t(std::uint32_t message, std::uintptr_t wParam,
                                                     std::intptr_t lParam)>;
  // 0 when the window cannot be made. Callable from any thread, handlers included.
  virtual platform::WindowHandle CreateTestWindow(MessageHandler handler) = 0;
  // false for a window that is not (or no longer) a test window of this machine.
  virtual bool DestroyTestWindow(platform::WindowHandle window) = 0;
  // From a thread other than the UI thread: returns once the UI thread has handled every message
  // queued for it, including those its handlers queued meanwhile. Throws std::logic_error on
  // the UI thread, where it could never return.
  virtual void RunUntilIdle() = 0;
  virtual bool IsUiThread() = 0;
  // On the UI thread, as InSendMessage: the handler runs for a message that another thread sent
  // and waits for. A send made from a handler is a plain call, so inside it this still answers
  // for the message being handled around it.
  virtual bool InSendMessage() = 0;
  // On the UI thread (the only one that can see its queue on Windows): a message that another
  // thread sent waits in the queue.
  virtual bool SendPending() = 0;
};

struct TargetFactory {
  std::string name;  // "Sim" or "Win32": the suffix of the instantiated test names
  std::function<std::unique_ptr<TestMachine>()> make;
};

// Test names and failure messages show the target's name, not its bytes.
inline void PrintTo(const TargetFactory& factory, std::ostream* out) { *out << factory.name; }

// The targets of this test executable: defined once per tier (SimTargets.cpp natively,
// Win32Targets.cpp under Wine).
const std::vector<TargetFactory>& AllTargets();

// For INSTANTIATE_TEST_SUITE_P(..., ::testing::ValuesIn(kvd::test::AllTargets()), TargetName).
struct TargetName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace kvd::test
