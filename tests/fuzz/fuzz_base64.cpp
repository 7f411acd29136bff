// decodeBase64Text accepts exactly the canonical standard Base64 of
// well-formed UTF-8, and gives those bytes back unchanged.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/utf8.h"
#include "ax/base64_text.h"
#include "reference_text.h"

namespace fz = focusctl::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The input as bytes to send: their encoding decodes back to them exactly
  // when they are well-formed UTF-8.
  const std::optional<std::string> roundTrip =
      focusctl::decodeBase64Text(fz::referenceBase64Encode(input));
  if (fz::referenceWellFormed(input)) {
    FUZZ_CHECK(roundTrip.has_value() && *roundTrip == input);
  } else {
    FUZZ_CHECK(!roundTrip.has_value());
  }

  // The input as an argument: accepted exactly when it is the canonical
  // encoding of well-formed UTF-8, so re-encoding gives the input back.
  const std::optional<std::string> decoded = focusctl::decodeBase64Text(input);
  const std::optional<std::string> expected = fz::referenceBase64Decode(input);
  const bool acceptable =
      expected.has_value() && fz::referenceWellFormed(*expected);
  FUZZ_CHECK(decoded.has_value() == acceptable);
  if (decoded) {
    FUZZ_CHECK(*decoded == *expected);
    FUZZ_CHECK(fz::referenceBase64Encode(*decoded) == input);
    FUZZ_CHECK(focusctl::isWellFormedUtf8(*decoded));
  }
  return 0;
}
