// The TWAIN session against Wine's source manager and our data source, for real: run by
// tests/e2e/twain_source.sh, which installs tools/fakes/TwainSource.cpp as twain_32\sane.ds in a
// fresh prefix. Skipped anywhere else (KVD_TWAIN_SOURCE unset).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "issues/TwainSession.h"
#include "platform/win32/Win32Platform.h"

namespace {

using namespace kvd::platform;

class OurTwainSource : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* flag = std::getenv("KVD_TWAIN_SOURCE");
    if (flag == nullptr || std::string(flag) != "1") {
      GTEST_SKIP() << "needs our data source installed as twain_32\\sane.ds (twain_source.sh)";
    }
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    folder_ = std::wstring(windows) + L"\\";
    // A message-only window: the suite runs without a display.
    window_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }
  void Behave(const wchar_t* ready, const wchar_t* transfer) {
    const std::wstring ini = folder_ + L"twain_32\\sane.ds.ini";
    ::WritePrivateProfileStringW(L"behaviour", L"ready", ready, ini.c_str());
    ::WritePrivateProfileStringW(L"behaviour", L"transfer", transfer, ini.c_str());
    ::DeleteFileW((folder_ + L"twain_32\\sane.ds.calls").c_str());
  }
  // The session up to the enabled source, then its message loop.
  CTwainSession::LoopEnd Scan(std::uint32_t limitMs) {
    CTwainSession session(real_.Ports().twain, real_.Ports().clock);
    EXPECT_EQ(session.InitializeTwain(folder_ + L"twain_32.dll"), 0);
    EXPECT_TRUE(session.OpenDsm(reinterpret_cast<WindowHandle>(window_)));
    const std::vector<TwIdentity> sources = session.Sources();
    auto ours = std::find_if(sources.begin(), sources.end(), [](const TwIdentity& source) {
      return source.productName == "Quvari Test TWAIN";
    });
    EXPECT_NE(ours, sources.end()) << sources.size() << " sources";
    if (ours == sources.end()) return CTwainSession::LoopEnd::Failed;
    EXPECT_EQ(ours->manufacturer, "Quvari");
    EXPECT_TRUE(session.OpenSource(*ours));
    EXPECT_TRUE(session.EnableSource());
    return session.RunMessageLoop(limitMs);
  }
  std::string Calls() {
    std::string text;
    if (FILE* calls = _wfopen((folder_ + L"twain_32\\sane.ds.calls").c_str(), L"rb")) {
      char buffer[4096];
      for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, calls)) > 0;) {
        text.append(buffer, read);
      }
      std::fclose(calls);
    }
    return text;
  }

  win32::Win32Platform real_;
  std::wstring folder_;
  HWND window_ = nullptr;
};

TEST_F(OurTwainSource, ANativeTransfer) {
  Behave(L"post", L"ok");
  EXPECT_EQ(Scan(10000), CTwainSession::LoopEnd::Transferred);
  const std::string calls = Calls();
  for (const char* triplet :
       {"DAT_IDENTITY MSG_OPENDS", "DAT_USERINTERFACE MSG_ENABLEDS", "DAT_EVENT MSG_PROCESSEVENT",
        "DAT_IMAGEINFO MSG_GET", "DAT_IMAGENATIVEXFER MSG_GET", "DAT_PENDINGXFERS MSG_ENDXFER",
        "DAT_USERINTERFACE MSG_DISABLEDS", "DAT_IDENTITY MSG_CLOSEDS"}) {
    EXPECT_NE(calls.find(triplet), std::string::npos) << triplet << " in\n" << calls;
  }
}

TEST_F(OurTwainSource, AFailedTransferAndASilentSource) {
  Behave(L"post", L"fail");
  EXPECT_EQ(Scan(10000), CTwainSession::LoopEnd::Failed);
  EXPECT_NE(Calls().find("DAT_PENDINGXFERS MSG_RESET"), std::string::npos) << Calls();
  Behave(L"never", L"ok");
  EXPECT_EQ(Scan(1500), CTwainSession::LoopEnd::TimedOut);
}

}  // namespace
