// The namespaces of XML names, told by the prefixes a document binds where
// the parse stands. A reader names the namespaces it knows by index and asks
// whether "table:table-cell" is the element "table-cell" of one of them,
// whatever prefix the file binds to it; the parse itself runs without
// expat's namespace processing, which builds a "URI name" string for every
// element and attribute (a plant's .ods content has millions).
#ifndef KVR_WORKBOOK_XML_NAMESPACES_H_
#define KVR_WORKBOOK_XML_NAMESPACES_H_

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr {

class XmlNamespaces {
 public:
  explicit XmlNamespaces(std::initializer_list<std::string_view> known);

  // At each start tag, before its name is asked about: takes the tag's
  // namespace declarations ("xmlns", "xmlns:p"). At each end tag, after.
  void Enter(const char** atts);
  void Leave();

  // True when the element (attribute) `qname` is `local` in known namespace
  // `ns`. An element without a prefix is in the default namespace; an
  // attribute without one is in none.
  bool IsElement(std::string_view qname, std::size_t ns, std::string_view local) const;
  bool IsAttribute(const char* qname, std::size_t ns, std::string_view local) const;
  bool ElementIn(std::string_view qname, std::size_t ns) const;
  // The local part of attribute `qname` when it is in known namespace `ns`.
  std::optional<std::string_view> AttributeIn(const char* qname, std::size_t ns) const;

 private:
  struct Binding {
    std::string prefix;  // "" for the default namespace
    std::string uri;
    int depth;
  };
  bool Bound(std::string_view prefix, std::size_t ns) const;
  void Recompute();

  std::vector<std::string> known_;
  std::vector<Binding> bindings_;                   // outermost first
  std::vector<std::vector<std::string>> prefixes_;  // per known namespace, the prefixes bound to it now
  int depth_ = 0;
};

}  // namespace kvr

#endif  // KVR_WORKBOOK_XML_NAMESPACES_H_
