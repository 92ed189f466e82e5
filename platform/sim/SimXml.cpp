#include "platform/sim/SimXml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"

namespace kvd::sim {

namespace {

namespace file = platform::file;
using platform::HResult;

constexpr HResult kFalse = 1;  // S_FALSE: what a failed load or a selection of nothing answers
// What the system's parser answers for a path it cannot read (E_FAIL).
constexpr HResult kInvalidPath = platform::hr::Fail;

// The encoding named in the XML declaration, lower-cased, or empty.
std::string DeclaredEncoding(const std::vector<std::uint8_t>& bytes) {
  const std::size_t head = std::min<std::size_t>(bytes.size(), 200);
  std::string text(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(head));
  if (text.rfind("<?xml", 0) != 0) return {};
  const std::size_t end = text.find("?>");
  const std::size_t at = text.find("encoding", 0);
  if (at == std::string::npos || (end != std::string::npos && at > end)) return {};
  const std::size_t quote = text.find_first_of("\"'", at);
  if (quote == std::string::npos) return {};
  const std::size_t close = text.find(text[quote], quote + 1);
  if (close == std::string::npos) return {};
  std::string name = text.substr(quote + 1, close - quote - 1);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

class SimXmlDocument final : public platform::IXmlDocument {
 public:
  explicit SimXmlDocument(platform::IFileSystem& files) : files_(files) {}

  HResult Load(const wchar_t* path, bool* loaded) override {
    *loaded = false;
    document_.reset();
    const auto read = platform::ReadWholeFile(files_, path);
    if (!read) return kFalse;
    const std::vector<std::uint8_t>& bytes = *read;

    // A byte-order mark decides; without one, the declaration may name Latin-1, which the
    // parser must be told. Any other named encoding besides the Unicode ones is refused, as
    // the system's parser refuses encodings it does not know.
    pugi::xml_encoding encoding = pugi::encoding_auto;
    const bool bom =
        (bytes.size() >= 2 &&
         ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) ||
        (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF);
    if (!bom) {
      const std::string declared = DeclaredEncoding(bytes);
      if (declared == "iso-8859-1" || declared == "latin1") {
        encoding = pugi::encoding_latin1;
      } else if (!declared.empty() && declared != "utf-8" && declared != "utf-16" &&
                 declared != "us-ascii" && declared != "ascii") {
        return kFalse;
      }
    }
    const pugi::xml_parse_result result = document_.load_buffer(
        bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_doctype, encoding);
    if (!result || document_.document_element().empty()) return kFalse;
    // Document type declarations are refused outright: nothing in them is needed, and their
    // entities are how a small file expands without bound.
    for (const pugi::xml_node node : document_.children()) {
      if (node.type() == pugi::node_doctype) return kFalse;
    }
    *loaded = true;
    return platform::hr::Ok;
  }

  HResult GetElementsByTagName(const wchar_t* name,
                               std::vector<platform::XmlElement>* elements) override {
    elements->clear();
    const std::string wanted = platform::NarrowUtf8(name);
    struct Walker : pugi::xml_tree_walker {
      const std::string* wanted;
      std::vector<platform::XmlElement>* out;
      bool for_each(pugi::xml_node& node) override {
        if (node.type() == pugi::node_element && wanted->compare(node.name()) == 0) {
          platform::XmlElement element;
          for (const pugi::xml_attribute attribute : node.attributes()) {
            element.attributes.emplace_back(platform::WidenUtf8(attribute.name()),
                                            platform::WidenUtf8(attribute.value()));
          }
          out->push_back(std::move(element));
        }
        return true;
      }
    } walker;
    walker.wanted = &wanted;
    walker.out = elements;
    document_.traverse(walker);
    return platform::hr::Ok;
  }

  HResult SelectSingleNodeText(const wchar_t* path, std::wstring* text) override {
    text->clear();
    pugi::xpath_node found;
    try {
      found = document_.select_node(platform::NarrowUtf8(path).c_str());
    } catch (const pugi::xpath_exception&) {
      return kInvalidPath;
    }
    if (!found) return kFalse;
    std::string collected;
    if (found.attribute()) {
      collected = found.attribute().value();
    } else {
      struct Texts : pugi::xml_tree_walker {
        std::string* out;
        bool for_each(pugi::xml_node& node) override {
          if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            *out += node.value();
          }
          return true;
        }
      } texts;
      texts.out = &collected;
      const pugi::xml_node node = found.node();
      if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        collected = node.value();
      } else {
        pugi::xml_node copy = node;
        copy.traverse(texts);
      }
    }
    *text = platform::Trim(platform::WidenUtf8(collected));
    return platform::hr::Ok;
  }

 private:
  platform::IFileSystem& files_;
  pugi::xml_document document_;
};

}  // namespace

HResult SimXml::CreateDocument(std::unique_ptr<platform::IXmlDocument>* document) {
  document->reset();
  if (auto fault = calls_.Enter("CreateDocument")) return platform::hr::FromWin32(*fault);
  *document = std::make_unique<SimXmlDocument>(files_);
  return platform::hr::Ok;
}

}  // namespace kvd::sim
