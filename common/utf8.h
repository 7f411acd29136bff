// UTF-8 and UTF-16 helpers for texts that come from other applications and may
// not be well-formed.
#pragma once

#include <string>
#include <string_view>

namespace focusctl {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isWellFormedUtf8(std::string_view bytes);

// The text with every ill-formed sequence replaced by U+FFFD (one per maximal
// ill-formed subpart, as Unicode recommends).
std::string sanitizeUtf8(std::string_view bytes);

// UTF-16 to UTF-8; never fails: an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// How long the first piece of a text is, so that a large text is handled a
// piece at a time: at least `least` bytes (all of a shorter text), ending
// before an ASCII character or at the end. An ASCII byte is never part of
// another character's sequence, well-formed or not, and an ASCII character
// neither decomposes nor reorders with the marks before it: sanitising or
// decomposing the pieces one by one gives the whole text's result.
std::size_t pieceLength(std::string_view text, std::size_t least);

}  // namespace focusctl
