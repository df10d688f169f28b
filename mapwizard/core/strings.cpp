#include "mapwizard/core/strings.hpp"

#include "platform/text_table.hpp"
#include "protocol/shared_texts.hpp"
#include "store/installation_type.hpp"

namespace zelin::wizard {

namespace {

constexpr NumberedText kTable[] = {
    {kStrPasswordNotMatch, "Password not match!"},
    {kStrCancelQuestion,
     "The Zelin Add Server Wizard has not finished setting up your Zelin .\nAre you sure you "
     "want to exit the Wizard?"},
    {kStrAlreadyAdded, "This server has already been added!"},
    {kStrCannotLocate, "Cannot locate the server selected!"},
    {kStrSelectServer, "Please select a server to add."},
    {kStrDuplicatedAddress,
     "The IP address of the server you selected is found duplicated with other server on your "
     "network. You are not able to add the server if the situation remains. Please consult "
     "with your administrator about this situation. Or you may use the suggested IP address "
     "shown below.\n\n"},
    {kStrEnterAddress,
     "\n\n\nZelin Server IP address\n\n\nEnter a desired  IP address below or click Next to "
     "use the current one."},
    {kStrWrongPassword,
     "You have input an error password to connect to the server. Click OK to retry password "
     "or Cancel to exit."},
    texts::kComLimitExceeded,
    {kStrBadPasswordSpace,
     "Bad Password : No SPACE character is allowed in Server password. \nPlease try again!"},
    texts::kInvalidAddress,
    {kStrNoServersAnswered,
     "Warning! Cannot find servers.\n\nYour server is not powered on or not connected to "
     "\nyour network. Check with all connection and power \nthen click Find to find servers "
     "again.\n\nIf your server is at remote site, install the Zelin \nmanager as Custom and "
     "retry Add Server Wizard."},
    {kStrAllServersAdded,
     "Warning! Cannot find servers.\n\nThere are \n 1. No Zelin Servers available on your "
     "network. \n 2. All Zelin Servers have been added to your host. \n 3. Zelin Servers at "
     "remote site. \n\nIf you do have free server to add at local network, \ncheck with the "
     "server's power and connection. \nClick Find to find servers again.\n\nIf your server is "
     "at remote site, install the Zelin \nmanager as Custom and retry Add Server Wizard."},
};

constexpr NumberedText kCaptionSuffixes[] = {
    {kSingleHost, " - Traditional"},
    {kMultiHost, " - Multi Host"},
    {kCustom, " - Custom"},
};

}  // namespace

std::string_view WizardString(int id) {
  return FindText(kTable, id);
}

std::string_view CaptionSuffix(int installation_type) {
  return FindText(kCaptionSuffixes, installation_type);
}

std::string SheetCaption(int installation_type) {
  std::string caption(kTextSheetCaption);
  caption += CaptionSuffix(installation_type);
  return caption;
}

}  // namespace zelin::wizard
