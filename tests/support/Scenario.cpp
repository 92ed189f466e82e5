#include "tests/support/Scenario.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "platform/api/IDevices.h"
#include "platform/api/IRegistry.h"
#include "platform/api/Text.h"

#ifndef KVD_SCENARIO_DIR
#error "KVD_SCENARIO_DIR names the folder of the scenario files"
#endif

namespace kvd::test {

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
namespace regtype = platform::regtype;

constexpr wchar_t kEnumRoot[] = L"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr wchar_t kClassRoot[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr wchar_t kPrinters[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

struct Reader {
  std::string file;

  [[noreturn]] void Fail(const pugi::xml_node& node, const std::string& what) const {
    throw std::runtime_error(file + ": <" + node.name() + "> at offset " +
                             std::to_string(node.offset_debug()) + ": " + what);
  }
  static std::wstring Text(const pugi::xml_attribute& attribute) {
    return platform::WidenUtf8(attribute.value());
  }
  std::wstring Required(const pugi::xml_node& node, const char* name) const {
    const auto attribute = node.attribute(name);
    if (!attribute) Fail(node, std::string("needs the attribute ") + name);
    return Text(attribute);
  }
};

std::vector<std::uint8_t> Sz(const std::wstring& text) {
  return platform::ToUtf16Bytes(text, true);
}

// "a|b|c" as REG_MULTI_SZ, with the closing empty string; "" is the empty list.
std::vector<std::uint8_t> MultiSz(const std::wstring& list) {
  std::vector<std::uint8_t> bytes;
  std::size_t start = 0;
  while (!list.empty() && start <= list.size()) {
    const std::size_t bar = std::min(list.find(L'|', start), list.size());
    platform::AppendUtf16Bytes(list.substr(start, bar - start), bytes);
    bytes.push_back(0);
    bytes.push_back(0);
    start = bar + 1;
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::vector<std::uint8_t> Hex(const Reader& reader, const pugi::xml_node& node,
                              const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  if (digits.size() % 2 != 0) reader.Fail(node, "odd number of hex digits");
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::uint32_t TypeNamed(const Reader& reader, const pugi::xml_node& node, const std::string& name) {
  static const std::map<std::string, std::uint32_t> kTypes = {
      {"sz", regtype::Sz},       {"expand-sz", regtype::ExpandSz}, {"binary", regtype::Binary},
      {"dword", regtype::Dword}, {"multi-sz", regtype::MultiSz},   {"qword", regtype::Qword}};
  auto it = kTypes.find(name);
  if (it == kTypes.end()) reader.Fail(node, "unknown value type " + name);
  return it->second;
}

// A generic value: <value root="HKLM" key="SOFTWARE\Quvari\Brevane" name="InstallFolder"
// type="sz" data="C:\..."/>. HKLM\SOFTWARE is written as the 32-bit program sees it unless
// view="64". type="binary" with stored-type names bytes stored under another type (broken data).
Scenario::RegistryWrite GenericValue(const Reader& reader, const pugi::xml_node& node) {
  Scenario::RegistryWrite write;
  const std::string root = node.attribute("root").as_string("HKLM");
  if (root == "HKLM") {
    write.root = kHkeyLocalMachine;
  } else if (root == "HKCU") {
    write.root = kHkeyCurrentUser;
  } else {
    reader.Fail(node, "root must be HKLM or HKCU");
  }
  write.path = reader.Required(node, "key");
  const bool view64 = std::string(node.attribute("view").as_string("32")) == "64";
  const std::wstring upper = platform::ToLowerOrdinal(write.path);
  if (write.root == kHkeyLocalMachine && !view64 &&
      (upper == L"software" || upper.rfind(L"software\\", 0) == 0) &&
      upper.rfind(L"software\\wow6432node", 0) != 0) {
    write.path = L"SOFTWARE\\Wow6432Node" + write.path.substr(8);
  }
  write.name = reader.Required(node, "name");
  const std::string type = node.attribute("type").as_string("sz");
  write.type = TypeNamed(reader, node, type);
  const std::wstring data = Reader::Text(node.attribute("data"));
  switch (write.type) {
    case regtype::Sz:
    case regtype::ExpandSz:
      write.bytes = Sz(data);
      break;
    case regtype::MultiSz:
      write.bytes = MultiSz(data);
      break;
    case regtype::Dword: {
      const auto value =
          static_cast<std::uint32_t>(std::stoul(node.attribute("data").value(), nullptr, 0));
      for (int shift = 0; shift < 32; shift += 8) {
        write.bytes.push_back(static_cast<std::uint8_t>(value >> shift));
      }
      break;
    }
    default:
      write.bytes = Hex(reader, node, node.attribute("data").value());
      break;
  }
  if (auto stored = node.attribute("stored-type")) {
    write.type = TypeNamed(reader, node, stored.value());
  }
  return write;
}

void Put(Scenario& scenario, platform::HKey root, const std::wstring& path, const wchar_t* name,
         std::uint32_t type, std::vector<std::uint8_t> bytes) {
  scenario.registry.push_back({root, path, name, type, std::move(bytes)});
}

void PutSz(Scenario& scenario, const std::wstring& path, const wchar_t* name,
           const pugi::xml_attribute& attribute) {
  if (attribute)
    Put(scenario, kHkeyLocalMachine, path, name, regtype::Sz, Sz(Reader::Text(attribute)));
}

void Device(Scenario& scenario, const Reader& reader, const pugi::xml_node& node) {
  const std::wstring enumerator = reader.Required(node, "enumerator");
  const std::wstring id = reader.Required(node, "id");
  const std::wstring path = kEnumRoot + enumerator + L"\\" + id;
  const std::wstring className = Reader::Text(node.attribute("class"));
  std::wstring guid = Reader::Text(node.attribute("class-guid"));
  if (guid.empty()) {
    static const std::map<std::wstring, platform::Guid> kClasses = {
        {L"image", platform::devclass::Image},
        {L"usb", platform::devclass::Usb},
        {L"printer", platform::devclass::Printer}};
    auto it = kClasses.find(platform::ToLowerOrdinal(className));
    if (it == kClasses.end()) reader.Fail(node, "class-guid is needed for this class");
    guid = platform::GuidToText(it->second);
  }
  Put(scenario, kHkeyLocalMachine, path, L"ClassGUID", regtype::Sz, Sz(guid));
  PutSz(scenario, path, L"Class", node.attribute("class"));
  if (auto ids = node.attribute("hardware-ids")) {
    Put(scenario, kHkeyLocalMachine, path, L"HardwareID", regtype::MultiSz,
        MultiSz(Reader::Text(ids)));
  }
  if (auto ids = node.attribute("compatible-ids")) {
    Put(scenario, kHkeyLocalMachine, path, L"CompatibleIDs", regtype::MultiSz,
        MultiSz(Reader::Text(ids)));
  }
  PutSz(scenario, path, L"DeviceDesc", node.attribute("description"));
  PutSz(scenario, path, L"FriendlyName", node.attribute("friendly-name"));
  PutSz(scenario, path, L"Service", node.attribute("service"));
  PutSz(scenario, path, L"Driver", node.attribute("driver"));
  PutSz(scenario, path, L"Mfg", node.attribute("mfg"));
  PutSz(scenario, path, L"ParentIdPrefix", node.attribute("parent-id-prefix"));
  PutSz(scenario, path + L"\\Device Parameters", L"FriendlyName",
        node.attribute("parameters-friendly-name"));
  PutSz(scenario, path + L"\\Device Parameters", L"PortID", node.attribute("parameters-port-id"));
  scenario.nodes.push_back({enumerator + L"\\" + id, node.attribute("present").as_bool(true),
                            node.attribute("problem").as_uint(0)});
}

// Every attribute but the one naming the key is a REG_SZ value of that name.
void NamedValues(Scenario& scenario, const pugi::xml_node& node, const char* keyAttribute,
                 const std::wstring& path) {
  for (const auto& attribute : node.attributes()) {
    if (std::string(attribute.name()) == keyAttribute) continue;
    Put(scenario, kHkeyLocalMachine, path, platform::WidenUtf8(attribute.name()).c_str(),
        regtype::Sz, Sz(Reader::Text(attribute)));
  }
}

std::vector<std::uint8_t> Utf8(const std::wstring& text) {
  const std::string narrow = platform::NarrowUtf8(text);
  return {narrow.begin(), narrow.end()};
}

}  // namespace

Scenario LoadScenario(const std::string& path) {
  Reader reader{path};
  pugi::xml_document document;
  const auto parsed = document.load_file(path.c_str());
  if (!parsed) throw std::runtime_error(path + ": " + parsed.description());
  const auto root = document.child("scenario");
  if (!root) throw std::runtime_error(path + ": the root element must be <scenario>");
  Scenario scenario;
  scenario.title = Reader::Text(root.attribute("title"));
  // INI files are composed from their entries: path -> sections in order -> lines.
  std::vector<std::pair<std::wstring, std::vector<std::pair<std::wstring, std::wstring>>>> inis;
  for (const auto& node : root.children()) {
    if (node.type() != pugi::node_element) continue;
    const std::string name = node.name();
    if (name == "device") {
      Device(scenario, reader, node);
    } else if (name == "driver") {
      NamedValues(scenario, node, "key", kClassRoot + reader.Required(node, "key"));
    } else if (name == "devicedata") {
      NamedValues(scenario, node, "driver",
                  kClassRoot + reader.Required(node, "driver") + L"\\Devicedata");
    } else if (name == "printer") {
      const std::wstring key = kPrinters + reader.Required(node, "name");
      PutSz(scenario, key, L"Print Processor", node.attribute("processor"));
      PutSz(scenario, key, L"Port", node.attribute("port"));
      if (!node.attribute("processor") && !node.attribute("port")) {
        Put(scenario, kHkeyLocalMachine, key, L"Name", regtype::Sz,
            Sz(reader.Required(node, "name")));
      }
    } else if (name == "ini") {
      const std::wstring file = reader.Required(node, "path");
      const std::wstring section = reader.Required(node, "section");
      const std::wstring line =
          reader.Required(node, "key") + L"=" + Reader::Text(node.attribute("value"));
      auto it = std::find_if(inis.begin(), inis.end(), [&](const auto& ini) {
        return platform::EqualsNoCase(ini.first, file);
      });
      if (it == inis.end()) it = inis.insert(inis.end(), {file, {}});
      auto& sections = it->second;
      auto sectionIt = std::find_if(sections.begin(), sections.end(), [&](const auto& s) {
        return platform::EqualsNoCase(s.first, section);
      });
      if (sectionIt == sections.end()) {
        sections.push_back({section, line + L"\r\n"});
      } else {
        sectionIt->second += line + L"\r\n";
      }
    } else if (name == "file") {
      scenario.files.push_back(
          {reader.Required(node, "path"), Utf8(Reader::Text(node.attribute("text")))});
    } else if (name == "value") {
      scenario.registry.push_back(GenericValue(reader, node));
    } else if (name == "host") {
      Scenario::Host host;
      host.name = node.attribute("name").as_string();
      host.text = reader.Required(node, "address");
      unsigned parts[4] = {};
      char end = 0;
      if (std::sscanf(node.attribute("address").value(), "%u.%u.%u.%u%c", &parts[0], &parts[1],
                      &parts[2], &parts[3], &end) != 4 ||
          std::any_of(std::begin(parts), std::end(parts), [](unsigned p) { return p > 255; })) {
        reader.Fail(node, "address must be dotted IPv4");
      }
      host.address = parts[0] | (parts[1] << 8) | (parts[2] << 16) | (parts[3] << 24);
      host.answers = node.attribute("answers").as_bool(true);
      scenario.hosts.push_back(std::move(host));
    } else {
      reader.Fail(node, "unknown element");
    }
  }
  for (const auto& [file, sections] : inis) {
    std::wstring text;
    for (const auto& [section, lines] : sections) text += L"[" + section + L"]\r\n" + lines;
    scenario.files.push_back({file, Utf8(text)});
  }
  return scenario;
}

Scenario LoadNamedScenario(const std::string& name) {
  return LoadScenario(std::string(KVD_SCENARIO_DIR) + "/" + name);
}

std::vector<std::uint8_t> ToRegFile(const Scenario& scenario) {
  std::wstring text = L"Windows Registry Editor Version 5.00\r\n";
  auto quoted = [](const std::wstring& name) {
    std::wstring out = L"\"";
    for (wchar_t c : name) {
      if (c == L'\\' || c == L'"') out += L'\\';
      out += c;
    }
    return out + L"\"";
  };
  for (const auto& write : scenario.registry) {
    text += L"\r\n[";
    text += write.root == kHkeyLocalMachine ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\";
    text += write.path + L"]\r\n" + quoted(write.name) + L"=hex(";
    wchar_t digits[16];
    std::swprintf(digits, std::size(digits), L"%x", static_cast<unsigned>(write.type));
    text += digits;
    text += L"):";
    for (std::size_t i = 0; i < write.bytes.size(); ++i) {
      std::swprintf(digits, std::size(digits), i == 0 ? L"%02x" : L",%02x",
                    static_cast<unsigned>(write.bytes[i]));
      text += digits;
    }
    text += L"\r\n";
  }
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  platform::AppendUtf16Bytes(text, bytes);
  return bytes;
}

}  // namespace kvd::test
