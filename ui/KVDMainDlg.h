#pragma once

#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class CKavidApp;

// The device selection page: the devices that enumeration found, Diagnose for the selected one,
// the technical-information tool, Cancel, and the customer link. It is the page the manager
// reports the device list to (message 1032).
class CKVDMainDlg : public kvd::ui::CDialog {
 public:
  static constexpr std::uint32_t kDeviceListReady = kvd::ui::wm::User + 8;  // 1032
  static constexpr std::uint32_t kWaitCursorMs = 100;

  explicit CKVDMainDlg(CKavidApp& app);

  // Fills the list from the manager's devices: 1 when there is at least one, else 0.
  int FillListCtrl();
  // The fonts, column headings and texts of the current language (the language selection runs
  // it again, then FillListCtrl).
  void SetTexts();

  kvd::ui::Background BackgroundKind() const override { return kvd::ui::Background::Banner; }
  bool Waiting() const override { return m_bWaiting; }
  bool OnNotify(int id, int code, std::uint32_t detail, std::intptr_t* result) override;

  int m_nSel = -1;
  bool m_bRefill = false;
  std::wstring m_strTechInfoPath;
  bool m_bDeviceChosen = false;

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code) override;
  void OnTimer(std::uintptr_t id) override;
  bool OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::intptr_t* result) override;

 private:
  bool OnSelectionChanged();
  void OnClickedBtnDiagnose();
  void OnClickedBtnCancel();
  void OnClickedBtnTechnicalInfo();
  void OpenCustomerLink();
  void StopWaiting();

  CKavidApp& m_app;
  bool m_bWaiting = false;
};
