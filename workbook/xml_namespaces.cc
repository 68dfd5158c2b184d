#include "workbook/xml_namespaces.h"

#include <algorithm>
#include <cstring>

namespace kvr {

XmlNamespaces::XmlNamespaces(std::initializer_list<std::string_view> known)
    : known_(known.begin(), known.end()), prefixes_(known.size()) {}

void XmlNamespaces::Enter(const char** atts) {
  ++depth_;
  bool changed = false;
  for (int i = 0; atts[i] != nullptr; i += 2) {
    const char* name = atts[i];
    if (name[0] != 'x' || std::strncmp(name, "xmlns", 5) != 0 || (name[5] != '\0' && name[5] != ':')) continue;
    bindings_.push_back({name[5] == ':' ? std::string(name + 6) : std::string(), atts[i + 1], depth_});
    changed = true;
  }
  if (changed) Recompute();
}

void XmlNamespaces::Leave() {
  bool changed = false;
  while (!bindings_.empty() && bindings_.back().depth == depth_) {
    bindings_.pop_back();
    changed = true;
  }
  --depth_;
  if (changed) Recompute();
}

// Each prefix's innermost binding counts; "xmlns:p=''" unbinds p (and
// "xmlns=''" the default namespace).
void XmlNamespaces::Recompute() {
  for (auto& p : prefixes_) p.clear();
  for (std::size_t i = bindings_.size(); i-- > 0;) {
    const Binding& b = bindings_[i];
    const bool shadowed = std::any_of(bindings_.begin() + static_cast<std::ptrdiff_t>(i) + 1, bindings_.end(),
                                      [&](const Binding& inner) { return inner.prefix == b.prefix; });
    if (shadowed) continue;
    for (std::size_t k = 0; k < known_.size(); ++k) {
      if (b.uri == known_[k]) prefixes_[k].push_back(b.prefix);
    }
  }
}

bool XmlNamespaces::Bound(std::string_view prefix, std::size_t ns) const {
  for (const std::string& p : prefixes_[ns]) {
    if (p == prefix) return true;
  }
  return false;
}

bool XmlNamespaces::IsElement(std::string_view qname, std::size_t ns, std::string_view local) const {
  if (qname.size() < local.size() || qname.substr(qname.size() - local.size()) != local) return false;
  const std::size_t prefix_end = qname.size() - local.size();
  if (prefix_end == 0) return Bound("", ns);
  return qname[prefix_end - 1] == ':' && Bound(qname.substr(0, prefix_end - 1), ns);
}

bool XmlNamespaces::IsAttribute(const char* qname, std::size_t ns, std::string_view local) const {
  const char* colon = std::strchr(qname, ':');
  // The local part compared in place: attribute names are not measured first.
  if (colon == nullptr || local.empty() || colon[1] != local[0] ||
      std::strncmp(colon + 1, local.data(), local.size()) != 0 || colon[1 + local.size()] != '\0') {
    return false;
  }
  return Bound(std::string_view(qname, static_cast<std::size_t>(colon - qname)), ns);
}

std::optional<std::string_view> XmlNamespaces::AttributeIn(const char* qname, std::size_t ns) const {
  const char* colon = std::strchr(qname, ':');
  if (colon == nullptr || !Bound(std::string_view(qname, static_cast<std::size_t>(colon - qname)), ns)) {
    return std::nullopt;
  }
  return std::string_view(colon + 1);
}

bool XmlNamespaces::ElementIn(std::string_view qname, std::size_t ns) const {
  const std::size_t colon = qname.find(':');
  return Bound(colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon), ns);
}

}  // namespace kvr
