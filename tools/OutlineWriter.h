#pragma once

#include "outline/OutlineStore.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tools {

// Buffered writer for the outline in the command line's two formats.
class OutlineWriter {
public:
  explicit OutlineWriter(std::FILE *out) : out_(out) {
    buf_.reserve(kFlushAt + 4096);
  }
  ~OutlineWriter() { Flush(); }
  OutlineWriter(const OutlineWriter &) = delete;
  OutlineWriter &operator=(const OutlineWriter &) = delete;

  // Indented text: two spaces per level below the top, control characters
  // and backslashes escaped so one node is always one line.
  // A name, when given and not empty, follows the label: " [name]" in
  // text, "name" after "label" in JSON.
  void TextLine(uint32_t depth, const outline::LabelView &label,
                const outline::LabelView &name = {});
  void JsonNode(uint32_t depth, int image, const outline::LabelView &label,
                const outline::LabelView &name = {});
  void JsonHit(uint32_t index, const outline::LabelView &label);
  // A reference: its index, ID-REF or SHORT-NAME value, DOCREF value
  // (null when absent; no key at all for a reference by name), the index of
  // its target (null when unresolved), how it names it and whether others
  // would have fitted too.
  void JsonReference(uint32_t index, const outline::LabelView &value,
                     const outline::LabelView *hint, uint32_t target,
                     bool byName, bool ambiguous);
  // A problem: its node's index, its kind and why, in words.
  void JsonProblem(uint32_t index, std::string_view kind,
                   const outline::LabelView &reason);
  void TextProblem(uint32_t index, std::string_view kind,
                   const outline::LabelView &reason);
  void TextReference(uint32_t index, uint32_t target);
  // A label as a JSON string, for rows composed with Raw.
  void JsonText(const outline::LabelView &label) { JsonLabel(label); }
  void Raw(std::string_view text);
  // A label escaped as a text line shows it, or as a JSON string (quotes
  // included), for lines put together elsewhere.
  void TextLabel(const outline::LabelView &label);
  void JsonLabel(const outline::LabelView &label);
  bool Flush(); // false when the output could not be written

private:
  static constexpr std::size_t kFlushAt = 1 << 20;
  void Unit(char32_t c);    // UTF-8
  void HexUnit(char32_t c); // backslash, u, four hex digits
  void MaybeFlush() {
    if (buf_.size() >= kFlushAt)
      Flush();
  }

  std::FILE *out_;
  std::string buf_;
  bool failed_ = false;
};

} // namespace tools
