// inferPlaceholder: the result is always one of its inputs (title,
// description, placeholder) or the empty text, and the same for the same
// inputs. Texts built from a small alphabet whose canonical decompositions
// and White_Space membership are known are checked against a full reference
// of the rule.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ax/placeholder.h"
#include "reference_text.h"

namespace {

struct Token {
  std::string_view text;
  std::string_view decomposed;  // its canonical decomposition
  bool whiteSpace;
};

constexpr std::array<Token, 27> tokens = {{
    {"a", "a", false},
    {"E", "E", false},
    {"K", "K", false},
    {"\u212A", "K", false},  // Kelvin sign
    {"e", "e", false},
    {"\u0301", "\u0301", false},
    {"\u00E9", "e\u0301", false},  // e with acute
    {"A", "A", false},
    {"\u030A", "\u030A", false},
    {"\u00C5", "A\u030A", false},
    {"\u212B", "A\u030A", false},  // Angstrom
    {"\u200B", "\u200B", false},
    {"\u180E", "\u180E", false},  // not White_Space
    {"\uFEFF", "\uFEFF", false},
    {" ", " ", true},
    {"\t", "\t", true},
    {"\n", "\n", true},
    {"\r", "\r", true},
    {"\v", "\v", true},
    {"\u0085", "\u0085", true},
    {"\u00A0", "\u00A0", true},
    {"\u1680", "\u1680", true},
    {"\u2000", "\u2002", true},  // en quad
    {"\u2002", "\u2002", true},
    {"\u2028", "\u2028", true},
    {"\u205F", "\u205F", true},
    {"\u3000", "\u3000", true},
}};

constexpr std::array<std::string_view, 8> roles = {
    "AXTextField", "AXTextArea",   "AXSearchField", "AXComboBox",
    "AXButton",    " AXTextField", "AXTextfield",   ""};

using Tokens = std::vector<std::size_t>;

std::string spelled(const Tokens& text) {
  std::string out;
  for (const std::size_t t : text) out += tokens[t].text;
  return out;
}

// Trimmed, then canonically decomposed.
std::string comparable(Tokens text) {
  while (!text.empty() && tokens[text.back()].whiteSpace) text.pop_back();
  const auto first = std::find_if(text.begin(), text.end(), [](std::size_t t) {
    return !tokens[t].whiteSpace;
  });
  std::string out;
  for (auto it = first; it != text.end(); ++it) out += tokens[*it].decomposed;
  return out;
}

Tokens randomTokens(FuzzedDataProvider& provider) {
  Tokens text(provider.ConsumeIntegralInRange<std::size_t>(0, 6));
  for (std::size_t& t : text)
    t = provider.ConsumeIntegralInRange<std::size_t>(0, tokens.size() - 1);
  return text;
}

// Often a variant of the base text, so that matches are common.
Tokens someText(FuzzedDataProvider& provider, const Tokens& base) {
  switch (provider.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return {};
    case 1:
      return randomTokens(provider);
    default: {
      Tokens text = randomTokens(provider);  // leading part
      text.insert(text.end(), base.begin(), base.end());
      const Tokens tail = randomTokens(provider);
      text.insert(text.end(), tail.begin(), tail.end());
      return text;
    }
  }
}

std::string referenceRule(std::string_view role, const Tokens& title,
                          const Tokens& description, const Tokens& value,
                          const Tokens& placeholder) {
  if (!placeholder.empty()) return spelled(placeholder);
  if (value.empty()) return "";
  if (std::find(roles.begin(), roles.begin() + 4, role) == roles.begin() + 4)
    return "";
  const std::string wanted = comparable(value);
  if (!title.empty() && comparable(title) == wanted) return spelled(title);
  if (comparable(description) == wanted) return spelled(description);
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool fromTokens = provider.ConsumeBool();
  std::string role(
      roles[provider.ConsumeIntegralInRange<std::size_t>(0, roles.size() - 1)]);
  std::string title, description, value, placeholder, expected;
  if (fromTokens) {
    const Tokens base = randomTokens(provider);
    const Tokens t = someText(provider, base), d = someText(provider, base),
                 v = someText(provider, base);
    const Tokens p = provider.ConsumeIntegralInRange(0, 7) == 0
                         ? randomTokens(provider)
                         : Tokens{};
    title = spelled(t), description = spelled(d), value = spelled(v),
    placeholder = spelled(p);
    expected = referenceRule(role, t, d, v, p);
  } else {
    if (provider.ConsumeBool()) role = provider.ConsumeRandomLengthString(16);
    title = provider.ConsumeRandomLengthString(32);
    description = provider.ConsumeRandomLengthString(32);
    value = provider.ConsumeRandomLengthString(32);
    placeholder =
        provider.ConsumeBool() ? provider.ConsumeRandomLengthString(8) : "";
  }

  const std::string result =
      focusctl::inferPlaceholder(role, title, description, value, placeholder);
  FUZZ_CHECK(result.empty() || result == title || result == description ||
             result == placeholder);
  FUZZ_CHECK(result != value || value == title || value == description ||
             value == placeholder || value.empty());
  FUZZ_CHECK(result == focusctl::inferPlaceholder(role, title, description,
                                                  value, placeholder));
  if (!placeholder.empty()) FUZZ_CHECK(result == placeholder);
  if (placeholder.empty() && value.empty()) FUZZ_CHECK(result.empty());
  // No other text is canonically equivalent to one of the four role names.
  const bool textEntry =
      std::find(roles.begin(), roles.begin() + 4, role) != roles.begin() + 4;
  if (placeholder.empty() && !textEntry) FUZZ_CHECK(result.empty());
  if (fromTokens) FUZZ_CHECK(result == expected);
  return 0;
}
