#pragma once

#include <memory>

#include "ui/Dialog.h"
#include "ui/ProgressDialog.h"

class CKavidApp;

// The bare progress bar of a scan. The user cannot close it while the scan runs: only once its
// owner has decided to (m_bClosing) is a close request honoured.
class CPrgrsDlg : public kvd::ui::CDialog {
 public:
  explicit CPrgrsDlg(CKavidApp& app);

  bool m_bClosing = false;

 protected:
  bool OnInitDialog() override;
  bool OnClose() override;
  // Escape would hide the bar as a close request does: refused in the same way.
  void OnCancel() override;
};

// The manager's progress window: a CPrgrsDlg made, shown, set and closed on the window's thread.
class CProgressDialog final : public IProgressDialog {
 public:
  explicit CProgressDialog(CKavidApp& app) : m_app(app) {}
  ~CProgressDialog() override;
  CProgressDialog(const CProgressDialog&) = delete;
  CProgressDialog& operator=(const CProgressDialog&) = delete;

  kvd::platform::WindowHandle Show() override;
  void SetPosition(int percent) override;
  void Close() override;

 private:
  CKavidApp& m_app;
  std::unique_ptr<CPrgrsDlg> m_pDialog;
};
