#pragma once

#include "odx/OdxIndex.h"
#include "outline/OutlineStore.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace odx {
namespace detail {
struct ServiceTables;
} // namespace detail

// What the services of a diagnostic layer look like on the wire and which
// services a layer really has.
//
// The coded prefix of a message (REQUEST, POS-RESPONSE, NEG-RESPONSE,
// GLOBAL-NEG-RESPONSE): its PARAMS/PARAM children are read in document
// order with a cursor at byte 0.  A CODED-CONST parameter with a CODED-VALUE
// and a STANDARD-LENGTH-TYPE DIAG-CODED-TYPE of BIT-LENGTH 1..64 and base
// type A_UINT32, A_INT32 (two's complement) or A_BYTEFIELD (hex digits, in
// the order written) is encoded into ceil((bit position + bit length) / 8)
// bytes, shifted left by its BIT-POSITION (0..7, else 0), big-endian unless
// IS-HIGHLOW-BYTE-ORDER="false" (never for byte fields), and OR-ed in at its
// BYTE-POSITION (else the cursor); the cursor moves to the end of the
// furthest bytes written.  The first parameter that is anything else (or
// lies beyond the cursor, or whose value does not fit) ends the prefix.
// Numbers are decimal digits (a leading '-' for A_INT32) with white space
// around them allowed.  A DIAG-SERVICE's prefix is that of the REQUEST its
// REQUEST-REF resolves to.
//
// A layer's effective services: its own (the DIAG-SERVICE and
// SINGLE-ECU-JOB children of its DIAG-COMMS, and the targets of the
// DIAG-COMM-REFs there; of two of one name the first) and, by name, those
// of each PARENT-REF's layer minus the names its NOT-INHERITED-DIAG-COMMS
// list.  An own service beats an inherited one; of two inherited ones the
// parent of higher priority wins, then the earlier PARENT-REF, and two
// different elements of one name from parents of that priority are an
// inheritance conflict of the inheriting layer.  An unnamed service stands
// for itself: never overridden, excluded or in conflict.  Each line of
// inheritance counts every layer once: a PARENT-REF leading back to a
// layer on the line (a cycle) contributes nothing there.
//
// Nothing is computed when the outline is opened: the tables are built on
// the first query that needs them and kept until the outline changes.  The
// store and the index must outlive this object.
class Services {
public:
  Services(const outline::OutlineStore &store, const OdxIndex &index);
  ~Services();
  Services(const Services &) = delete;
  Services &operator=(const Services &) = delete;

  enum class Kind : uint8_t {
    None,
    Request,
    PosResponse,
    NegResponse,
    GlobalNegResponse,
    DiagService,
  };
  // What the node is, read from its label alone (no table).
  Kind KindOf(outline::NodeHandle node) const;

  // The prefix of a message or DIAG-SERVICE node, worked out for this node
  // alone when the tables are not built yet, so drawing a row never builds
  // them.  False (and `out` empty) for any other node.
  bool PrefixOf(outline::NodeHandle node, std::vector<uint8_t> &out) const;

  // Every message and DIAG-SERVICE, in pre-order, with its prefix as a
  // piece of one table (a service shares its request's bytes).
  struct Message {
    outline::NodeHandle node;
    Kind kind;
    uint32_t from, length; // the prefix's place in the table
  };
  std::span<const Message> Messages() const;
  std::span<const uint8_t> Prefix(const Message &message) const;

  // The DIAG-SERVICEs whose prefix starts with `bytes` (at least one), in
  // pre-order.
  std::vector<outline::NodeHandle>
  FindByBytes(std::span<const uint8_t> bytes) const;

  // Layers (PROTOCOL, FUNCTIONAL-GROUP, ECU-SHARED-DATA, BASE-VARIANT,
  // ECU-VARIANT elements) in pre-order, and the innermost one holding a
  // node (kNoNode when none does).
  std::span<const outline::NodeHandle> Layers() const;
  outline::NodeHandle LayerOf(outline::NodeHandle node) const;

  struct Offer {
    outline::NodeHandle service; // the defining element
    outline::NodeHandle from;    // its innermost layer; kNoNode when none
  };
  // The effective services of a layer in the order of their defining
  // elements; empty for a node that is no layer.
  std::span<const Offer> Effective(outline::NodeHandle layer) const;

  struct Conflict {
    outline::NodeHandle layer; // the inheriting layer
    QString reason;            // "NAME is inherited from A and from B"
  };
  // By layer in pre-order, then by reason.
  std::span<const Conflict> Conflicts() const;

  std::size_t MemoryBytes() const; // what the tables keep, for benchmarks

private:
  struct Fingerprint {
    uint32_t generation = 0;
    uint32_t count = 0;
    std::size_t notes = 0;
    friend bool operator==(const Fingerprint &, const Fingerprint &) = default;
  };
  Fingerprint Current() const;
  detail::ServiceTables &Tables() const;    // the prefixes and the layers
  detail::ServiceTables &Inherited() const; // and the effective services

  const outline::OutlineStore &store_;
  const OdxIndex &index_;
  mutable std::unique_ptr<detail::ServiceTables> tables_;
  mutable Fingerprint fingerprint_;
};

// "22 F1 90": upper-case hex pairs with single spaces.
std::string PrefixText(std::span<const uint8_t> bytes);

// The search text read as bytes: hex pairs with optional spaces between
// them, an optional leading "0x", spaces around; nullopt when the text
// does not read so ("22 F1 90", "22F190", "0x22F190" and "10" do).
std::optional<std::vector<uint8_t>> ParseSearchBytes(std::u16string_view text);

} // namespace odx
