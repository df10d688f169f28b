#pragma once
// A begin/end pair of calls held for the life of an object: `Begin` on construction,
// `End` on destruction. The wait cursor of a Prompter and the busy bracket of a
// NoticeSink are both such pairs.

namespace zelin {

template <class Target, void (Target::*Begin)(), void (Target::*End)()>
class ScopedBracket {
 public:
  explicit ScopedBracket(Target& target) : target_(target) { (target_.*Begin)(); }
  ~ScopedBracket() { (target_.*End)(); }
  ScopedBracket(const ScopedBracket&) = delete;
  ScopedBracket& operator=(const ScopedBracket&) = delete;

 private:
  Target& target_;
};

}  // namespace zelin
