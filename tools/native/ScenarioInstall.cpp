// Installs scenario files into a Wine prefix: registry values through a generated .reg file and
// reg import, files into drive_c. Run natively, with WINEPREFIX naming the prefix:
//   kvd_scenario_install tests/scenarios/usb-aio-composite.xml [more.xml ...]
// What Wine does not model (node presence, problem numbers, hosts other than loopback) is
// reported and left out. A file path that would leave the prefix's drive_c (a ".." part, a
// link out of it) is refused, and the import is read back rather than trusted by its exit code.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/api/Text.h"
#include "tests/support/Scenario.h"

namespace fs = std::filesystem;

namespace {

// "C:\Program Files\QV\x.ini" below drive_c, each existing folder taken in the case it has on
// disk: Wine finds names without case, but a second "Windows" beside "windows" would split it.
fs::path InPrefix(const fs::path& prefix, const std::wstring& windowsPath) {
  std::wstring rest = windowsPath;
  if (rest.size() < 3 || (rest[0] != L'C' && rest[0] != L'c') || rest[1] != L':' ||
      rest[2] != L'\\') {
    throw std::runtime_error("file paths must start with C:\\: " +
                             kvd::platform::NarrowUtf8(windowsPath));
  }
  rest = rest.substr(3);
  fs::path at = prefix / "drive_c";
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t slash = std::min(rest.find(L'\\', start), rest.size());
    const std::string part = kvd::platform::NarrowUtf8(rest.substr(start, slash - start));
    start = slash + 1;
    if (part.empty()) continue;
    if (part == "." || part == "..") {
      throw std::runtime_error("file paths may not name . or ..: " +
                               kvd::platform::NarrowUtf8(windowsPath));
    }
    fs::path next = at / part;
    if (fs::exists(at)) {
      for (const auto& entry : fs::directory_iterator(at)) {
        const std::wstring name = kvd::platform::WidenUtf8(entry.path().filename().string());
        if (kvd::platform::EqualsNoCase(name, kvd::platform::WidenUtf8(part))) next = entry.path();
      }
    }
    at = next;
  }
  // Links in the prefix lead out of it (the user folders' Desktop, Documents...).
  const fs::path drive = fs::weakly_canonical(prefix / "drive_c");
  const fs::path resolved = fs::weakly_canonical(at);
  if (std::mismatch(drive.begin(), drive.end(), resolved.begin(), resolved.end()).first !=
      drive.end()) {
    throw std::runtime_error("file path leads out of the prefix: " +
                             kvd::platform::NarrowUtf8(windowsPath));
  }
  return at;
}

// The last value of every import, read back with reg.exe: present only when the import took the
// whole file.
const char* const kMarkerKey = "HKEY_CURRENT_USER\\Software\\KvdScenarioInstall";

std::vector<std::uint8_t> MarkerLines(const std::string& marker) {
  std::vector<std::uint8_t> bytes;
  kvd::platform::AppendUtf16Bytes(
      kvd::platform::WidenUtf8("\r\n[" + std::string(kMarkerKey) + "]\r\n\"Installed\"=\"" +
                               marker + "\"\r\n"),
      bytes);
  return bytes;
}

bool Imported(const std::string& marker) {
  const std::string command = std::string("wine reg query '") + kMarkerKey +
                              "' /v Installed </dev/null 2>/dev/null | grep -q '" + marker +
                              "' && wine reg delete '" + kMarkerKey +
                              "' /f </dev/null >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* prefixText = std::getenv("WINEPREFIX");
  if (prefixText == nullptr || argc < 2) {
    std::cerr << "usage: WINEPREFIX=<prefix> kvd_scenario_install <scenario.xml>...\n";
    return 2;
  }
  const fs::path prefix = prefixText;
  try {
    for (int i = 1; i < argc; ++i) {
      const kvd::test::Scenario scenario = kvd::test::LoadScenario(argv[i]);
      for (const auto& file : scenario.files) {
        const fs::path target = InPrefix(prefix, file.path);
        fs::create_directories(target.parent_path());
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.bytes.data()),
                  static_cast<std::streamsize>(file.bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + target.string());
      }
      const fs::path reg = prefix / "kvd-scenario.reg";
      const std::string marker = "scenario-" + std::to_string(i) + "-" + std::to_string(::getpid());
      {
        auto bytes = kvd::test::ToRegFile(scenario);
        const auto lines = MarkerLines(marker);
        bytes.insert(bytes.end(), lines.begin(), lines.end());
        std::ofstream out(reg, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
      }
      // Output redirected: a wineserver started here would hold our caller's pipes open. The
      // file names the keys as they are stored (HKLM\SOFTWARE\Wow6432Node for the 32-bit
      // view), so it is imported into the 64-bit view: regedit as "wine" starts it runs as a
      // 32-bit program and would redirect every HKLM\SOFTWARE key once more.
      const std::string command = "wine reg import 'Z:" + fs::absolute(reg).string() +
                                  "' /reg:64 </dev/null >/dev/null 2>&1";
      if (std::system(command.c_str()) != 0 || !Imported(marker)) {
        throw std::runtime_error("reg import did not take " + std::string(argv[i]));
      }
      fs::remove(reg);
      for (const auto& node : scenario.nodes) {
        if (!node.present || node.problem != 0) {
          std::cout << argv[i] << ": not modelled by Wine, left out: presence or problem of "
                    << kvd::platform::NarrowUtf8(node.instanceId) << "\n";
        }
      }
      for (const auto& host : scenario.hosts) {
        if ((host.address & 0xFF) != 127 || !host.name.empty() || !host.answers) {
          std::cout << argv[i] << ": not applied under Wine: host "
                    << kvd::platform::NarrowUtf8(host.text) << "\n";
        }
      }
      std::cout << "installed " << argv[i] << "\n";
    }
  } catch (const std::exception& failure) {
    std::cerr << "kvd_scenario_install: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
