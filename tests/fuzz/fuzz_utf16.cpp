// utf16ToUtf8 always gives well-formed UTF-8: well-formed UTF-16 round-trips
// unchanged and each unpaired surrogate becomes exactly one U+FFFD.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/utf8.h"
#include "reference_text.h"

namespace fz = focusctl::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  // What the text must come back as: unpaired surrogates replaced.
  std::u16string expected;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      expected += unit;
      expected += units[++i];
    } else {
      expected += high || low ? u'\uFFFD' : unit;
    }
  }

  const std::string utf8 = focusctl::utf16ToUtf8(units);
  FUZZ_CHECK(fz::referenceWellFormed(utf8));
  FUZZ_CHECK(focusctl::isWellFormedUtf8(utf8));
  FUZZ_CHECK(fz::referenceUtf8ToUtf16(utf8) == expected);
  return 0;
}
