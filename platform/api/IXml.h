#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/Types.h"

namespace kvd::platform {

// One element of a parsed document with its attributes as the parser delivers them (character
// references and the predefined entities resolved), in document order.
struct XmlElement {
  std::vector<std::pair<std::wstring, std::wstring>> attributes;
};

// An XML DOM document: on Windows the MSXML 3.0 DOMDocument through IXMLDOMDocument2,
// in-process; natively a well-kept parser reading through the file-system port.
class IXmlDocument {
 public:
  virtual ~IXmlDocument() = default;

  // IXMLDOMDocument::load(path), synchronous, without validation or external resources, with
  // document type declarations prohibited. Answers S_OK with *loaded true when the file was
  // parsed; *loaded false (and S_FALSE or an error) when it is missing, unreadable, not
  // well-formed, in an encoding the parser does not know, or declares a document type.
  virtual HResult Load(const wchar_t* path, bool* loaded) = 0;

  // getElementsByTagName(name): every element of exactly that name (case-sensitive) at any
  // depth, in document order, each with its attributes.
  virtual HResult GetElementsByTagName(const wchar_t* name, std::vector<XmlElement>* elements) = 0;

  // selectSingleNode(path) with the XPath selection language, then the node's text (the text of
  // every text and CDATA node below it, in document order, with the blanks at both ends
  // removed). S_OK with the text; S_FALSE with an empty text when no node fits; an error for a
  // path the parser cannot read.
  virtual HResult SelectSingleNodeText(const wchar_t* path, std::wstring* text) = 0;
};

// Creates documents: CoCreateInstance(CLSID_DOMDocument30, nullptr, CLSCTX_INPROC_SERVER,
// IID_IXMLDOMDocument2) on Windows.
class IXmlFactory {
 public:
  virtual ~IXmlFactory() = default;
  virtual HResult CreateDocument(std::unique_ptr<IXmlDocument>* document) = 0;
};

}  // namespace kvd::platform
