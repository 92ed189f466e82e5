#pragma once

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "tests/support/TestMachine.h"

namespace kvd::test {

// The native tier's TestMachine: a fresh simulated machine whose scratch folder is
// C:\Users\tester\AppData\Local\Temp\kvdtest-<n> and scratch key HKCU\Software\KvdTest\<n>, and
// whose executable has a version resource. Suites that need the sim itself reach it with
// dynamic_cast<SimTestMachine*>.
class SimTestMachine : public TestMachine {
 public:
  SimTestMachine();

  platform::Platform& Ports() override { return sim_.Ports(); }
  std::wstring ScratchFolder() override { return folder_; }
  std::wstring ScratchKey() override { return key_; }
  std::vector<std::wstring> TakeDebugOutput() override { return sim_.Debug().Take(); }
  bool IsSimulated() const override { return true; }
  platform::WindowHandle CreateTestWindow(MessageHandler handler) override;
  bool DestroyTestWindow(platform::WindowHandle window) override {
    return sim_.Messages().DestroyWindow(window);
  }
  void RunUntilIdle() override { sim_.Messages().RunUntilIdle(); }
  bool IsUiThread() override { return sim_.Messages().IsUiThread(); }
  bool InSendMessage() override;
  bool SendPending() override { return sim_.Messages().QueuedSends() != 0; }

  sim::SimMachine& Sim() { return sim_; }

 private:
  // What InSendMessage answers for each test-window handler running on the UI thread, innermost
  // last; touched by the UI thread only. Declared before sim_ so that it outlives the UI thread.
  std::vector<bool> inSend_;
  sim::SimMachine sim_;
  std::wstring folder_;
  std::wstring key_;
};

}  // namespace kvd::test
