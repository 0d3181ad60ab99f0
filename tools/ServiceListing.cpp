#include "tools/ServiceListing.h"

#include "odx/OdxIndex.h"
#include "odx/Services.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tools {
namespace {

using outline::kNoNode;
using outline::NodeHandle;

void Field(OutlineWriter &out, const char *key,
           const outline::LabelView &value) {
  out.Raw(key);
  out.JsonText(value);
}

// null for no node and for a node without a name.
void NameField(OutlineWriter &out, const char *key, const odx::OdxIndex &index,
               NodeHandle node) {
  const outline::LabelView name =
      node == kNoNode ? outline::LabelView() : index.Name(node);
  if (name.length == 0)
    out.Raw(std::string(key) + "null");
  else
    Field(out, key, name);
}

void PrefixField(OutlineWriter &out, const char *key,
                 std::span<const uint8_t> prefix) {
  out.Raw(std::string(key) + "\"" + odx::PrefixText(prefix) + "\"");
}

// A DIAG-SERVICE's prefix from the table; none for anything else.
std::span<const uint8_t> PrefixOf(const odx::Services &services,
                                  NodeHandle service) {
  const auto messages = services.Messages();
  const auto it = std::lower_bound(
      messages.begin(), messages.end(), service,
      [](const odx::Services::Message &m, NodeHandle n) { return m.node < n; });
  if (it == messages.end() || it->node != service ||
      it->kind != odx::Services::Kind::DiagService)
    return {};
  return services.Prefix(*it);
}

} // namespace

std::size_t ListServicesByBytes(const outline::OutlineStore &items,
                                std::span<const uint8_t> bytes, bool countOnly,
                                OutlineWriter &out) {
  const odx::OdxIndex index(items);
  const odx::Services services(items, index);
  const std::vector<NodeHandle> found = services.FindByBytes(bytes);
  if (countOnly)
    return found.size();
  for (const NodeHandle service : found) {
    out.Raw("{\"index\":" + std::to_string(service));
    NameField(out, ",\"service\":", index, service);
    PrefixField(out, ",\"prefix\":", PrefixOf(services, service));
    NameField(out, ",\"layer\":", index, services.LayerOf(service));
    out.Raw("}\n");
  }
  return found.size();
}

std::size_t ListEffectiveServices(const outline::OutlineStore &items,
                                  bool countOnly, OutlineWriter &out) {
  const odx::OdxIndex index(items);
  const odx::Services services(items, index);
  std::size_t rows = 0;
  for (const NodeHandle layer : services.Layers()) {
    for (const odx::Services::Offer &offer : services.Effective(layer)) {
      ++rows;
      if (countOnly)
        continue;
      NameField(out, "{\"layer\":", index, layer);
      NameField(out, ",\"service\":", index, offer.service);
      PrefixField(out, ",\"prefix\":", PrefixOf(services, offer.service));
      NameField(out, ",\"from\":", index, offer.from);
      out.Raw(",\"index\":" + std::to_string(offer.service) + "}\n");
    }
  }
  return rows;
}

} // namespace tools
