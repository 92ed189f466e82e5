#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "engine/CheckTable.h"
#include "issues/KVDTWAINDetectionIssue.h"
#include "issues/WiaWrap.h"

// What the checks need from the running program beyond the ports: how many devices the list
// holds, the progress window of a WIA transfer, and the manager's driver refresh and re-run of
// its current check, and what the TWAIN check asks of the program. Left empty (tests of the
// engine): one device, no progress window, the refresh without instructions, no re-run, and a
// TWAIN check that sees the Windows scan failed and offers no source selection.
struct CheckServices {
  std::function<std::size_t()> deviceCount;
  WiaWrap::ProgressFactory scanProgress;
  std::function<bool(const DeviceDetails& device, int& errorCode)> refreshDrivers;
  std::function<void()> runAgain;
  // The Windows scan check and the TWAIN check passed in this run: a later check's problem is
  // then a warning.
  std::function<bool()> wiaPassed;
  std::function<bool()> twainPassed;
  CKVDTWAINDetectionIssue::Services twain;
  // The Dashra hub was found in this run; the simulation menu simulates the Tarvel family; the
  // manager's hold on the run's completion.
  std::function<bool()> dashraPresent;
  std::function<void(bool)> setDashraPresent;
  std::function<bool()> simulatingTarvel;
  std::function<void(bool)> holdCompletion;
  // Where the scanning applications the QV Scan and ScanTo checks looked for are kept.
  std::function<void(const std::wstring&)> qvScanPath;
  std::function<void(const std::wstring&)> scanToPath;
  // The Dashra check found that the hub needs the destination patch.
  std::function<void(bool)> destPatchNeeded;
};

// The checks of this version, in the manager's table order (index 0 to 12, id 1 to 13).
CheckTable ProgramCheckTable(const CheckServices& services = {});
