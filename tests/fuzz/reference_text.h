// Independent reference versions of the text rules the fuzz targets check
// focusctl against. Written from the definitions (code point ranges, the
// Base64 alphabet), not from focusctl's own code, so that a shared mistake is
// unlikely.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

// Aborts with a message when a property does not hold; libFuzzer then saves
// the input that broke it.
#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (false)

namespace focusctl::fuzz {

// Well-formed UTF-8: each sequence decodes to a scalar value, encoded in the
// shortest form.
bool referenceWellFormed(std::string_view bytes);

// Every maximal ill-formed subpart replaced by one U+FFFD. A subpart is the
// longest prefix that some well-formed sequence starts with (at least one
// byte).
std::string referenceSanitize(std::string_view bytes);

// UTF-16 code units of well-formed UTF-8.
std::u16string referenceUtf8ToUtf16(std::string_view wellFormed);

// Standard Base64 with padding.
std::string referenceBase64Encode(std::string_view bytes);
// The bytes whose standard encoding is exactly `text`, if any.
std::optional<std::string> referenceBase64Decode(std::string_view text);

// Bytes up to the first NUL, as a C string argument can carry them.
std::string uptoNul(std::string_view bytes);

}  // namespace focusctl::fuzz
