#include "platform/status.hpp"

#include <ostream>

namespace zelin {

std::string Status::ToString() const {
  if (ok()) return "ok";
  return message_ + " (error " + std::to_string(code_) + ")";
}

std::ostream& operator<<(std::ostream& out, const Status& status) {
  return out << status.ToString();
}

}  // namespace zelin
