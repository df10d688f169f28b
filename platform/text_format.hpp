#pragma once
// printf-style formatting into a std::string, for every message and label the cores build.

#include <string>
#include <string_view>

namespace zelin {

// The whole result, however long (no fixed buffer). The compiler checks the arguments
// against the pattern.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The text as valid UTF-8: each byte that does not begin or continue a well-formed
// sequence (stray continuation bytes, overlong forms, surrogates, code points past
// U+10FFFF, a sequence cut short) becomes U+FFFD. Names from devices and legacy files
// pass through here before they reach JSON, XML or metric labels.
std::string ValidUtf8(std::string_view text);

}  // namespace zelin
