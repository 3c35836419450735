// XMLDocument: a read-only view of one XML file through the platform's DOM. Every DOM
// failure stays inside: each operation gives a plain result and never throws one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

class XMLDocument {
 public:
  XMLDocument() = default;
  // Virtual as the class has always been declared, its one virtual operation; nothing derives from it.
  virtual ~XMLDocument() = default;
  XMLDocument(const XMLDocument&) = delete;
  XMLDocument& operator=(const XMLDocument&) = delete;

  // S_OK when the file was read and parsed; E_FAIL otherwise; the creation's HRESULT when
  // no DOM document can be made.
  [[nodiscard]] platform::HResult Load(std::u16string path);
  // Whether query selects an element.
  [[nodiscard]] bool NodeExists(std::u16string query);
  // Number of child nodes of the selected element, or -1.
  [[nodiscard]] std::int32_t GetChildCount(std::u16string query);
  // The attribute's value on the selected element, or the empty string.
  [[nodiscard]] std::u16string GetNodeAttribute(std::u16string query, std::u16string attribute);
  // The joined text of the selected element and its descendants, or the empty string.
  [[nodiscard]] std::u16string GetNodeText(std::u16string query);

 private:
  // Makes the DOM document with async loading off; the creation's HRESULT on failure.
  [[nodiscard]] platform::HResult CreateDocument();
  // Puts the element that query selects into *element, or leaves it empty when the query
  // selects nothing or a node of another kind; a failing DOM call's HRESULT (E_POINTER
  // when there is no document) is returned instead.
  [[nodiscard]] platform::HResult SelectElement(const std::u16string& query, platform::UniqueDom* element) const;

  // The class's published field name, the one member not written name_.
  platform::UniqueDom m_document;
};
