// inferPlaceholder: the result is one of its inputs or the empty text, and
// it does not change when the value is spelled with another canonical
// decomposition or padded with White_Space. Texts come from a small alphabet
// whose decompositions are known; which characters are not White_Space and
// what equals only by compatibility are the unit table's.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ax/placeholder.h"
#include "fuzz_check.h"

namespace {

struct Token {
  std::string_view text;
  std::string_view decomposed;  // its canonical decomposition
};

// Letters and decomposable letters (Kelvin and Angstrom signs decompose
// canonically; the ligature only by compatibility).
constexpr std::array<Token, 9> letters = {{
    {"a", "a"}, {"E", "E"}, {"K", "K"}, {"\u212A", "K"}, {"\u0301", "\u0301"},
    {"\u00E9", "e\u0301"}, {"\u00C5", "A\u030A"}, {"\u212B", "A\u030A"}, {"\uFB01", "\uFB01"},
}};
constexpr std::array<std::string_view, 13> whiteSpace = {
    " ", "\t", "\n", "\r", "\v", "\u0085", "\u00A0", "\u1680", "\u2000",
    "\u2028", "\u205F", "\u202F", "\u3000"};
constexpr std::array<std::string_view, 8> roles = {
    "AXTextField", "AXTextArea", "AXSearchField", "AXComboBox",
    "AXButton",    " AXTextField", "AXTextfield", ""};

struct Text {
  std::string spelled, decomposed;
};

Text someLetters(FuzzedDataProvider& p, std::size_t min) {
  Text text;
  for (std::size_t n = p.ConsumeIntegralInRange<std::size_t>(min, 5); n > 0; --n) {
    const Token& t = letters[p.ConsumeIntegralInRange<std::size_t>(0, letters.size() - 1)];
    text.spelled += t.text;
    text.decomposed += t.decomposed;
  }
  return text;
}

std::string someSpace(FuzzedDataProvider& p) {
  std::string space;
  for (std::size_t n = p.ConsumeIntegralInRange<std::size_t>(0, 3); n > 0; --n) {
    space += whiteSpace[p.ConsumeIntegralInRange<std::size_t>(0, whiteSpace.size() - 1)];
  }
  return space;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider p(data, size);
  const std::string_view role = roles[p.ConsumeIntegralInRange<std::size_t>(0, roles.size() - 1)];
  const Text base = someLetters(p, 1);
  const Text other = someLetters(p, 0);
  const std::string title = p.ConsumeBool() ? base.spelled : other.spelled;
  const std::string description = p.ConsumeBool() ? base.spelled : other.spelled;
  const std::string placeholder = p.ConsumeIntegralInRange(0, 7) == 0 ? other.spelled : "";
  const auto infer = [&](const std::string& value) {
    return focusctl::inferPlaceholder(role, title, description, value, placeholder);
  };

  const std::string result = infer(base.spelled);
  FUZZ_CHECK(result.empty() || result == title || result == description ||
             result == placeholder);
  // Another spelling of the same value, padded with White_Space.
  FUZZ_CHECK(infer(someSpace(p) + base.decomposed + someSpace(p)) == result);
  return 0;
}
