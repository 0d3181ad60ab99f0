#include "tools/OutlineWriter.h"

#include "platform/Utf8.h"

namespace tools {
namespace {

const char kHex[] = "0123456789abcdef";

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Calls f(codePoint, isLoneSurrogate) for each character of the label.
template <typename F> void ForEachChar(const outline::LabelView &label, F &&f) {
  if (label.narrow) {
    for (uint32_t i = 0; i < label.length; ++i)
      f(char32_t{label.narrow[i]}, false);
    return;
  }
  for (uint32_t i = 0; i < label.length; ++i) {
    const char16_t u = label.wide[i];
    if (IsHighSurrogate(u) && i + 1 < label.length &&
        IsLowSurrogate(label.wide[i + 1])) {
      const char16_t lo = label.wide[++i];
      f(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(lo) - 0xDC00),
        false);
    } else {
      f(char32_t{u}, IsHighSurrogate(u) || IsLowSurrogate(u));
    }
  }
}

// The escapes both formats share: line breaks and tab by name.
const char *NamedEscape(char32_t c) {
  switch (c) {
  case '\n':
    return "\\n";
  case '\r':
    return "\\r";
  case '\t':
    return "\\t";
  default:
    return nullptr;
  }
}

} // namespace

void OutlineWriter::HexUnit(char32_t c) {
  buf_ += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4)
    buf_.push_back(kHex[(c >> shift) & 0xF]);
}

void OutlineWriter::Unit(char32_t c) { platform::AppendUtf8(buf_, c); }

void OutlineWriter::TextLabel(const outline::LabelView &label) {
  ForEachChar(label, [this](char32_t c, bool lone) {
    if (lone)
      return HexUnit(c);
    if (const char *named = NamedEscape(c))
      buf_ += named;
    else if (c == '\\')
      buf_ += "\\\\";
    else if (c < 0x20 || c == 0x7F) {
      buf_ += "\\x";
      buf_.push_back(kHex[c >> 4]);
      buf_.push_back(kHex[c & 0xF]);
    } else
      Unit(c);
  });
}

void OutlineWriter::JsonLabel(const outline::LabelView &label) {
  buf_.push_back('"');
  ForEachChar(label, [this](char32_t c, bool lone) {
    if (const char *named = lone ? nullptr : NamedEscape(c))
      buf_ += named;
    else if (lone || c < 0x20)
      HexUnit(c);
    else if (c == '"' || c == '\\') {
      buf_.push_back('\\');
      buf_.push_back(static_cast<char>(c));
    } else
      Unit(c);
  });
  buf_.push_back('"');
}

void OutlineWriter::TextLine(uint32_t depth, const outline::LabelView &label,
                             const outline::LabelView &name) {
  buf_.append(depth > 1 ? 2 * std::size_t{depth - 1} : 0, ' ');
  TextLabel(label);
  if (name.length > 0) {
    buf_ += " [";
    TextLabel(name);
    buf_.push_back(']');
  }
  buf_.push_back('\n');
  MaybeFlush();
}

void OutlineWriter::JsonNode(uint32_t depth, int image,
                             const outline::LabelView &label,
                             const outline::LabelView &name) {
  buf_ += "{\"depth\":";
  buf_ += std::to_string(depth);
  buf_ += ",\"image\":";
  buf_ += std::to_string(image);
  buf_ += ",\"label\":";
  JsonLabel(label);
  if (name.length > 0) {
    buf_ += ",\"name\":";
    JsonLabel(name);
  }
  buf_ += "}\n";
  MaybeFlush();
}

void OutlineWriter::JsonReference(uint32_t index,
                                  const outline::LabelView &value,
                                  const outline::LabelView *hint,
                                  uint32_t target, bool byName,
                                  bool ambiguous) {
  buf_ += "{\"index\":";
  buf_ += std::to_string(index);
  buf_ += ",\"ref\":";
  JsonLabel(value);
  if (!byName) {
    buf_ += ",\"docref\":";
    if (hint)
      JsonLabel(*hint);
    else
      buf_ += "null";
  }
  buf_ += ",\"target\":";
  buf_ +=
      target == outline::kNoNode ? std::string("null") : std::to_string(target);
  buf_ += byName ? ",\"by\":\"name\"" : ",\"by\":\"id\"";
  buf_ += ambiguous ? ",\"ambiguous\":true}\n" : ",\"ambiguous\":false}\n";
  MaybeFlush();
}

void OutlineWriter::JsonProblem(uint32_t index, std::string_view kind,
                                const outline::LabelView &reason) {
  buf_ += "{\"index\":";
  buf_ += std::to_string(index);
  buf_ += ",\"kind\":\"";
  buf_ += kind;
  buf_ += "\",\"reason\":";
  JsonLabel(reason);
  buf_ += "}\n";
  MaybeFlush();
}

void OutlineWriter::TextProblem(uint32_t index, std::string_view kind,
                                const outline::LabelView &reason) {
  buf_ += std::to_string(index);
  buf_ += ' ';
  buf_ += kind;
  buf_ += ": ";
  TextLabel(reason);
  buf_.push_back('\n');
  MaybeFlush();
}

void OutlineWriter::TextReference(uint32_t index, uint32_t target) {
  buf_ += std::to_string(index);
  buf_ += " -> ";
  buf_ += target == outline::kNoNode ? std::string("unresolved")
                                     : std::to_string(target);
  buf_.push_back('\n');
  MaybeFlush();
}

void OutlineWriter::JsonHit(uint32_t index, const outline::LabelView &label) {
  buf_ += "{\"index\":";
  buf_ += std::to_string(index);
  buf_ += ",\"label\":";
  JsonLabel(label);
  buf_ += "}\n";
  MaybeFlush();
}

void OutlineWriter::Raw(std::string_view text) {
  buf_ += text;
  MaybeFlush();
}

bool OutlineWriter::Flush() {
  if (!buf_.empty() &&
      std::fwrite(buf_.data(), 1, buf_.size(), out_) != buf_.size())
    failed_ = true;
  buf_.clear();
  if (std::fflush(out_) != 0)
    failed_ = true;
  return !failed_;
}

} // namespace tools
