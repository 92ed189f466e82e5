#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"

namespace kvd::test {

// Binds the program's string table to the simulated machine with an English file of the given
// texts. Texts that differ from their keys show that a message came from the table.
inline bool LoadTestStrings(sim::SimMachine& sim,
                            const std::vector<std::pair<std::string, std::string>>& texts) {
  std::string file = "<Strings>";
  for (const auto& [key, value] : texts) {
    file.append("<String ID=\"").append(key).append("\" Value=\"").append(value).append("\"/>");
  }
  file += "</Strings>";
  sim.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\1033.xml",
                      {file.begin(), file.end()});
  GlobalLag.Bind(sim.Ports());
  GlobalLag.m_LangID = 1033;
  return GlobalLag.LoadStrings();
}

}  // namespace kvd::test
