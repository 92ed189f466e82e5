#include "platform/sim/VersionBlock.h"

#include <cstdio>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace {

// One node of the block: wLength, wValueLength, wType, szKey, padding, value, padding, children.
struct Node {
  std::wstring key;
  std::uint16_t type = 0;  // 1: text value, 0: binary
  std::vector<std::uint8_t> value;
  std::uint16_t valueLength = 0;  // characters for text, bytes for binary
  std::vector<Node> children;
};

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t v) {
  PutWord(out, v & 0xFFFF);
  PutWord(out, v >> 16);
}

void Align(std::vector<std::uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

// Trailing padding after the last child is not part of a node's length, as resource compilers
// write it; padding between children is.
void Write(const Node& node, std::vector<std::uint8_t>& out) {
  Align(out);
  const std::size_t start = out.size();
  PutWord(out, 0);
  PutWord(out, node.valueLength);
  PutWord(out, node.type);
  platform::AppendUtf16Bytes(node.key, out);
  PutWord(out, 0);
  Align(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) Write(child, out);
  const std::size_t length = out.size() - start;
  out[start] = static_cast<std::uint8_t>(length & 0xFF);
  out[start + 1] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
}

Node TextNode(std::wstring_view key, std::wstring_view text) {
  Node node{std::wstring(key), 1, platform::ToUtf16Bytes(text, true), 0, {}};
  node.valueLength = static_cast<std::uint16_t>(node.value.size() / 2);
  return node;
}

std::wstring TableKey(std::uint16_t language, std::uint16_t codePage) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x%04x", static_cast<unsigned>(language),
                static_cast<unsigned>(codePage));
  return platform::WidenUtf8(text);
}

std::uint32_t Word(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }

constexpr std::size_t AlignUp(std::size_t offset) {
  return (offset + 3) & ~static_cast<std::size_t>(3);
}

// A node read back from a block: offsets relative to the block's start.
struct View {
  std::size_t start = 0;
  std::size_t end = 0;  // start + wLength
  std::uint32_t valueLength = 0;
  std::uint32_t type = 0;
  std::wstring key;
  std::size_t valueOffset = 0;
  std::size_t childrenOffset = 0;
};

bool Read(const std::uint8_t* block, std::size_t start, std::size_t limit, View& out) {
  if (start + 6 > limit) return false;
  const std::uint32_t length = Word(block + start);
  if (length < 6 || start + length > limit) return false;
  out.start = start;
  out.end = start + length;
  out.valueLength = Word(block + start + 2);
  out.type = Word(block + start + 4);
  out.key.clear();
  std::size_t at = start + 6;
  for (;; at += 2) {
    if (at + 2 > out.end) return false;
    const std::uint32_t unit = Word(block + at);
    if (unit == 0) break;
    out.key.push_back(static_cast<wchar_t>(unit));
  }
  out.valueOffset = AlignUp(at + 2);
  const std::size_t valueBytes = out.type == 1 ? out.valueLength * 2u : out.valueLength;
  out.childrenOffset = AlignUp(out.valueOffset + valueBytes);
  return out.valueOffset + valueBytes <= out.end || valueBytes == 0;
}

}  // namespace

std::vector<std::uint8_t> BuildVersionBlock(const VersionResource& info) {
  std::vector<std::uint8_t> fixed;
  PutDword(fixed, kFixedFileInfoSignature);
  PutDword(fixed, 0x00010000);  // structure version 1.0
  PutDword(fixed, (static_cast<std::uint32_t>(info.fileVersion[0]) << 16) | info.fileVersion[1]);
  PutDword(fixed, (static_cast<std::uint32_t>(info.fileVersion[2]) << 16) | info.fileVersion[3]);
  PutDword(fixed,
           (static_cast<std::uint32_t>(info.productVersion[0]) << 16) | info.productVersion[1]);
  PutDword(fixed,
           (static_cast<std::uint32_t>(info.productVersion[2]) << 16) | info.productVersion[3]);
  PutDword(fixed, 0x3F);  // VS_FFI_FILEFLAGSMASK
  PutDword(fixed, info.fileFlags);
  PutDword(fixed, info.fileOs);
  PutDword(fixed, info.fileType);
  PutDword(fixed, 0);  // subtype
  PutDword(fixed, 0);  // date, high
  PutDword(fixed, 0);  // date, low

  Node root{L"VS_VERSION_INFO", 0, fixed, static_cast<std::uint16_t>(fixed.size()), {}};
  Node strings{L"StringFileInfo", 1, {}, 0, {}};
  std::vector<std::uint8_t> translations;
  for (const auto& translation : info.translations) {
    Node table{TableKey(translation.language, translation.codePage), 1, {}, 0, {}};
    for (const auto& [name, text] : translation.strings)
      table.children.push_back(TextNode(name, text));
    strings.children.push_back(std::move(table));
    PutWord(translations, translation.language);
    PutWord(translations, translation.codePage);
  }
  Node var{L"Translation", 0, translations, static_cast<std::uint16_t>(translations.size()), {}};
  Node vars{L"VarFileInfo", 1, {}, 0, {std::move(var)}};
  if (!strings.children.empty()) root.children.push_back(std::move(strings));
  root.children.push_back(std::move(vars));

  std::vector<std::uint8_t> out;
  Write(root, out);
  return out;
}

bool FindVersionValue(const std::uint8_t* block, std::wstring_view subBlock,
                      const std::uint8_t** value, std::uint32_t* length) {
  if (block == nullptr) return false;
  View node;
  if (!Read(block, 0, Word(block), node)) return false;
  std::size_t pos = 0;
  while (pos < subBlock.size()) {
    if (subBlock[pos] == L'\\') {
      ++pos;
      continue;
    }
    std::size_t stop = subBlock.find(L'\\', pos);
    if (stop == std::wstring_view::npos) stop = subBlock.size();
    const std::wstring_view name = subBlock.substr(pos, stop - pos);
    pos = stop;
    bool found = false;
    View child;
    for (std::size_t at = node.childrenOffset; at < node.end; at = AlignUp(child.end)) {
      if (!Read(block, at, node.end, child)) break;
      if (platform::EqualsNoCase(child.key, name)) {
        found = true;
        break;
      }
    }
    if (!found) return false;
    node = child;
  }
  if (value != nullptr) *value = block + node.valueOffset;
  if (length != nullptr) *length = node.valueLength;
  return true;
}

}  // namespace kvd::sim
