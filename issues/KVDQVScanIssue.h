// The scanning-application checks: the suite's QV Scan with its TWAIN folder (Ostrel devices),
// and the ScanTo application of a Lumeq model, with QV Scan as its fallback (Lumeq devices).
// Both hand the executable they looked for to the program, whose test scan starts it. Neither
// has a repair.
#pragma once

#include <functional>
#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDQVScanIssue : public CKVDIssue {
 public:
  // Whether the Windows scan check and the TWAIN check passed in this run, and where the
  // executables looked for are handed to the program.
  struct Services {
    std::function<bool()> wiaPassed;
    std::function<bool()> twainPassed;
    std::function<void(const std::wstring&)> qvScanPath;
    std::function<void(const std::wstring&)> scanToPath;
  };

  explicit CKVDQVScanIssue(kvd::platform::Platform& platform, Services services = {});

  // 107 when QV Scan and its TWAIN folder are there; 100022 without QV Scan, 100021 without the
  // folder; a simulated case as it is.
  int Diagnose(const _DeviceDetails& device) override;
  // Nothing to repair: 1.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

 protected:
  bool ScanChecksPassed() const;

  kvd::platform::Platform& m_platform;
  Services m_services;

 private:
  void SetOutcome(int result);
};

class CKVDScanToIssue : public CKVDQVScanIssue {
 public:
  using CKVDQVScanIssue::CKVDQVScanIssue;

  // 107 when the model's ScanTo, or else QV Scan, is there; otherwise the QV Scan check's result.
  int Diagnose(const _DeviceDetails& device) override;
  // The model's ScanTo executable in the suite's Lumeq model folder of the device.
  bool DiagnoseSCanToIssue(const _DeviceDetails& device);

 private:
  void SetScanToOutcome(bool found);
};
