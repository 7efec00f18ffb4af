#include "platform/kernel/strsafe.h"

namespace platform {

HRESULT StringCchCopyW(char16_t* dest, std::size_t capacity, const char16_t* source) {
  if (dest == nullptr || capacity == 0) return E_INVALIDARG;
  std::size_t i = 0;
  if (source != nullptr) {
    for (; i + 1 < capacity && source[i] != u'\0'; ++i) dest[i] = source[i];
  }
  dest[i] = u'\0';
  const bool cut = source != nullptr && source[i] != u'\0';
  return cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

std::u16string Format(const char16_t* format, std::initializer_list<FormatArg> args) {
  std::u16string out;
  auto next = args.begin();
  for (const char16_t* p = format; p != nullptr && *p != u'\0'; ++p) {
    if (*p != u'%' || p[1] == u'\0') {
      out.push_back(*p);
      continue;
    }
    const char16_t conversion = *++p;
    if (conversion == u'%') {
      out.push_back(u'%');
    } else if ((conversion == u's' || conversion == u'd' || conversion == u'u') &&
               next != args.end()) {
      const FormatArg& arg = *next++;
      if (conversion == u's') {
        for (const char16_t* t = arg.text(); t != nullptr && *t != u'\0'; ++t) out.push_back(*t);
      } else {
        const std::string digits = std::to_string(arg.number());
        out.append(digits.begin(), digits.end());
      }
    } else {
      out.push_back(u'%');
      out.push_back(conversion);
    }
  }
  return out;
}

HRESULT StringCbPrintfW(char16_t* dest, std::size_t byteCapacity, const char16_t* format,
                        std::initializer_list<FormatArg> args) {
  const std::u16string text = Format(format, args);
  return StringCchCopyW(dest, byteCapacity / sizeof(char16_t), text.c_str());
}

}  // namespace platform
