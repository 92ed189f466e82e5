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

  sim::SimMachine& Sim() { return sim_; }

 private:
  sim::SimMachine sim_;
  std::wstring folder_;
  std::wstring key_;
};

}  // namespace kvd::test
