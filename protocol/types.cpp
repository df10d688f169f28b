#include "protocol/types.hpp"

#include <algorithm>

namespace zelin {

std::string_view StatusCode<LastCommandError>::Describe(LastCommandError code) {
  static constexpr CodeText<LastCommandError> kTexts[] = {
      {LastCommandError::kTimeout, "no reply"},
      {LastCommandError::kPasswordTooLong, "password longer than 16 characters"},
      {LastCommandError::kUnknownCommand, "unknown command"},
      {LastCommandError::kSendFailed, "send failed"},
      {LastCommandError::kWrongLength, "reply of the wrong length"},
      {LastCommandError::kWrongCodeOrRefused, "refused by the server"},
      {LastCommandError::kErrorStatus, "the server reported an error"},
      {LastCommandError::kWrongSequence, "reply with the wrong sequence number"},
      {LastCommandError::kWrongDeviceType, "reply from another device type"},
      {LastCommandError::kWrongSerial, "reply from another serial number"},
  };
  return TextOf(kTexts, code, "unknown error");
}

std::string ServerRecord::name() const {
  const auto* first = search_reply.data() + wire::kSrName;
  const auto* last = std::find(first, first + wire::kNameSize, uint8_t{0});
  return std::string(first, last);
}

void ServerRecord::set_name(std::string_view n) {
  const size_t len = std::min(n.size(), wire::kNameSize - 1);
  std::fill_n(search_reply.begin() + wire::kSrName, wire::kNameSize, uint8_t{0});
  std::copy_n(n.begin(), len, search_reply.begin() + wire::kSrName);
}

void MakePortsMappable(ServerRecord& record, size_t ports) {
  for (size_t i = 0; i < std::min(ports, wire::kMaxPorts); ++i)
    if (record.port_kind(i) != kPortWan) record.set_port_kind(i, kPortMappable);
}

int ServerList::FindSerial(uint16_t serial) const {
  for (int i = 0; i < count && i < static_cast<int>(kMaxServers); ++i)
    if (records[i].serial_number() == serial) return i;
  return -1;
}

}  // namespace zelin
