#pragma once
// How every program builds its table of numbered messages: the message numbers are an
// enumeration in the program's strings header, and the texts are one constant array of
// NumberedText in its strings source, read through FindText. Texts without a number are
// `inline constexpr std::string_view` constants of the same header; a text that more
// than one program shows is spelled once, in protocol/shared_texts.hpp.
//
// Thread safety: tables are immutable; FindText may be called from any thread.

#include <span>
#include <string_view>

namespace zelin {

// One numbered message: its number and its exact text.
struct NumberedText {
  int id;
  std::string_view text;
};

// The text of message `id` in `table`; "" for a number the table does not hold. The
// view points at the table's static storage.
constexpr std::string_view FindText(std::span<const NumberedText> table, int id) {
  for (const NumberedText& entry : table)
    if (entry.id == id) return entry.text;
  return {};
}

}  // namespace zelin
