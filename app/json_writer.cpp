#include "app/json_writer.h"

#include <array>
#include <charconv>
#include <type_traits>

#include "common/utf8.h"

namespace focusctl {
namespace {

// Gathered output is handed on once it holds this much.
constexpr std::size_t pieceBytes = 64 * 1024;

void handOnFull(std::string& out, const JsonSink& write) {
  if (out.size() < pieceBytes) return;
  write(out);
  out.clear();
}

// The bytes JSON text escapes here: control characters, quote, backslash
// and solidus.
constexpr std::array<bool, 256> escapedBytes = [] {
  std::array<bool, 256> escaped{};
  for (std::size_t c = 0; c < 0x20; ++c) escaped[c] = true;
  escaped['"'] = escaped['\\'] = escaped['/'] = true;
  return escaped;
}();

// Appends well-formed UTF-8, escaped; runs that need no escape go in whole.
void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::size_t plain = 0;  // where the run not yet appended starts
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!escapedBytes[static_cast<unsigned char>(c)]) continue;
    out.append(text.substr(plain, i - plain));
    plain = i + 1;
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
        out += "\\u00";
        out += hex[(c >> 4) & 0xF];
        out += hex[c & 0xF];
    }
  }
  out.append(text.substr(plain));
}

// Appends the JSON string literal (quotes included) for a UTF-8 text, a
// piece of the text at a time.
void appendJsonString(std::string& out, std::string_view text, const JsonSink& write) {
  out += '"';
  while (!text.empty()) {
    const std::string_view piece = text.substr(0, pieceLength(text, pieceBytes));
    text.remove_prefix(piece.size());
    // Texts from other applications may be ill-formed; only the sanitised
    // form can be written as a JSON string.
    if (isWellFormedUtf8(piece)) {
      appendEscaped(out, piece);
    } else {
      appendEscaped(out, sanitizeUtf8(piece));
    }
    handOnFull(out, write);
  }
  out += '"';
}

}  // namespace

void writeReply(const Reply& reply, const JsonSink& write) {
  std::string out = "{";
  bool first = true;
  for (const auto& [key, value] : reply) {
    if (!first) out += ',';
    first = false;
    appendJsonString(out, key, write);
    out += ':';
    std::visit(
        [&out, &write](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, bool>) {
            out += v ? "true" : "false";
          } else if constexpr (std::is_same_v<T, std::int32_t>) {
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
            out.append(digits, end);
          } else {
            appendJsonString(out, v, write);
          }
        },
        value);
  }
  out += '}';
  write(out);
}

std::string serializeReply(const Reply& reply) {
  std::string json;
  writeReply(reply, [&json](std::string_view piece) { json += piece; });
  return json;
}

}  // namespace focusctl
