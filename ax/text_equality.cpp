#include "ax/text_equality.h"

#include <algorithm>
#include <string>

#include "common/utf8.h"
#include "platform/unicode.h"

namespace focusctl {
namespace {

// At least this much of a text is decomposed at a time.
constexpr std::size_t pieceBytes = 64 * 1024;

// The canonical decomposition of a text, produced a piece at a time.
class Decomposition {
 public:
  explicit Decomposition(std::string_view text) : rest_(text) {}

  // What is not yet compared: the rest of the current piece, else the next
  // piece's decomposition; empty only once the whole text is used up (a
  // piece's decomposition is never empty).
  std::string_view& ahead() {
    if (ahead_.empty() && !rest_.empty()) {
      const std::size_t length = pieceLength(rest_, pieceBytes);
      piece_ = platform::canonicalDecomposition(rest_.substr(0, length));
      rest_.remove_prefix(length);
      ahead_ = piece_;
    }
    return ahead_;
  }

 private:
  std::string_view rest_;
  std::string piece_;
  std::string_view ahead_;
};

}  // namespace

bool textEquals(std::string_view a, std::string_view b) {
  if (a == b) return true;
  // A character's decomposition takes between a third (U+1FEF to U+0060)
  // and three times (U+0390 to U+03B9 U+0308 U+0301) its bytes, and an
  // ill-formed part of one to three bytes becomes the three of U+FFFD: texts
  // more than nine times apart in length cannot be equivalent.
  const std::size_t shorter = std::min(a.size(), b.size());
  const std::size_t longer = std::max(a.size(), b.size());
  if (9 * shorter < longer) return false;
  Decomposition first(a);
  Decomposition second(b);
  for (;;) {
    std::string_view& x = first.ahead();
    std::string_view& y = second.ahead();
    if (x.empty() || y.empty()) return x.empty() && y.empty();
    const std::size_t common = std::min(x.size(), y.size());
    if (x.substr(0, common) != y.substr(0, common)) return false;
    x.remove_prefix(common);
    y.remove_prefix(common);
  }
}

std::string_view trimmed(std::string_view text) { return platform::trimWhiteSpace(text); }

}  // namespace focusctl
