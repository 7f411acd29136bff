#include "ax/attribute_readers.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace focusctl {
namespace {

// Truncated toward zero, or nothing outside -2^63 <= v < 2^63 or when not
// finite: there the conversion has no defined result.
std::optional<std::int64_t> wholeNumber(double v) {
  constexpr double limit = 9223372036854775808.0;  // 2^63, exact in a double
  if (!std::isfinite(v) || v < -limit || v >= limit) return std::nullopt;
  return static_cast<std::int64_t>(std::trunc(v));
}

void appendNumber(std::string& out, std::int64_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, end);
}

}  // namespace

std::string geometryText(double first, double second) {
  const std::optional<std::int64_t> a = wholeNumber(first);
  const std::optional<std::int64_t> b = wholeNumber(second);
  if (!a || !b) return std::string();
  std::string text = "{";
  appendNumber(text, *a);
  text += ',';
  appendNumber(text, *b);
  text += '}';
  return text;
}

std::string stringAttribute(const platform::Element& element,
                            std::string_view attribute) {
  platform::CopiedAttribute copied =
      platform::copyAttributeValue(element, attribute);
  if (copied.code != platform::code::success) return std::string();
  if (auto* text = std::get_if<std::string>(&copied.value)) {
    return std::move(*text);
  }
  return std::string();
}

std::string pointAttribute(const platform::Element& element,
                           std::string_view attribute) {
  const platform::CopiedAttribute copied =
      platform::copyAttributeValue(element, attribute);
  if (copied.code != platform::code::success) return std::string();
  if (const auto* point = std::get_if<platform::Point>(&copied.value)) {
    return geometryText(point->x, point->y);
  }
  return std::string();
}

std::string sizeAttribute(const platform::Element& element,
                          std::string_view attribute) {
  const platform::CopiedAttribute copied =
      platform::copyAttributeValue(element, attribute);
  if (copied.code != platform::code::success) return std::string();
  if (const auto* size = std::get_if<platform::Size>(&copied.value)) {
    return geometryText(size->width, size->height);
  }
  return std::string();
}

}  // namespace focusctl
