// The one-line JSON form of replies, including texts that other applications
// hand us and that need escaping or are not even well-formed UTF-8.
#include "app/json_writer.h"
#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

std::string textMember(std::string_view text) {
  return serializeReply({{"t", std::string(text)}});
}

TEST(JsonWriter, EscapesWhatJsonRequiresAndTheSolidus) {
  struct Case {
    std::string text;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"a\nb", R"({"t":"a\nb"})"},
      {"say \"hi\"", R"({"t":"say \"hi\""})"},
      {"a/b", R"({"t":"a\/b"})"},
      {"C:\\dir", R"({"t":"C:\\dir"})"},
      {"</script>", R"({"t":"<\/script>"})"},
      {"", R"({"t":""})"},
      // Non-ASCII stays as UTF-8 bytes, not \u escapes.
      {"h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80", "{\"t\":\"h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80\"}"},
      // DEL is not a control character for JSON.
      {"\x7F", "{\"t\":\"\x7F\"}"},
  };
  for (const Case& c : cases) EXPECT_EQ(textMember(c.text), c.written);
}

TEST(JsonWriter, EveryControlCharacterIsEscapedAndRoundTrips) {
  for (int c = 0; c < 0x20; ++c) {
    const std::string text = std::string("x") + static_cast<char>(c) + "y";
    const std::string out = textMember(text);
    SCOPED_TRACE(out);
    for (char byte : out) EXPECT_GE(static_cast<unsigned char>(byte), 0x20);
    EXPECT_EQ(json::parse(out)["t"], text);
  }
}

TEST(JsonWriter, ValueKindsAndCompactForm) {
  const Reply reply = {{"ok", false},
                       {"yes", true},
                       {"min", INT32_MIN},
                       {"max", INT32_MAX},
                       {"zero", 0},
                       {"s", std::string("x")}};
  const std::string out = serializeReply(reply);
  EXPECT_EQ(out.find_first_of(" \n\t"), std::string::npos) << out;
  for (const char* member : {R"("ok":false)", R"("yes":true)",
                             R"("min":-2147483648)", R"("max":2147483647)",
                             R"("zero":0)", R"("s":"x")"}) {
    EXPECT_NE(out.find(member), std::string::npos) << member << " in " << out;
  }
  EXPECT_EQ(json::parse(out), json({{"ok", false},
                                    {"yes", true},
                                    {"min", INT32_MIN},
                                    {"max", INT32_MAX},
                                    {"zero", 0},
                                    {"s", "x"}}));
  EXPECT_EQ(serializeReply({{"ok", true}}), R"({"ok":true})");
}

class JsonReplyTest : public SimTest {};

TEST_F(JsonReplyTest, IllFormedTextFromAnApplicationBecomesReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string value;
    std::string reported;
  };
  const std::vector<Case> cases = {
      {"\xFF", fffd},
      {"a\xC3", "a" + fffd},
      {"\xC3(", fffd + "("},
      {"\xC0\xAF", fffd + fffd},                // overlong
      {"\xED\xA0\x80", fffd + fffd + fffd},     // a surrogate
      {"\xF0\x9F\x98", fffd},                   // cut-off emoji
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"ok \xE2\x82\xAC\x80 end", "ok \xE2\x82\xAC" + fffd + " end"},
      {"\n\"/\\\xFF", "\n\"/\\" + fffd},
  };
  const sim::ElementId field = mailWithField();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reported);
    sim::element(field).attributes["AXValue"] = sim::text(c.value);
    sim::element(field).attributes["AXTitle"] = sim::text(c.value);
    const json reply = run({"read"});
    EXPECT_EQ(reply["text"], c.reported);
    EXPECT_EQ(reply["title"], c.reported);
  }
}

TEST_F(JsonReplyTest, SpecialCharactersInASnapshotKeepItOneLine) {
  const sim::ElementId field = mailWithField();
  const std::string value = "line1\nline2\r\n\t\"quoted\" a/b c\\d \xC3\xA9";
  sim::element(field).attributes["AXValue"] = sim::text(value);
  const std::string out = runRaw({"read"});
  EXPECT_NE(out.find(R"(line1\nline2)"), std::string::npos) << out;
  EXPECT_NE(out.find(R"(\"quoted\" a\/b c\\d )"
                     "\xC3\xA9"),
            std::string::npos)
      << out;
  EXPECT_EQ(json::parse(out)["text"], value);
}

}  // namespace
}  // namespace focusctl::test
