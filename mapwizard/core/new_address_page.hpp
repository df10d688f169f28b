#pragma once
// Page 8: the IP address under which the server will be configured, checked for a
// conflict on the server's network with CheckAddress.

#include <string>

#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

class NewAddressPage {
 public:
  explicit NewAddressPage(WizardContext& ctx) : ctx_(ctx) {}

  // Shows the record's current address; the label and the message tell whether it is
  // a suggestion after a conflict.
  void Activate();
  // The edit's text, cut to kNewAddressEditLimit characters.
  void SetAddressText(std::string_view text);

  const std::string& address_text() const { return address_text_; }
  const std::string& label() const { return label_; }
  const std::string& message() const { return message_; }

  Step Next();
  // Back to the password page, or to the list with the found address restored.
  Step Back();

 private:
  WizardContext& ctx_;
  std::string address_text_;
  std::string label_;
  std::string message_;
};

}  // namespace zelin::wizard
