#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/CheckTable.h"
#include "ui/Dialog.h"
#include "ui/WiaProgressDlg.h"

class CKavidApp;

// The diagnosis page: one row per check of the device's family with its status picture, the
// result text of the check that stopped the run (with its link), the status line, and the
// action buttons the result allows. The page drives the run: timer 1004 asks the manager for
// the next check, the manager's messages (1025 to 1031) come back here, and the fix thread
// runs a check's repair.
class CKvdDiagnoseDlg : public kvd::ui::CDialog {
 public:
  static constexpr std::uint32_t kSimulatedOutcome = kvd::ui::wm::User + 12;  // 1036
  static constexpr std::uint32_t kSimulatedAllPassed = kvd::ui::wm::User + 13;
  // The WIA transfer's progress window tells its handle; the page ends it when the scanner
  // stops answering.
  static constexpr std::uint32_t kWiaProgressWindow = msg::ScanProgressShown;  // 1034
  static constexpr std::uint32_t kWiaProgressClose = msg::EndScanProgress;     // 1035
  // The fix thread's end, handed to the window's thread (wParam: fixed, lParam: the check).
  static constexpr std::uint32_t kFixDone = kvd::ui::wm::User + 20;

  explicit CKvdDiagnoseDlg(CKavidApp& app);
  ~CKvdDiagnoseDlg() override;

  kvd::ui::Background BackgroundKind() const override { return kvd::ui::Background::Banner; }
  bool OnNotify(int id, int code, std::uint32_t detail, std::intptr_t* result) override;

  void UpdateButtons(int index);
  void FillIssueList();
  void FillIssueListForTarvel();
  void FillIssueListForOstrelDevice();
  void FillIssueListForLumeq();
  void ShowMessageWithLink(int index);
  // The list row of check `index` for the page's family, -1 when the family does not show it.
  int IssueRow(int index) const;

  bool m_bAllPassed = false;
  bool m_bSimulation = false;
  bool m_bSimDevice = false;
  bool m_bNduLink = false;
  int m_nRunningRow = 0;
  int m_nCreep = 65;
  bool m_bBlinkOn = false;
  bool m_bUseIssueIndex = false;
  bool m_bShowFrontPanel = true;
  std::wstring m_strTechInfoPath;
  kvd::ui::WindowHandle m_hWiaProgressWnd = 0;
  std::vector<int> m_arrProblemRows;
  std::unordered_map<int, std::wstring> m_mapProblemText;

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code) override;
  void OnTimer(std::uintptr_t id) override;
  bool OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::intptr_t* result) override;

 private:
  void FillImageList();
  void InitControls();
  // The list for `family`, under the trace scope of the variant that asks for it.
  void FillFor(Family family);
  void FillByFamily();
  Family PageFamily() const;
  const _DeviceDetails* Device() const;
  std::wstring DeviceName() const;
  void SetStatus(const wchar_t* key);
  void ShowText(const std::wstring& text);
  void SetRowPicture(int row, int picture);
  int CurrentCheck() const;
  void StartTimer(std::uintptr_t id, std::uint32_t milliseconds);
  void StopTimer(std::uintptr_t id);
  void HideActions(bool keepUpdate);
  void ResetRun();

  std::intptr_t UpdateUI(std::uintptr_t result, int index);
  void RunComplete();
  void OnRunningMark(int index);
  void OnContinue(std::uintptr_t wParam);
  void OnDriverProgress(std::uintptr_t percent);
  void OnFixDone(bool fixed, int check);

  void OnClickedBtnCancel();
  void OnBnClickedBtnBack();
  void OnBnClickedBtnRetest();
  void OnClickedBtnTechnicalInfo();
  void OnBnClickedBtnHelp();
  void OnClickedBtnRestart();
  void OnBnClickedBtnSkip();
  void OnBnClickedBtnUninstall();
  void OnBnClickedBtnQvupdate();
  void OnBnClickedBtnFix();
  void OnBnClickedBtnPatch();
  // The fix thread's body.
  void Fix();

  CKavidApp& m_app;
  kvd::ui::ImageListHandle m_hImageList = 0;
};
