// The pure text rules: process ids, the Base64 argument of `set`, geometry,
// the JSON writer and the placeholder rule (trimming and equality).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/application_commands.h"
#include "app/json_writer.h"
#include "common/utf8.h"
#include "ax/attribute_readers.h"
#include "ax/base64_text.h"
#include "ax/placeholder.h"
#include "ax/text_equality.h"

namespace focusctl {
namespace {

template <typename Out, typename In>
struct Case {
  In in;
  Out out;
};

TEST(ParseProcessId, StrictSignedDecimal) {
  const std::vector<Case<std::optional<std::int32_t>, std::string>> cases = {
      {"42", 42}, {"+0042", 42}, {"-0", 0}, {"-7", -7}, {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"0000000000002147483647", INT32_MAX},
      {"-000000000002147483648", INT32_MIN}, {std::string("42\0", 3), {}}, {"", {}},
      {"+", {}}, {"-", {}}, {"0x2A", {}}, {"+-42", {}}, {" 42", {}}, {"42\n", {}},
      {"2147483648", {}}, {"-2147483649", {}}, {"-99999999999", {}}, {"21474836470", {}},
      {"\xEF\xBC\x94\xEF\xBC\x92", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseProcessId(c.in), c.out) << c.in;
}

const std::string longText =
    "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZywgdHdpY2Ugb3Zl"
    "ciBhbmQgYWdhaW4u";

TEST(DecodeBase64Text, CanonicalStandardBase64OfUtf8Only) {
  const std::optional<std::string> refused;
  const std::vector<Case<std::optional<std::string>, std::string>> cases = {
      {"", ""}, {"aA==", "h"}, {"aGk=", "hi"}, {"aGk6", "hi:"},
      {longText, "The quick brown fox jumps over the lazy dog, twice over and again."},
      {"IGEJYg0KYyA=", " a\tb\r\nc "},
      {"77u/YQ==", "\xEF\xBB\xBF" "a"},  // the byte order mark stays
      {"0J/RgNC40LLQtdGCLCDQvNC40YA=", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80"},
      {"Pz8+", "?\?>"}, {"AA==", std::string(1, '\0')},
      // Wrapped, bad length or padding, URL-safe alphabet, a NUL.
      {longText.substr(0, 76) + "\n" + longText.substr(76), refused}, {"aGk", refused},
      {"aA==aGk=", refused}, {"aG=k", refused}, {"====", refused}, {"a===", refused},
      {"Pz8-", refused}, {"0J_RgNC40LLQtdGCLCDQvNC40YA=", refused},
      {std::string("aGk\0=", 5), refused},
      // Leftover bits set: not canonical.
      {"aB==", refused}, {"aGl=", refused}, {"aGm=", refused}, {"aGk+aB==", refused},
      // Not well-formed UTF-8: byte 255, cut off, surrogate, overlong, too big.
      {"/w==", refused}, {"ww==", refused}, {"7aCA", refused}, {"wK8=", refused},
      {"4ICA", refused}, {"9JCAgA==", refused},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeBase64Text(c.in), c.out) << c.in;
}

TEST(GeometryText, WholeNumbersTruncatedTowardZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double two63 = 9223372036854775808.0;
  const std::vector<Case<std::string, std::pair<double, double>>> cases = {
      {{12.7, -3.2}, "{12,-3}"}, {{-0.5, -0.0}, "{0,0}"}, {{-3.9, 3.9}, "{-3,3}"},
      {{-two63, 0}, "{-9223372036854775808,0}"},
      {{9223372036854774784.0, 1}, "{9223372036854774784,1}"}, {{two63, 0}, ""},
      {{0, -two63 * 2}, ""}, {{nan, 1}, ""}, {{1, -nan}, ""}, {{inf, 1}, ""}, {{1, -inf}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(geometryText(c.in.first, c.in.second), c.out)
        << c.in.first << ", " << c.in.second;
  }
}

TEST(JsonWriter, CompactEscapedAndWellFormed) {
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<Case<std::string, std::string>> cases = {
      {"a\nb\rc\td", R"("a\nb\rc\td")"}, {"say \"hi\"", R"("say \"hi\"")"},
      {"</script>", R"("<\/script>")"}, {"C:\\dir", R"("C:\\dir")"},
      {"", R"("")"}, {"\b\f\x01\x1F", R"("\b\f\u0001\u001f")"},
      // Non-ASCII stays UTF-8, DEL is no control character for JSON.
      {"h\xC3\xA9 \xF0\x9F\x98\x80\x7F", "\"h\xC3\xA9 \xF0\x9F\x98\x80\x7F\""},
      // Ill-formed text: each maximal ill-formed part becomes one U+FFFD.
      {"\xFF", '"' + fffd + '"'}, {"a\xC3", "\"a" + fffd + '"'},
      {"\xC3(", '"' + fffd + "(\""}, {"\xC0\xAF", '"' + fffd + fffd + '"'},
      {"\xED\xA0\x80", '"' + fffd + fffd + fffd + '"'},
      {"\xF0\x9F\x98", '"' + fffd + '"'},
      {"\xF4\x90\x80\x80", '"' + fffd + fffd + fffd + fffd + '"'},
      {"\xE2\x82\xAC\x80/", "\"\xE2\x82\xAC" + fffd + "\\/\""},
      // Written in pieces: none ends inside a character.
      {std::string(65535, 'a') + "\xE2\x82\xAC\xFF/",
       '"' + std::string(65535, 'a') + "\xE2\x82\xAC" + fffd + "\\/\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(serializeReply({{"t", c.in}}), "{\"t\":" + c.out + "}") << c.out;
  }
  EXPECT_EQ(serializeReply({{"ok", false}, {"yes", true}, {"min", INT32_MIN},
                            {"max", INT32_MAX}, {"zero", 0}, {"s", std::string("x")}}),
            R"({"max":2147483647,"min":-2147483648,"ok":false,"s":"x","yes":true,"zero":0})");
}

TEST(Utf16ToUtf8, PairsJoinedLoneSurrogatesReplaced) {
  const std::vector<Case<std::string, std::u16string>> cases = {
      {u"caf\u00E9 \U00010000\U0001F600\U0010FFFF", "caf\xC3\xA9 \xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
      {u"\xD800!\xDC00\xDBFF", "\xEF\xBF\xBD!\xEF\xBF\xBD\xEF\xBF\xBD"},
      {u"\xDC00\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(utf16ToUtf8(c.in), c.out) << c.out;
}

struct PlaceholderCase {
  const char* why;
  std::string role, title, description, value, placeholder, expected;
};

// Every White_Space code point.
const std::string white =
    "\t\n\v\f\r \xC2\x85\xC2\xA0\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x81\xE2\x80\x82\xE2\x80\x83"
    "\xE2\x80\x84\xE2\x80\x85\xE2\x80\x86\xE2\x80\x87\xE2\x80\x88\xE2\x80\x89\xE2\x80\x8A"
    "\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80";
const std::string emoji = "\xF0\x9F\x98\x80";
const std::string eAcute = "\xC3\xA9";        // é as one code point
const std::string eCombining = "e\xCC\x81";  // e + combining acute

// Twice that is longer than a piece the comparison decomposes at a time.
const std::string aaa(65534, 'a');

const std::vector<PlaceholderCase> placeholderCases = {
    {"own placeholder wins", "AXTextField", "Email", "Email", "Email", "Type here", "Type here"},
    {"own placeholder for any role", "AXButton", "", "", "", "x", "x"},
    {"title equals value", "AXTextField", "Email", "", "Email", "", "Email"},
    {"untrimmed title reported", "AXTextField", " Email\n", "", "Email", "", " Email\n"},
    {"value trimmed too", "AXTextField", "Email", "", "\tEmail  ", "", "Email"},
    {"title beats description", "AXTextField", "Email ", " Email", "Email", "", "Email "},
    {"empty title, description matches", "AXTextField", "", "Email", "Email", "", "Email"},
    {"description reported untrimmed", "AXTextArea", "Other", "  Email\t", "Email", "", "  Email\t"},
    {"neither matches", "AXTextField", "Name", "Your name", "Email", "", ""},
    {"case differs", "AXTextField", "email", "EMAIL", "Email", "", ""},
    {"composed title, decomposed value", "AXTextField", "Caf" + eAcute, "", "Caf" + eCombining, "", "Caf" + eAcute},
    {"decomposed description, composed value", "AXComboBox", "", "Caf" + eCombining, "Caf" + eAcute, "", "Caf" + eCombining},
    {"value 3.5 times as long as the title", "AXTextField", "\xCE\x90", "",
     "\xE1\xBE\xBE\xCC\x88\xCC\x81", "", "\xCE\x90"},
    {"equal over pieces", "AXTextArea", aaa + eAcute + aaa, "", aaa + eCombining + aaa, "", aaa + eAcute + aaa},
    {"different in a later piece", "AXTextArea", aaa + eAcute + aaa + "!", "", aaa + eCombining + aaa + "?", "", ""},
    {"marks reordered where a piece might end", "AXTextArea", aaa + "e\xCC\x81\xCC\xA3" + aaa, "",
     aaa + "e\xCC\xA3\xCC\x81" + aaa, "", aaa + "e\xCC\x81\xCC\xA3" + aaa},
    // Equality is canonical, not compatibility, decomposition.
    {"ligature", "AXTextField", "\xEF\xAC\x81", "", "fi", "", ""},
    // Trimming is by White_Space, nothing more.
    {"zero-width space kept", "AXTextField", "\xE2\x80\x8B" "Email", "", "Email", "", ""},
    {"byte order mark kept", "AXTextField", "\xEF\xBB\xBF" "Email", "", "Email", "", ""},
    {"Mongolian vowel separator kept", "AXTextField", "Email\xE1\xA0\x8E", "", "Email", "", ""},
    {"role: area", "AXTextArea", "Email", "", "Email", "", "Email"},
    {"role: search", "AXSearchField", "Email", "", "Email", "", "Email"},
    {"other role", "AXStaticText", "Email", "Email", "Email", "", ""},
    {"role with trailing space", "AXTextField ", "Email", "", "Email", "", ""},
    {"role in other case", "axtextfield", "Email", "", "Email", "", ""},
    {"empty value", "AXTextField", "Email", "Email", "", "", ""},
    {"white-space value, empty title: description examined", "AXTextField", "", "  ", " \t", "", "  "},
    {"white-space value, empty title and description", "AXTextField", "", "", "  ", "", ""},
    {"white-space value, title of one space", "AXTextField", " ", "\t\t", "\n", "", " "},
};

TEST(Trimmed, EveryWhiteSpaceAtBothEndsIllFormedBytesKept) {
  const std::vector<Case<std::string, std::string>> cases = {
      {white + emoji + " \xFF" + white, emoji + " \xFF"},
      {"\xE2\xC2\x85", "\xE2"}, {"\xA0" "a\xA0", "\xA0" "a\xA0"},
      {"\xE2\x80 \xE2\x80", "\xE2\x80 \xE2\x80"}, {"\x80\xE3\x80\x80", "\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(trimmed(c.in), c.out) << c.in;
}

TEST(InferPlaceholder, Rules) {
  for (const PlaceholderCase& c : placeholderCases) {
    EXPECT_EQ(inferPlaceholder(c.role, c.title, c.description, c.value,
                               c.placeholder),
              c.expected)
        << c.why;
  }
}

}  // namespace
}  // namespace focusctl
