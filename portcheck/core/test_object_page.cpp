#include "portcheck/core/test_object_page.hpp"

#include <algorithm>

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {
namespace {

constexpr std::string_view kSameSerialText =
    "There is already a Zelin Server with the same serial\nnumber and different IP address in "
    "the selected table.\n\nPlease delete the Zelin Server in the selected table\nfirst if you "
    "really want to add this new one.";
constexpr std::string_view kSameAddressText =
    "There is already a Zelin Server with the same IP address\nand different serial number in "
    "the selected table.\n\nPlease delete the Zelin Server in the selected table\nfirst if you "
    "really want to add this new one.";

}  // namespace

bool HasPrinterPort(DeviceType type) {
  const std::string_view name = ModelName(type);
  for (std::string_view m : {"QX104", "QX404", "QX408", "QX416", "VR-19-8", "VR-19-16"})
    if (name == m) return true;
  return false;
}

TestObjectPage::TestObjectPage(DiagConfig& working, ServerSearchResults& results,
                               HostInterfaces& interfaces, DiagSession& session, Prompter& prompter,
                               PasswordDialogRunner run_dialog, const ComMappingTable& com)
    : working_(working),
      results_(results),
      interfaces_(interfaces),
      session_(session),
      prompter_(prompter),
      run_dialog_(std::move(run_dialog)),
      com_(com) {}

void TestObjectPage::Open() {
  if (!results_.searched) {
    results_.searched = true;
    RunSearch();
  }
  FillDropdown();
  selected_ = working_.server_count > 0 ? 0 : -1;
  FillPorts();
}

void TestObjectPage::Search() {
  dropdown_.clear();
  RunSearch();
  FillDropdown();
}

void TestObjectPage::RunSearch() {
  results_.table = SearchTable{};
  if (!interfaces_.Open().ok()) {
    prompter_.Message("Fail to open socket!");
    return;
  }
  {
    WaitCursor wait(prompter_);
    interfaces_.BroadcastSearch(results_.table, kBroadcastWaitSeconds);
  }
  if (results_.table.count == 0) prompter_.Message("Find none of Zelin Server LAN!");
  interfaces_.Close();
}

void TestObjectPage::FillDropdown() {
  dropdown_.clear();
  for (int i = 0; i < results_.table.count; ++i) {
    const FoundServer& f = results_.table.records[static_cast<size_t>(i)];
    dropdown_.push_back(Format("%s (%s, %s, SerialNo:%d)", AddressToText(f.ip_address()).c_str(),
                               std::string(ModelName(f.device_type())).c_str(),
                               ServerImage::FromReply(f.reply).name().c_str(),
                               f.serial_number()));
  }
  dropdown_selection_ = dropdown_.empty() ? -1 : 0;
}

void TestObjectPage::ChooseLine(int line) {
  if (line < 0 || line >= static_cast<int>(dropdown_.size())) return;
  dropdown_selection_ = line;
  AddServer(dropdown_[static_cast<size_t>(line)]);
}

void TestObjectPage::EnterText(std::string_view text) { AddServer(text); }

void TestObjectPage::MoveSelection(int delta) {
  if (dropdown_.empty()) return;
  dropdown_selection_ =
      std::clamp(dropdown_selection_ + delta, 0, static_cast<int>(dropdown_.size()) - 1);
}

std::vector<TestObjectPage::ServerRow> TestObjectPage::server_rows() const {
  std::vector<ServerRow> rows;
  for (int i = 0; i < working_.server_count; ++i) {
    const ServerImage& im = working_.images[static_cast<size_t>(i)];
    rows.push_back({std::string(ModelName(im.device_type())), im.name(),
                    AddressToText(im.ip_address()), std::to_string(im.serial_number())});
  }
  return rows;
}

void TestObjectPage::SelectServer(int row) {
  selected_ = row >= 0 && row < working_.server_count ? row : -1;
  FillPorts();
}

void TestObjectPage::DeleteSelected() {
  if (selected_ < 0 || selected_ >= working_.server_count) return;
  working_.RemoveServer(selected_);
  if (selected_ >= working_.server_count) selected_ = working_.server_count - 1;
  FillPorts();
}

void TestObjectPage::FillPorts() {
  port_rows_.clear();
  if (selected_ < 0) return;
  const ServerImage& im = working_.images[static_cast<size_t>(selected_)];
  const ServerTestSettings& s = working_.settings[static_cast<size_t>(selected_)];
  if (HasPrinterPort(im.device_type()))
    port_rows_.push_back({"Printer", "", (s.server_flags & kTestPrinter) != 0});
  for (int p = 0; p < im.shown_ports(); ++p) {
    const uint8_t kind = im.port_kind(static_cast<size_t>(p)) & ~0x10;
    std::string mapping = "---";
    if (kind == 2) {
      const int com = com_.Lookup(im.ip_address(), im.serial_number(), p);
      mapping = com < 0 ? "COM" : Format("COM%d", com);
    } else if (kind == 6) {
      mapping = "WAN";
    }
    port_rows_.push_back({std::to_string(p + 1), mapping, (s.port_mask >> p & 1) != 0});
  }
}

void TestObjectPage::SetPortChecked(int row, bool checked) {
  if (selected_ < 0 || row < 0 || row >= static_cast<int>(port_rows_.size())) return;
  ServerTestSettings& s = working_.settings[static_cast<size_t>(selected_)];
  const bool printer = HasPrinterPort(working_.images[static_cast<size_t>(selected_)].device_type());
  port_rows_[static_cast<size_t>(row)].checked = checked;
  if (printer && row == 0) {
    s.server_flags = checked ? s.server_flags | kTestPrinter : s.server_flags & ~kTestPrinter;
    return;
  }
  const int port = printer ? row - 1 : row;
  const uint32_t bit = 1u << port;
  s.port_mask = checked ? s.port_mask | bit : s.port_mask & ~bit;
}

void TestObjectPage::AddServer(std::string_view text) {
  if (working_.server_count >= kMaxDiagServers) {
    prompter_.Message("Too many Zelin Server!");
    return;
  }
  if (FirstWord(text).empty()) return;
  const Ipv4 address = ParseIpText(text);
  if (address == 0) {
    prompter_.Message("Invalid IP address");
    return;
  }
  if (!interfaces_.Open().ok()) {
    prompter_.Message("Fail to open socket!");
    return;
  }
  Result<FoundServer> found = SessionError::kNotFound;
  {
    WaitCursor wait(prompter_);
    found = interfaces_.UnicastSearch(address, kAddWaitSeconds);
  }
  interfaces_.Close();
  if (!found.ok()) {
    prompter_.Message(Format("Fail to connect Zelin server (IP = %s)!", AddressToText(address).c_str()));
    return;
  }
  const ServerImage image = ServerImage::FromReply(found->reply);
  const auto select = [this](int i) {
    selected_ = i;
    FillPorts();
  };
  // One pass over the table: the first server with the same address and serial number,
  // the first with the same serial number and the first with the same address.
  int same_both = -1;
  int same_serial = -1;
  int same_address = -1;
  for (int i = 0; i < working_.server_count; ++i) {
    const ServerImage& o = working_.images[static_cast<size_t>(i)];
    const bool same_number = o.serial_number() == image.serial_number();
    const bool same_ip = o.ip_address() == image.ip_address();
    if (same_number && same_ip && same_both < 0) same_both = i;
    if (same_number && same_serial < 0) same_serial = i;
    if (same_ip && same_address < 0) same_address = i;
  }
  if (same_both >= 0) return select(same_both);
  // A server that shares only one of the two stays selected; the user is told to
  // delete it first.
  if (same_serial >= 0 || same_address >= 0) {
    prompter_.Message(same_serial >= 0 ? kSameSerialText : kSameAddressText);
    return select(same_serial >= 0 ? same_serial : same_address);
  }
  const std::string ip_text = AddressToText(image.ip_address());
  if (!session_.Open(image.ip_address()).ok()) {
    prompter_.Message(Format("Zelin Server %s (%s)\n          Connect fail!", image.name().c_str(),
                             ip_text.c_str()));
    return;
  }
  ServerTestSettings settings;
  const Status login =
      LoginWithPrompt(session_, {image.ip_address(), image.name(), &settings.password}, prompter_,
                      run_dialog_);
  session_.Close();
  if (!login.ok()) return;
  settings.port_mask = kNewServerPortMask;
  settings.status = kStatusReached;
  working_.AddServer(image, settings);
  select(working_.server_count - 1);
}

}  // namespace zelin::portcheck
