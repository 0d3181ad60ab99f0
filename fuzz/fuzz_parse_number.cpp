// ParseNumber in both modes over arbitrary UTF-16 text, compared with a
// plain two-scan restatement; the place-value tables at any exponent.

#include "fuzz/FuzzSupport.h"
#include "fuzz/Oracles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  const int8_t exponent = static_cast<int8_t>(data[0]);
  ++data;
  --size;
  std::u16string units = fuzz::TakeUnits(data, size, size / 2);
  cvexString text;
  text.AssignWide(units.c_str());
  const std::u16string_view view = fuzz::ToFirstNul(units);

  FUZZ_CHECK(text.ParseNumber(true) == fuzz::ParseNumberOracle(view, true));
  FUZZ_CHECK(text.ParseNumber(false) == fuzz::ParseNumberOracle(view, false));
  FUZZ_CHECK(text.ParseHex() == text.ParseNumber(true));

  int64_t hex = 0;
  int64_t dec = 0;
  if (exponent >= 0 && exponent <= 7) {
    hex = 1;
    for (int k = 0; k < exponent; ++k)
      hex *= 16;
  }
  if (exponent >= 0 && exponent <= 9) {
    dec = 1;
    for (int k = 0; k < exponent; ++k)
      dec *= 10;
  }
  FUZZ_CHECK(cvexString::HexPlaceValue(exponent) == static_cast<int32_t>(hex));
  FUZZ_CHECK(cvexString::DecimalPlaceValue(exponent) == dec);
  return 0;
}
