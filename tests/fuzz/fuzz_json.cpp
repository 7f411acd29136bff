// serializeReply of any reply, with any bytes in keys and texts: one line of
// JSON that a strict parser reads back as the same members, ill-formed text
// replaced as sanitizeUtf8 does. The exact escapes are the unit table's.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "app/json_writer.h"
#include "common/utf8.h"
#include "fuzz_check.h"

using json = nlohmann::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  focusctl::Reply reply;
  json expected = json::object();
  const std::size_t count = provider.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < count && provider.remaining_bytes() > 0; ++i) {
    const std::string key = provider.ConsumeRandomLengthString(16);
    switch (provider.ConsumeIntegralInRange(0, 2)) {
      case 0: reply[key] = provider.ConsumeBool(); break;
      case 1: reply[key] = provider.ConsumeIntegral<std::int32_t>(); break;
      default: reply[key] = provider.ConsumeRandomLengthString(64);
    }
  }
  for (const auto& [key, value] : reply) {
    json& member = expected[focusctl::sanitizeUtf8(key)];
    std::visit([&member](const auto& v) { member = v; }, value);
    if (member.is_string()) member = focusctl::sanitizeUtf8(member.get<std::string>());
  }

  const std::string line = focusctl::serializeReply(reply);
  FUZZ_CHECK(line.find_first_of("\n\r") == std::string::npos);
  FUZZ_CHECK(json::accept(line));
  // Two ill-formed keys may come out as the same text; then only the count
  // of members is known.
  const json parsed = json::parse(line);
  if (expected.size() == reply.size()) {
    FUZZ_CHECK(parsed == expected);
  }
  const std::string rest = provider.ConsumeRemainingBytesAsString();
  const std::string clean = focusctl::sanitizeUtf8(rest);
  FUZZ_CHECK(focusctl::isWellFormedUtf8(clean));
  FUZZ_CHECK((clean == rest) == focusctl::isWellFormedUtf8(rest));
  return 0;
}
