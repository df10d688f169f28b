#include "mapwizard/core/com_map_page.hpp"

#include <algorithm>

#include "mapwizard/core/strings.hpp"

namespace zelin::wizard {

namespace {
constexpr int kLastCom = 256;
}

void ComMapPage::Activate() {
  choices_.clear();
  for (int n = 1; n <= kLastCom; ++n)
    if (!ctx_.ComInUse(n)) choices_.push_back(n);
  selected_ = choices_.empty() ? -1 : 0;
  auto first = std::find(choices_.begin(), choices_.end(), mapped_from_);
  if (first == choices_.end())
    first = std::find_if(choices_.begin(), choices_.end(), [](int n) { return n >= 3; });
  if (first != choices_.end()) selected_ = static_cast<int>(first - choices_.begin());
  if (const ServerConfig* s = ctx_.staged()) {
    info_ = Format("Name : %s    Serial No. : %d\nTotal Port : %d",
                   s->name().c_str(), int{s->serial_number}, static_cast<int>(s->port_count));
  }
}

void ComMapPage::Select(int index) {
  if (index >= 0 && index < static_cast<int>(choices_.size())) selected_ = index;
}

std::vector<std::string> ComMapPage::choice_texts() const {
  std::vector<std::string> out;
  out.reserve(choices_.size());
  for (int n : choices_) out.push_back("COM" + std::to_string(n));
  return out;
}

Step ComMapPage::Next() {
  ServerConfig* s = ctx_.staged();
  const ServerRecord* r = ctx_.selected_record();
  if (s == nullptr || r == nullptr) return Step::Stay();
  s->port_mapped.fill(0);
  s->com_number.fill(0);
  // With every COM number taken there is nothing to start from.
  int n = selected_ >= 0 ? choices_[static_cast<size_t>(selected_)] : kLastCom + 1;
  mapped_from_ = n;
  const size_t ports = std::min<size_t>(s->port_count, kMaxServerPorts);
  for (size_t i = 0; i < ports; ++i) {
    if (n > kLastCom) {
      ctx_.Say(kStrComLimit);
      break;
    }
    if (!IsMappablePortKind(r->port_kind(i))) continue;
    s->port_mapped[i] = 1;
    s->com_number[i] = static_cast<uint8_t>(n == kLastCom ? 0 : n);
    ++n;
    while (n <= kLastCom && ctx_.ComInUse(n)) ++n;
  }
  return Step::Go(ctx_.has_password() ? kPageComplete : kPageSetPassword);
}

Step ComMapPage::Back() {
  const bool pw = ctx_.has_password();
  if (ctx_.single_host()) return Step::Go(pw ? kPageSinglePassword : kPageServerList);
  return Step::Go(pw ? kPageMultiPassword : kPageNewAddress);
}

}  // namespace zelin::wizard
