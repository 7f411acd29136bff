// decodeBase64Text: the encoding of any bytes decodes back to them exactly
// when they are well-formed UTF-8, and a text it accepts is canonical: it
// re-encodes to itself.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "ax/base64_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> roundTrip =
      focusctl::decodeBase64Text(focusctl::fuzz::base64Encode(input));
  if (focusctl::isWellFormedUtf8(input)) {
    FUZZ_CHECK(roundTrip == input);
  } else {
    FUZZ_CHECK(!roundTrip);
  }
  const std::optional<std::string> decoded = focusctl::decodeBase64Text(input);
  if (decoded) {
    FUZZ_CHECK(focusctl::fuzz::base64Encode(*decoded) == input);
    FUZZ_CHECK(focusctl::isWellFormedUtf8(*decoded));
  }
  return 0;
}
