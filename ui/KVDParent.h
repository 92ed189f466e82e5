#pragma once

#include <cstdint>
#include <memory>

#include "ui/Dialog.h"

class CKavidApp;
class CKVDMainDlg;
class CKvdDiagnoseDlg;
class CKvdHelpDlg;

// The program's only top-level window: the modal host of the three pages (device selection,
// diagnosis, help), of which exactly one is visible. It switches pages on request (message
// 1033), and provides what they share: title, icon, the About item, the banner behind them,
// the refusal to close while work runs, and the tester's hidden menu.
class CKVDParent : public kvd::ui::CDialog {
 public:
  static constexpr std::uint32_t kPageRequest = kvd::ui::wm::User + 9;  // 1033
  static constexpr int kDevicePage = 2;
  static constexpr int kDiagnosisPage = 3;
  static constexpr int kHelpPage = 4;

  explicit CKVDParent(CKavidApp& app);
  ~CKVDParent() override;

  int CurrentPage() const { return m_nCurrentPage; }
  CKVDMainDlg* MainPage() const { return m_pMainDlg.get(); }
  CKvdDiagnoseDlg* DiagnosePage() const { return m_pDiagnoseDlg.get(); }
  CKvdHelpDlg* HelpPage() const { return m_pHelpDlg.get(); }

  kvd::ui::Background BackgroundKind() const override { return kvd::ui::Background::Banner; }
  int OnNcHitTest(int hit) override;
  void OnNcLButtonDown() override;

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;
  bool OnCommand(int id, int code) override;
  bool OnSysCommand(std::uint32_t command) override;
  std::intptr_t OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) override;
  bool OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::intptr_t* result) override;

 private:
  std::intptr_t OnPageRequest(std::uintptr_t wParam, std::intptr_t lParam);
  // Constructs nothing: creates the window of `page`, shows it and makes the host its parent.
  bool ShowPage(kvd::ui::CDialog& page);
  // Destroys the window of the page and the page object.
  template <class Page>
  void DestroyPage(std::unique_ptr<Page>& page);
  void OpenSimulationMenu();

  CKavidApp& m_app;
  kvd::ui::IconHandle m_hIcon = 0;
  std::unique_ptr<CKVDMainDlg> m_pMainDlg;
  std::unique_ptr<CKvdDiagnoseDlg> m_pDiagnoseDlg;
  std::unique_ptr<CKvdHelpDlg> m_pHelpDlg;
  int m_nCurrentPage = kDevicePage;
};
