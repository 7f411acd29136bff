// Strict Base64 of well-formed UTF-8, the argument of `set`.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ax/base64_text.h"

namespace focusctl {
namespace {

const std::string longText =
    "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZywgdHdpY2Ugb3Zl"
    "ciBhbmQgYWdhaW4u";

TEST(DecodeBase64Text, Accepted) {
  struct Case {
    std::string argument;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"aA==", "h"},
      {"aGk=", "hi"},
      {"aGk6", "hi:"},
      {longText, "The quick brown fox jumps over the lazy dog, twice over and again."},
      {"IGEJYg0KYyA=", " a\tb\r\nc "},             // written exactly
      {"77u/YQ==", "\xEF\xBB\xBF" "a"},           // the byte order mark stays
      {"0J/RgNC40LLQtdGCLCDQvNC40YA=", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80"},
      {"Pz8+", "?\?>"},
      {"AA==", std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeBase64Text(c.argument), std::optional<std::string>(c.text))
        << c.argument;
  }
}

TEST(DecodeBase64Text, Refused) {
  const std::vector<std::string> cases = {
      longText.substr(0, 76) + "\n" + longText.substr(76),    // wrapped
      longText.substr(0, 76) + "\r\n" + longText.substr(76),
      "aGk=\n",                                               // trailing newline
      " aGk=", "aGk= ", "aG k=", "aGk=\t",
      "aGk", "aG", "a", "aGk==", "aGk=a",                      // length, padding
      "Pz8-", "0J_RgNC40LLQtdGCLCDQvNC40YA=",                  // URL-safe alphabet
      "/w==",                                                 // byte 255
      "ww==",                                                 // cut-off UTF-8
      "7aCA",                                                 // a surrogate
      "wK8=",                                                 // overlong
      "9JCAgA==",                                             // above U+10FFFF
      "aA==aGk=", "aG=k", "a=Gk", "=", "==", "====", "a===", "aA=A",  // padding inside
      "aB==", "aGl=", "aGk+aB==",                              // leftover bits set
      "aGk*", "aGk.", "\xC3\xA9" "aGk=",
  };
  for (const std::string& argument : cases) {
    EXPECT_EQ(decodeBase64Text(argument), std::nullopt) << argument;
  }
  EXPECT_EQ(decodeBase64Text(std::string("aGk\0=", 5)), std::nullopt);
}

}  // namespace
}  // namespace focusctl
