#include "app/json_writer.h"

#include <charconv>
#include <type_traits>

#include "app/utf8.h"

namespace focusctl {

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  // Texts from other applications may be ill-formed; only the sanitised form
  // can be written as a JSON string.
  const std::string clean =
      isWellFormedUtf8(text) ? std::string() : sanitizeUtf8(text);
  const std::string_view source = clean.empty() ? text : clean;
  out += '"';
  for (const char c : source) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += "\\/"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += hex[(c >> 4) & 0xF];
          out += hex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

std::string serializeReply(const Reply& reply) {
  std::string out = "{";
  bool first = true;
  for (const auto& [key, value] : reply) {
    if (!first) out += ',';
    first = false;
    appendJsonString(out, key);
    out += ':';
    std::visit(
        [&out](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, bool>) {
            out += v ? "true" : "false";
          } else if constexpr (std::is_same_v<T, std::int32_t>) {
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
            out.append(digits, end);
          } else {
            appendJsonString(out, v);
          }
        },
        value);
  }
  out += '}';
  return out;
}

}  // namespace focusctl
