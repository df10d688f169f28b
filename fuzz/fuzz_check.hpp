#pragma once
// What every harness shares: the entry point's signature and the invariant check, which
// stops the run (and keeps the input) when a parser breaks a promise of its contract.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#define FUZZ_CHECK(condition)                                                 \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition,     \
                   __FILE__, __LINE__);                                       \
      __builtin_trap();                                                       \
    }                                                                         \
  } while (false)

// A parser's answer to the input (a value, or an error that says why it was refused): a
// refusal without a reason breaks the contract. Returns the value when the input was
// taken, nullptr when it was refused.
template <class ParseResult>
auto* Accepted(ParseResult& parsed) {
  using Value = typename decltype(parsed.value)::value_type;
  if (!parsed) {
    FUZZ_CHECK(!parsed.error.empty());
    return static_cast<Value*>(nullptr);
  }
  return &*parsed.value;
}

// A bounds-checked reader over the fuzzer's input, for harnesses that take several
// values (a selector, a length, a chunk) from it.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return empty() ? 0 : data_[pos_++]; }
  // Up to `n` bytes (fewer at the end of the input).
  const uint8_t* Take(size_t n, size_t* taken) {
    *taken = n < size_ - pos_ ? n : size_ - pos_;
    const uint8_t* p = data_ + pos_;
    pos_ += *taken;
    return p;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};
