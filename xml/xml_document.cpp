#include "xml/xml_document.h"

#include "platform/handles.h"

namespace {

using platform::HResult;
using platform::UniqueDom;

void Check(HResult hr) {
  if (hr < 0) throw ComError{hr};
}

// The element that query selects, or an empty owner when it selects none or a node of
// another kind. Raises ComError for every other DOM failure.
UniqueDom SelectElement(platform::DomObject* document, const std::u16string& query) {
  if (!document) throw ComError{platform::hr::Pointer};
  UniqueDom node;
  Check(platform::DomSelectSingleNode(document, query.c_str(), node.put()));
  UniqueDom element;
  if (node) {
    const HResult hr = platform::DomQueryElement(node.get(), element.put());
    if (hr == platform::hr::NoInterface) element.reset();
    else Check(hr);
  }
  return element;
}

}  // namespace

XMLDocument::~XMLDocument() { platform::DomRelease(m_document); }

HResult XMLDocument::CreateDocument() {
  platform::DomRelease(std::exchange(m_document, nullptr));
  try {
    UniqueDom unknown;
    HResult hr = platform::DomCreateInstance(unknown.put());
    if (hr >= 0) hr = platform::DomOleRun(unknown.get());
    if (hr >= 0) hr = platform::DomQueryDocument(unknown.get(), &m_document);
    if (hr < 0) platform::DomRelease(std::exchange(m_document, nullptr));
    if (hr != platform::hr::Ok) return hr;
    Check(platform::DomPutAsync(m_document, false));
    return platform::hr::Ok;
  } catch (const ComError&) {
    platform::DomRelease(std::exchange(m_document, nullptr));
    return platform::hr::Fail;
  }
}

HResult XMLDocument::Load(std::u16string path) {
  if (!m_document) {
    const HResult created = CreateDocument();
    if (created != platform::hr::Ok) return created;
  }
  try {
    std::int16_t success = 0;
    Check(platform::DomLoad(m_document, path.c_str(), &success));
    return success == platform::kVariantTrue ? platform::hr::Ok : platform::hr::Fail;
  } catch (const ComError&) {
    return platform::hr::Fail;
  }
}

bool XMLDocument::NodeExists(std::u16string query) {
  try {
    return static_cast<bool>(SelectElement(m_document, query));
  } catch (const ComError&) {
    return false;
  }
}

std::int32_t XMLDocument::GetChildCount(std::u16string query) {
  std::int32_t count = -1;
  try {
    const UniqueDom element = SelectElement(m_document, query);
    if (!element) return -1;
    UniqueDom list;
    Check(platform::DomChildNodes(element.get(), list.put()));
    if (!list) throw ComError{platform::hr::Pointer};
    count = 0;
    Check(platform::DomListLength(list.get(), &count));
    return count;
  } catch (const ComError&) {
    return -1;
  }
}

std::u16string XMLDocument::GetNodeAttribute(std::u16string query, std::u16string attribute) {
  std::u16string result;
  try {
    const UniqueDom element = SelectElement(m_document, query);
    if (!element) return result;
    bool present = false;
    Check(platform::DomGetAttribute(element.get(), attribute.c_str(), &result, &present));
    if (!present) result.clear();
    return result;
  } catch (const ComError&) {
    return {};
  }
}

std::u16string XMLDocument::GetNodeText(std::u16string query) {
  std::u16string result;
  try {
    const UniqueDom element = SelectElement(m_document, query);
    if (!element) return result;
    Check(platform::DomGetText(element.get(), &result));
    return result;
  } catch (const ComError&) {
    return {};
  }
}
