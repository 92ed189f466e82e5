#pragma once

#include "ui/Dialog.h"

class CKavidApp;

// The diagnosis page. PLACEHOLDER until the page with its checks, results and actions is
// built: it names the chosen device, runs no check, and offers Back and Close; since nothing
// runs, it clears the busy state that Diagnose set, so that the program can be closed.
class CKvdDiagnoseDlg : public kvd::ui::CDialog {
 public:
  explicit CKvdDiagnoseDlg(CKavidApp& app);

  kvd::ui::Background BackgroundKind() const override { return kvd::ui::Background::Banner; }

  // The page shows a simulated outcome (the tester's menu), not a run.
  bool m_bSimulation = false;

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code) override;

 private:
  CKavidApp& m_app;
};
