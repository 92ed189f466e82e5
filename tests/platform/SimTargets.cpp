#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "tests/platform/SimTestMachine.h"

namespace kvd::test {

namespace {
std::atomic<unsigned> scratchNumber{0};
}  // namespace

SimTestMachine::SimTestMachine() {
  const std::wstring n = std::to_wstring(++scratchNumber);
  folder_ = L"C:\\Users\\tester\\AppData\\Local\\Temp\\kvdtest-" + n;
  key_ = L"Software\\KvdTest\\" + n;
  sim_.Files().PutFolder(folder_);
  sim_.Registry().PutKey(platform::kHkeyCurrentUser, key_);

  sim::VersionResource version;
  version.fileVersion = {1, 0, 0, 1};
  version.productVersion = {1, 0, 0, 0};
  version.translations.push_back({0x0409,
                                  1200,
                                  {{L"CompanyName", L"Quvari"},
                                   {L"FileDescription", L"Kavid scanner diagnosis"},
                                   {L"FileVersion", L"1.0.0.1"},
                                   {L"ProductName", L"Kavid"},
                                   {L"ProductVersion", L"1.0.0.0"}}});
  sim_.Process().PutVersionInfo(sim_.Process().ModulePath(), version);
}

const std::vector<TargetFactory>& AllTargets() {
  static const std::vector<TargetFactory> targets{
      {"Sim", [] { return std::unique_ptr<TestMachine>(std::make_unique<SimTestMachine>()); }}};
  return targets;
}

}  // namespace kvd::test
