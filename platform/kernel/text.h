// The program's text is UTF-16 (char16_t); the operating system takes UTF-8.
// These two functions are the only crossing between them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Unpaired surrogates become U+FFFD, so every UTF-16 string has a UTF-8 form.
std::string ToUtf8(std::u16string_view text);

// Bytes that are not valid UTF-8 are kept losslessly as U+DC80..U+DCFF
// (one per byte), so a file name read from disk converts back to the same bytes.
std::u16string FromUtf8(std::string_view text);

// Length of a terminated UTF-16 string; 0 for a null pointer.
std::size_t Length(const char16_t* text);

}  // namespace platform
