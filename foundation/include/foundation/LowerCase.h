#pragma once

#include <array>

// The Unicode simple lower-case mapping of one UTF-16 unit, tabulated once
// for all 65,536 units (a surrogate stays as it is): cvexString::ToLower and
// the filter search must agree on it to the unit, or a term would find
// different nodes than the label shows.
using LowerCaseTable = std::array<char16_t, 0x10000>;
const LowerCaseTable &LowerCase();
