#include "mapwizard/core/wizard_context.hpp"

#include <algorithm>
#include <initializer_list>

#include "mapwizard/core/strings.hpp"

namespace zelin::wizard {

bool WizardTables::Valid() const {
  return found != nullptr && saved_found != nullptr && configuration != nullptr &&
         saved_configuration != nullptr && count != nullptr && *count >= 0 &&
         *count <= static_cast<int>(kMaxConfiguredServers);
}

namespace {
// The parts as paragraphs: one blank line between each two.
std::string Paragraphs(std::initializer_list<std::string_view> parts) {
  std::string text;
  std::string_view separator;
  for (std::string_view part : parts) {
    text += separator;
    text += part;
    separator = "\n\n";
  }
  return text;
}
}  // namespace

std::string PrompterDialogs::LocateText(std::string_view server_info) {
  return Paragraphs({kTextLocateHeading, server_info, kTextLocateInstructions});
}

std::string PrompterDialogs::NotFoundText(std::string_view info) {
  return Paragraphs({kTextNotFoundHeading, kTextNotFoundAdvice, info});
}

void PrompterDialogs::ShowLocate(std::string_view server_info) {
  prompter_.Message(LocateText(server_info), MsgButtons::Ok, MsgIcon::Information,
                    kTextDialogCaption);
}

bool PrompterDialogs::ShowNotFound(std::string_view info) {
  return prompter_.Message(NotFoundText(info), MsgButtons::OkCancel, MsgIcon::Warning,
                           kTextDialogCaption) == MsgAnswer::Ok;
}

namespace {
constexpr uint16_t kAllPorts = 0xFFFF;
constexpr Ipv4 kHostMask = 0xFFFFFFFFu;
}  // namespace

void GrantOnlyAccess(ServerRecord& record, Ipv4 address) {
  record.access_table[0] = {address, kHostMask, kAllPorts};
  record.access_start = 0;
  record.access_total = record.access_count = 1;
}

bool EnsureHostAccess(ServerRecord& record, Ipv4 address) {
  const size_t n = std::min<size_t>(record.access_count, record.access_table.size());
  for (size_t i = 0; i < n; ++i)
    if (record.access_table[i].address == address && record.access_table[i].netmask == kHostMask)
      return true;
  if (n >= record.access_table.size()) return false;
  record.access_table[n] = {address, kHostMask, kAllPorts};
  record.access_count = static_cast<uint16_t>(n + 1);
  ++record.access_total;
  record.access_start = 0;
  return true;
}

WizardContext::WizardContext(Transport& transport, Prompter& prompter, const WizardTables& tables,
                             int installation_type, WizardDialogs& dialogs)
    : transport_(transport), prompter_(prompter), tables_(tables), dialogs_(dialogs) {
  state.installation_type = installation_type;
}

int WizardContext::found_count() const {
  return std::clamp(tables_.found->count, 0, static_cast<int>(kMaxServers));
}

int WizardContext::configured_count() const {
  return std::clamp(*tables_.count, 0, static_cast<int>(kMaxConfiguredServers));
}

ServerConfig* WizardContext::staged() {
  return table_full() ? nullptr : &tables_.configuration[configured_count()];
}

ServerConfig* WizardContext::saved_staged() {
  return table_full() ? nullptr : &tables_.saved_configuration[configured_count()];
}

ServerRecord* WizardContext::selected_record() {
  if (state.selected < 0 || state.selected >= found_count()) return nullptr;
  return &tables_.found->records[static_cast<size_t>(state.selected)];
}

bool WizardContext::has_password() {
  const ServerRecord* r = selected_record();
  return r != nullptr && r->has_password();
}

bool WizardContext::SerialConfigured(uint16_t serial) const {
  const int n = configured_count();
  for (int i = 0; i < n; ++i)
    if (tables_.configuration[i].serial_number == serial) return true;
  return false;
}

bool WizardContext::AddressConfigured(Ipv4 address) const {
  const int n = configured_count();
  for (int i = 0; i < n; ++i)
    if (tables_.configuration[i].ip_address == address) return true;
  return false;
}

bool WizardContext::ComInUse(int com) const {
  const int n = configured_count();
  for (int i = 0; i < n; ++i) {
    const ServerConfig& c = tables_.configuration[i];
    const size_t ports = std::min<size_t>(c.port_count, kMaxServerPorts);
    for (size_t p = 0; p < ports; ++p)
      if (c.port_mapped[p] != 0 && ComNumberOf(c.com_number[p]) == com) return true;
  }
  return false;
}

bool WizardContext::Stage(const ServerRecord& record) {
  ServerConfig* s = staged();
  if (s == nullptr) {
    Say(kTextTableFull);
    return false;
  }
  // A slot left behind by an earlier cancelled run starts afresh, so that nothing of
  // that run (tables-changed mark, write state, options) carries over to this server.
  *s = ServerConfig{};
  s->flags = record.flags();
  s->device_type = record.device_type();
  s->serial_number = record.serial_number();
  s->set_name(record.name());
  s->port_count = record.port_count();
  s->ip_address = record.ip_address();
  s->netmask = record.netmask();
  s->write_state = kWriteAlways;
  return true;
}

Step WizardContext::AfterServerChosen() {
  if (has_password()) return Step::Go(single_host() ? kPageSinglePassword : kPageMultiPassword);
  return Step::Go(single_host() ? kPageComMap : kPageNewAddress);
}

MsgAnswer WizardContext::Say(int string_id, MsgButtons buttons, MsgIcon icon) {
  return Say(WizardString(string_id), buttons, icon);
}

MsgAnswer WizardContext::Say(std::string_view text, MsgButtons buttons, MsgIcon icon) {
  return prompter().Message(text, buttons, icon, {});
}

Step WizardContext::StayOrEnd(int string_id) {
  return StayOrEnd(WizardString(string_id));
}

Step WizardContext::StayOrEnd(std::string_view text) {
  return Say(text, MsgButtons::OkCancel) == MsgAnswer::Ok ? Step::Stay() : Step::End();
}

}  // namespace zelin::wizard
