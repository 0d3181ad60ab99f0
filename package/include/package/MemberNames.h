#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What a member's name says: how its bytes decode to text, and whether the
// member is an ODX document.
namespace package {

enum class MemberKind { Document, Other };

// A name ending, ignoring ASCII case, in ".xml", ".odx" or ".odx-" followed
// by one or more ASCII letters (".odx-d", ".odx-cs", ...) is a document.
MemberKind KindOfName(std::u16string_view name);

enum class NameEncoding { Utf8, Cp437 };

// Never fails: a byte sequence that is not UTF-8 becomes one U+FFFD per
// maximal invalid subpart.  Bytes below 0x80 (control bytes included) stay
// as they are in both encodings.
std::u16string DecodeName(std::string_view raw, NameEncoding encoding);

} // namespace package
