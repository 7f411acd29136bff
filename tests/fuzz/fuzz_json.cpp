// serializeReply of any reply, with any bytes in keys and texts: one line of
// compact JSON that a strict parser accepts and that gives back the same
// members, ill-formed UTF-8 turned into U+FFFD.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "app/json_writer.h"
#include "app/utf8.h"
#include "reference_text.h"

namespace fz = focusctl::fuzz;
using focusctl::ReplyValue;
using Member = std::pair<std::string, ReplyValue>;
using json = nlohmann::json;

namespace {

// Collects the members of a flat object; anything else is a failure.
class Members : public nlohmann::json_sax<json> {
 public:
  std::vector<Member> members;
  int depth = 0;

  bool null() override { return false; }
  bool boolean(bool value) override { return add(value); }
  bool number_integer(number_integer_t value) override {
    if (value < std::numeric_limits<std::int32_t>::min()) return false;
    return add(static_cast<std::int32_t>(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    if (value > std::numeric_limits<std::int32_t>::max()) return false;
    return add(static_cast<std::int32_t>(value));
  }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool string(string_t& value) override { return add(value); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return ++depth == 1; }
  bool key(string_t& value) override {
    key_ = value;
    return true;
  }
  bool end_object() override { return --depth == 0; }
  bool start_array(std::size_t) override { return false; }
  bool end_array() override { return false; }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool add(ReplyValue value) {
    if (depth != 1) return false;
    members.emplace_back(key_, std::move(value));
    return true;
  }
  std::string key_;
};

// Compact, and escaped the way the controller is promised: no white space
// between tokens, no raw control character or solidus inside a string, a line
// feed as \n, and \u only for control characters (everything else as
// itself).
bool writtenAsPromised(const std::string& line) {
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (!inString) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') return false;
      if (c == '"') inString = true;
      continue;
    }
    if (c < 0x20 || c == '/') return false;
    if (c == '"') inString = false;
    if (c != '\\') continue;
    if (++i == line.size()) return false;
    if (line[i] != 'u') continue;
    if (i + 4 >= line.size()) return false;
    unsigned unit = 0;
    const char* hex = line.data() + i + 1;
    if (std::from_chars(hex, hex + 4, unit, 16).ptr != hex + 4) return false;
    if (unit >= 0x20 || unit == '\n') return false;
    i += 4;
  }
  return !inString;
}

ReplyValue sanitized(const ReplyValue& value) {
  if (const auto* text = std::get_if<std::string>(&value))
    return fz::referenceSanitize(*text);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider provider(data, size);
  focusctl::Reply reply;
  const std::size_t count = provider.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < count && provider.remaining_bytes() > 0; ++i) {
    std::string key = provider.ConsumeRandomLengthString(16);
    switch (provider.ConsumeIntegralInRange(0, 2)) {
      case 0:
        reply[key] = provider.ConsumeBool();
        break;
      case 1:
        reply[key] = provider.ConsumeIntegral<std::int32_t>();
        break;
      default:
        reply[key] = provider.ConsumeRandomLengthString(64);
        break;
    }
  }
  const std::string rest = provider.ConsumeRemainingBytesAsString();

  // The UTF-8 helpers the writer relies on, against the reference.
  FUZZ_CHECK(focusctl::isWellFormedUtf8(rest) == fz::referenceWellFormed(rest));
  FUZZ_CHECK(focusctl::sanitizeUtf8(rest) == fz::referenceSanitize(rest));

  const std::string line = focusctl::serializeReply(reply);
  FUZZ_CHECK(line.find_first_of("\n\r") == std::string::npos);
  FUZZ_CHECK(writtenAsPromised(line));
  FUZZ_CHECK(json::accept(line));

  Members parsed;
  FUZZ_CHECK(json::sax_parse(line, &parsed));
  std::vector<Member> expected;
  for (const auto& [key, value] : reply) {
    expected.emplace_back(fz::referenceSanitize(key), sanitized(value));
  }
  // Member order is free; compare as multisets (two ill-formed keys may come
  // out as the same text).
  std::sort(expected.begin(), expected.end());
  std::sort(parsed.members.begin(), parsed.members.end());
  FUZZ_CHECK(parsed.members == expected);
  return 0;
}
