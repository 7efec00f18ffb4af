// Bounded copy and format into fixed UTF-16 buffers. Both always terminate the
// destination and report STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/kernel/hresult.h"

namespace platform {

// Copies at most capacity - 1 characters of source (null = empty) and terminates.
// capacity 0 writes nothing and reports E_INVALIDARG.
HRESULT StringCchCopyW(char16_t* dest, std::size_t capacity, const char16_t* source);

// One argument of StringCbPrintfW: a string for %s or an integer for %d / %u.
class FormatArg {
 public:
  FormatArg(const char16_t* text) : text_(text) {}                // NOLINT: implicit by design
  FormatArg(const std::u16string& text) : text_(text.c_str()) {}  // NOLINT
  FormatArg(std::int64_t number) : number_(number) {}             // NOLINT
  FormatArg(int number) : number_(number) {}                      // NOLINT
  FormatArg(unsigned number) : number_(number) {}                 // NOLINT
  FormatArg(long unsigned number) : number_(static_cast<std::int64_t>(number)) {}  // NOLINT

  const char16_t* text() const { return text_; }
  std::int64_t number() const { return number_; }

 private:
  const char16_t* text_ = nullptr;
  std::int64_t number_ = 0;
};

// Formats into a buffer of byteCapacity bytes (byteCapacity / 2 characters with the
// terminator). Knows %s, %d, %u and %%; anything else is copied as it stands.
HRESULT StringCbPrintfW(char16_t* dest, std::size_t byteCapacity, const char16_t* format,
                        std::initializer_list<FormatArg> args);

// The same formatting into an unbounded string, for callers that keep no fixed buffer.
std::u16string Format(const char16_t* format, std::initializer_list<FormatArg> args);

}  // namespace platform
