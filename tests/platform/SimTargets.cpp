#include <atomic>
#include <memory>
#include <string>
#include <utility>
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

platform::WindowHandle SimTestMachine::CreateTestWindow(MessageHandler handler) {
  return sim_.Messages().CreateWindow(
      [this, handler = std::move(handler)](std::uint32_t message, std::uintptr_t wParam,
                                           std::intptr_t lParam) -> std::intptr_t {
        // Test windows get what a Windows procedure passes on: the program's messages from
        // WM_USER on, and the timers they set.
        constexpr std::uint32_t kWmTimer = 0x0113;
        if (message < platform::kWmUser && message != kWmTimer) return 0;
        // The loop only ever enters a handler for another thread's send or for a posted message,
        // and has recorded which just before. A send from a handler is a plain call, during which
        // Windows' InSendMessage still describes the message handled around it.
        const bool sentByOther =
            inSend_.empty() ? sim_.Messages().Delivered().back().sent : inSend_.back();
        inSend_.push_back(sentByOther);
        struct Leave {
          std::vector<bool>& stack;
          ~Leave() { stack.pop_back(); }
        } leave{inSend_};
        return handler(message, wParam, lParam);
      });
}

bool SimTestMachine::InSendMessage() {
  return sim_.Messages().IsUiThread() && !inSend_.empty() && inSend_.back();
}

const std::vector<TargetFactory>& AllTargets() {
  static const std::vector<TargetFactory> targets{
      {"Sim", [] { return std::unique_ptr<TestMachine>(std::make_unique<SimTestMachine>()); }}};
  return targets;
}

}  // namespace kvd::test
