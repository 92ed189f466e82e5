// The Wine tier's main: GoogleTest with a per-test watchdog. A test that hangs under Wine would
// otherwise hold the whole tier until ctest's limit and leave no word of which test it was; here
// the hung test is named on the error output and the run ends with a failure at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

constexpr DWORD kTestLimitMs = 120000;
constexpr DWORD kPollMs = 500;

std::atomic<DWORD> g_startedAt{0};
std::atomic<bool> g_running{false};
CRITICAL_SECTION g_nameLock;
std::string g_name;

class WatchdogListener : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo& info) override {
    EnterCriticalSection(&g_nameLock);
    g_name = std::string(info.test_suite_name()) + "." + info.name();
    LeaveCriticalSection(&g_nameLock);
    g_startedAt = GetTickCount();
    g_running = true;
  }
  void OnTestEnd(const testing::TestInfo&) override { g_running = false; }
};

DWORD WINAPI Watch(LPVOID) {
  for (;;) {
    Sleep(kPollMs);
    if (!g_running || GetTickCount() - g_startedAt < kTestLimitMs) continue;
    EnterCriticalSection(&g_nameLock);
    std::fprintf(stderr, "\nkvd watchdog: %s has run for %lu s; the run ends here\n",
                 g_name.c_str(), static_cast<unsigned long>(kTestLimitMs / 1000));
    LeaveCriticalSection(&g_nameLock);
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  InitializeCriticalSection(&g_nameLock);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
  HANDLE watcher = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
  if (watcher != nullptr) CloseHandle(watcher);
  return RUN_ALL_TESTS();
}
