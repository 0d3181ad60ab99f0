// Entity decoding of arbitrary UTF-16 text, compared with a plain
// restatement of the rules; in-place and separate destinations must agree.

#include "fuzz/FuzzSupport.h"
#include "fuzz/Oracles.h"
#include "xml/cvexXML.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::u16string units = fuzz::TakeUnits(data, size, size / 2);
  cvexString source;
  source.AssignWide(units.c_str());
  const int32_t sourceLength = source.Length();

  cvexXML reader;
  cvexString separate(3, 1);
  separate.tag = 7;
  reader.DecodeEntities(source, separate);
  FUZZ_CHECK(separate.Length() <= sourceLength);
  FUZZ_CHECK(separate.tag == 0);
  FUZZ_CHECK(fuzz::View(separate) == fuzz::DecodeOracle(units));
  // The source is left alone when it is not the destination.
  FUZZ_CHECK(fuzz::View(source) == fuzz::ToFirstNul(units));

  cvexString inPlace;
  inPlace.AssignWide(units.c_str());
  reader.DecodeEntities(inPlace, inPlace);
  FUZZ_CHECK(fuzz::View(inPlace) == fuzz::View(separate));
  return 0;
}
