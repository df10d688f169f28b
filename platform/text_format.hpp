#pragma once
// printf-style formatting into a std::string, for every message and label the cores build.

#include <string>

namespace zelin {

// The whole result, however long (no fixed buffer). The compiler checks the arguments
// against the pattern.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zelin
