#include "xml/xml_document.h"

using platform::HResult;
using platform::UniqueDom;

HResult XMLDocument::CreateDocument() {
  m_document.reset();
  UniqueDom unknown;
  HResult hr = platform::DomCreateInstance(unknown.put());
  if (hr >= 0) hr = platform::DomOleRun(unknown.get());
  if (hr >= 0) hr = platform::DomQueryDocument(unknown.get(), m_document.put());
  if (hr < 0) m_document.reset();
  if (hr != platform::hr::Ok) return hr;
  if (platform::DomPutAsync(m_document.get(), false) < 0) {
    m_document.reset();
    return platform::hr::Fail;
  }
  return platform::hr::Ok;
}

HResult XMLDocument::Load(std::u16string path) {
  if (!m_document) {
    const HResult created = CreateDocument();
    if (created != platform::hr::Ok) return created;
  }
  std::int16_t success = 0;
  if (platform::DomLoad(m_document.get(), path.c_str(), &success) < 0) return platform::hr::Fail;
  return success == platform::kVariantTrue ? platform::hr::Ok : platform::hr::Fail;
}

HResult XMLDocument::SelectElement(const std::u16string& query, UniqueDom* element) const {
  if (!m_document) return platform::hr::Pointer;
  UniqueDom node;
  const HResult selected = platform::DomSelectSingleNode(m_document.get(), query.c_str(), node.put());
  if (selected < 0 || !node) return selected;
  const HResult queried = platform::DomQueryElement(node.get(), element->put());
  if (queried != platform::hr::NoInterface) return queried;
  element->reset();
  return platform::hr::False;
}

bool XMLDocument::NodeExists(std::u16string query) {
  UniqueDom element;
  return SelectElement(query, &element) >= 0 && element;
}

std::int32_t XMLDocument::GetChildCount(std::u16string query) {
  UniqueDom element;
  if (SelectElement(query, &element) < 0 || !element) return -1;
  UniqueDom list;
  if (platform::DomChildNodes(element.get(), list.put()) < 0 || !list) return -1;
  std::int32_t count = 0;  // set before the length is read, as the class promises
  return platform::DomListLength(list.get(), &count) < 0 ? -1 : count;
}

std::u16string XMLDocument::GetNodeAttribute(std::u16string query, std::u16string attribute) {
  UniqueDom element;
  if (SelectElement(query, &element) < 0 || !element) return {};
  // Set only for a present attribute: an absent one, or a failing call, leaves it empty.
  std::u16string result;
  (void)platform::DomGetAttribute(element.get(), attribute.c_str(), &result);
  return result;
}

std::u16string XMLDocument::GetNodeText(std::u16string query) {
  UniqueDom element;
  if (SelectElement(query, &element) < 0 || !element) return {};
  std::u16string result;
  if (platform::DomGetText(element.get(), &result) < 0) return {};
  return result;
}
