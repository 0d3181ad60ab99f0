#pragma once

#include "outline/OutlineStore.h"
#include "tools/OutlineWriter.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tools {

// The services of an outline as JSON Lines.  Each returns how many rows it
// listed; with `countOnly` it writes nothing.
//  --bytes: {"index","service","prefix","layer"} for every DIAG-SERVICE
//  whose prefix starts with `bytes`, in pre-order.
// Names are null for what has none (and "layer" outside any layer).
std::size_t ListServicesByBytes(const outline::OutlineStore &items,
                                std::span<const uint8_t> bytes, bool countOnly,
                                OutlineWriter &out);
//  --services: {"layer","service","prefix","from","index"} for every
//  layer's effective services, layers in pre-order, services in the order of
//  their defining elements; "prefix" is "" but for a DIAG-SERVICE.
std::size_t ListEffectiveServices(const outline::OutlineStore &items,
                                  bool countOnly, OutlineWriter &out);

} // namespace tools
