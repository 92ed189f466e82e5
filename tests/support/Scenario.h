#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/IPing.h"
#include "platform/api/Types.h"

namespace kvd::test {

// A machine described the way a support engineer would: device nodes, their driver's class keys
// and "Devicedata" values, printers and their ports, the maker's INI files, other files and
// registry values, and hosts that answer a ping or not. Read from an XML file (tests/scenarios/,
// README there) and lowered into plain writes, so that the simulated machine and a Wine prefix
// are set up from the very same list.
struct Scenario {
  struct RegistryWrite {
    platform::HKey root = 0;
    std::wstring path;  // as stored: HKLM\SOFTWARE in the 32-bit view is SOFTWARE\Wow6432Node
    std::wstring name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
  };
  struct FileWrite {
    std::wstring path;  // a Windows path, "C:\\..."
    std::vector<std::uint8_t> bytes;
  };
  // What only the simulated machine models: presence and problem numbers of nodes.
  struct NodeState {
    std::wstring instanceId;
    bool present = true;
    std::uint32_t problem = 0;
  };
  struct Host {
    std::string name;  // may be empty: an address alone
    platform::InAddr address = 0;
    std::wstring text;  // the address as written
    bool answers = true;
  };

  std::wstring title;
  std::vector<RegistryWrite> registry;
  std::vector<FileWrite> files;
  std::vector<NodeState> nodes;
  std::vector<Host> hosts;
};

// Reads a scenario file; throws std::runtime_error naming the file and the element at fault.
Scenario LoadScenario(const std::string& path);
// The scenario file of that name in tests/scenarios.
Scenario LoadNamedScenario(const std::string& name);

// The registry part as a .reg file for a 64-bit Wine prefix (UTF-16LE, "Windows Registry Editor
// Version 5.00").
std::vector<std::uint8_t> ToRegFile(const Scenario& scenario);

}  // namespace kvd::test
