// The DOM stand-in of the sim backend: the system DOM's answers, given over libxml2.
// libxml2 reads every encoding a file may declare (UTF-16 with its mark, windows-1252)
// and limits entity expansion; the query language of the system DOM (XSL Patterns, with
// positions counted from 0) is translated here and nowhere else.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dom.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

// A parsed file and what each step of a query matched below each parent, indexed once,
// so that walking string[0], string[1], ... costs the same for every position.
struct Tree {
  explicit Tree(xmlDocPtr parsed) noexcept : document(parsed) {}
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  ~Tree() { xmlFreeDoc(document); }
  xmlDocPtr document;
  std::map<std::pair<xmlNodePtr, std::string>, std::vector<xmlNodePtr>> children;
};

struct platform::DomObject {
  enum class Kind { Document, Node, Element, List } kind;
  std::shared_ptr<Tree> document;  // keeps the tree alive while any reference to it lives
  xmlNodePtr node = nullptr;
  int references = 1;
};

namespace platform {
namespace {

constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);
constexpr HResult kNotInitialized = static_cast<HResult>(0x800401F0);

// A new reference, counted as an open handle; called only within a simulated call.
DomObject* Make(DomObject::Kind kind, std::shared_ptr<Tree> document, xmlNodePtr node) {
  auto* object = new DomObject{kind, std::move(document), node};
  sim::HandleOpened();
  return object;
}

WString FromXml(const xmlChar* text) { return text ? sim::Utf16(reinterpret_cast<const char*>(text)) : WString(); }

struct XmlFree {
  void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};
using XmlText = std::unique_ptr<xmlChar, XmlFree>;

// No external entity or DTD is ever read: the loader refuses them all.
xmlParserInputPtr RefuseExternal(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

// The system DOM drops text nodes of white space alone while white space is not preserved.
void DropBlankText(xmlNodePtr node) {
  for (xmlNodePtr child = node->children; child;) {
    xmlNodePtr next = child->next;
    if (child->type == XML_TEXT_NODE && xmlIsBlankNode(child)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    } else if (child->type == XML_ELEMENT_NODE) {
      DropBlankText(child);
    }
    child = next;
  }
}

// ---- XSL Patterns: a path of steps, each a name test with an optional 0-based position ----
struct Step {
  enum class Test { Name, Attribute, Text } test = Test::Name;
  std::string name;
  long position = -1;
};

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// False when the query is not a pattern of the supported form.
bool ParsePattern(const std::string& query, std::vector<Step>& steps) {
  std::size_t i = !query.empty() && query[0] == '/' ? 1 : 0;
  while (true) {
    Step step;
    if (query.compare(i, 6, "text()") == 0) step.test = Step::Test::Text, i += 6;
    else {
      if (i < query.size() && query[i] == '@') step.test = Step::Test::Attribute, ++i;
      const std::size_t start = i;
      while (i < query.size() && IsNameChar(query[i])) ++i;
      if (i == start) return false;
      step.name = query.substr(start, i - start);
    }
    if (i < query.size() && query[i] == '[') {
      const std::size_t start = ++i;
      while (i < query.size() && std::isdigit(static_cast<unsigned char>(query[i]))) ++i;
      if (i == start || i - start > 9 || i >= query.size() || query[i] != ']') return false;
      step.position = std::stol(query.substr(start, i - start));
      ++i;
    }
    steps.push_back(step);
    if (i == query.size()) return true;
    if (query[i] != '/') return false;
    ++i;
  }
}

bool Matches(const Step& step, xmlNodePtr node) {
  if (step.test == Step::Test::Text) return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
  return node->type == (step.test == Step::Test::Name ? XML_ELEMENT_NODE : XML_ATTRIBUTE_NODE) &&
         step.name == reinterpret_cast<const char*>(node->name);
}

// What a step matches below parent (its attributes for an attribute step, else its children),
// in document order, indexed once per parent and step.
const std::vector<xmlNodePtr>& Matching(Tree& tree, xmlNodePtr parent, const Step& step) {
  auto [entry, added] = tree.children.try_emplace({parent, std::to_string(static_cast<int>(step.test)) + step.name});
  const bool attributes = step.test == Step::Test::Attribute;
  if (added && (!attributes || parent->type == XML_ELEMENT_NODE))
    for (xmlNodePtr child = attributes ? reinterpret_cast<xmlNodePtr>(parent->properties) : parent->children; child;
         child = child->next)
      if (Matches(step, child)) entry->second.push_back(child);
  return entry->second;
}

xmlNodePtr Select(Tree& tree, const std::vector<Step>& steps) {
  std::vector<xmlNodePtr> context{reinterpret_cast<xmlNodePtr>(tree.document)};
  for (const Step& step : steps) {
    std::vector<xmlNodePtr> next;
    for (xmlNodePtr parent : context) {
      const std::vector<xmlNodePtr>& matching = Matching(tree, parent, step);
      if (step.position < 0) next.insert(next.end(), matching.begin(), matching.end());
      else if (static_cast<std::size_t>(step.position) < matching.size()) next.push_back(matching[step.position]);
    }
    context = std::move(next);
    if (context.empty()) return nullptr;
  }
  return context.front();
}

}  // namespace

HResult DomCreateInstance(DomObject** unknown) noexcept {
  *unknown = nullptr;
  return sim::Call(__func__, kClassNotRegistered, [&] {
    if (!sim::ComInitialized()) return kNotInitialized;
    *unknown = Make(DomObject::Kind::Document, nullptr, nullptr);
    return hr::Ok;
  });
}

HResult DomOleRun(DomObject*) noexcept {
  return sim::Call(__func__, hr::Fail, [] { return hr::Ok; });
}

HResult DomQueryDocument(DomObject* unknown, DomObject** document) noexcept {
  *document = nullptr;
  return sim::Call(__func__, hr::NoInterface, [&] {
    if (unknown->kind != DomObject::Kind::Document) return hr::NoInterface;
    ++unknown->references;
    sim::HandleOpened();
    *document = unknown;
    return hr::Ok;
  });
}

HResult DomQueryElement(DomObject* node, DomObject** element) noexcept {
  *element = nullptr;
  return sim::Call(__func__, hr::Fail, [&] {
    if (node->kind == DomObject::Kind::Document || !node->node || node->node->type != XML_ELEMENT_NODE)
      return hr::NoInterface;
    *element = Make(DomObject::Kind::Element, node->document, node->node);
    return hr::Ok;
  });
}

void DomRelease(DomObject* object) noexcept {
  if (!object) return;
  sim::HandleClosed();
  if (--object->references == 0) delete object;
}

HResult DomPutAsync(DomObject*, bool) noexcept {
  return sim::Call(__func__, hr::Fail, [] { return hr::Ok; });
}

HResult DomLoad(DomObject* document, const char16_t* path, std::int16_t* success) noexcept {
  *success = 0;
  return sim::Call(__func__, hr::Fail, [&] {
    document->document.reset();
    xmlSetExternalEntityLoader(RefuseExternal);
    std::ifstream file(sim::HostPath(path), std::ios::binary);
    if (!file) return hr::False;
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (content.size() > static_cast<std::size_t>(INT32_MAX)) return hr::False;
    xmlDocPtr parsed = xmlReadMemory(content.data(), static_cast<int>(content.size()), nullptr, nullptr,
                                     XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!parsed) return hr::False;
    auto tree = std::make_shared<Tree>(parsed);
    if (xmlNodePtr root = xmlDocGetRootElement(parsed)) DropBlankText(root);
    document->document = std::move(tree);
    *success = kVariantTrue;
    return hr::Ok;
  });
}

HResult DomSelectSingleNode(DomObject* document, const char16_t* query, DomObject** node) noexcept {
  *node = nullptr;
  return sim::Call(__func__, hr::Fail, [&] {
    std::vector<Step> steps;
    if (!query || !ParsePattern(sim::Utf8(query), steps)) return hr::Fail;
    if (!document->document) return hr::False;
    xmlNodePtr found = Select(*document->document, steps);
    if (!found) return hr::False;
    *node = Make(DomObject::Kind::Node, document->document, found);
    return hr::Ok;
  });
}

HResult DomChildNodes(DomObject* element, DomObject** list) noexcept {
  *list = nullptr;
  return sim::Call(__func__, hr::Fail, [&] {
    *list = Make(DomObject::Kind::List, element->document, element->node);
    return hr::Ok;
  });
}

HResult DomListLength(DomObject* list, std::int32_t* length) noexcept {
  return sim::Call(__func__, hr::Fail, [&] {
    std::int32_t count = 0;
    for (xmlNodePtr child = list->node->children; child; child = child->next) ++count;
    *length = count;
    return hr::Ok;
  });
}

HResult DomGetText(DomObject* element, WString* text) {
  if (sim::ShouldFail(__func__)) return hr::Fail;
  XmlText content(xmlNodeGetContent(element->node));
  *text = FromXml(content.get());
  return hr::Ok;
}

HResult DomGetAttribute(DomObject* element, const char16_t* name, WString* value) {
  if (sim::ShouldFail(__func__)) return hr::Fail;
  XmlText content(xmlGetProp(element->node, reinterpret_cast<const xmlChar*>(sim::Utf8(name).c_str())));
  if (!content) return hr::False;
  *value = FromXml(content.get());
  return hr::Ok;
}

}  // namespace platform
