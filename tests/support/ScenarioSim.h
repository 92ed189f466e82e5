#pragma once

#include <string>

#include "platform/sim/SimMachine.h"
#include "tests/support/Scenario.h"

namespace kvd::test {

// Writes a scenario into the simulated machine: its registry values and files as they are, node
// presence and problem numbers, and the hosts with their answers.
inline void Apply(const Scenario& scenario, sim::SimMachine& machine) {
  for (const auto& write : scenario.registry) {
    machine.Registry().PutValue(write.root, write.path, write.name, write.type, write.bytes);
  }
  for (const auto& file : scenario.files) machine.Files().PutFile(file.path, file.bytes);
  for (const auto& node : scenario.nodes) {
    machine.Devices().SetPresent(node.instanceId, node.present);
    machine.Devices().SetProblem(node.instanceId, node.problem);
  }
  for (const auto& host : scenario.hosts) {
    if (!host.name.empty()) machine.Hosts().AddHost(host.name, {host.address});
    machine.Hosts().SetAnswers(host.address, host.answers);
  }
}

inline void ApplyNamed(const std::string& name, sim::SimMachine& machine) {
  Apply(LoadNamedScenario(name), machine);
}

inline constexpr const wchar_t* kTwainLibrary = L"C:\\Windows\\Twain_32.dll";
inline constexpr const wchar_t* kTwainSources = L"C:\\Windows\\twain_32\\";

// The TWAIN source manager in the Windows folder, and the data-source file of the all-in-one
// driver's instance `instance` as an exact copy of the generic one.
inline void InstallTwain(sim::SimMachine& machine, const std::wstring& instance = L"0003") {
  machine.Twain().InstallLibrary(kTwainLibrary);
  const std::wstring own = L"qvtv_" + instance + L"\\qvtv_" + instance + L".ds";
  for (const std::wstring& file : {std::wstring(L"qvtwds2"), std::wstring(L"qvtwds2.tmp"), own}) {
    machine.Files().PutFile(kTwainSources + file, {1, 2, 3, 4});
    machine.Files().SetWriteTime(kTwainSources + file, 1000);
  }
}

}  // namespace kvd::test
