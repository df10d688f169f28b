#include "monitor/core/code_tables.hpp"

#include <array>

#include "platform/text_format.hpp"

namespace zelin::monitor {

std::string_view ConnectionStateText(uint8_t state) {
  switch (state) {
    case 0: return "CLOSE";
    case 1: return "OPEN";
    case 13: return "CONNECTED";
    case 11:
    case 12: return "DISCONNECT";
    default: return state >= 14 && state <= 20 ? "DISCONNECT" : "---";
  }
}

bool UsesFirstModeGroup(DeviceType type) {
  switch (type) {
    case 769: case 770: case 772: case 785: case 817: case 818: case 820: case 33553:
    case 0x4311: case 0x0211:
      return true;
    default:
      return false;
  }
}

std::string OperationModeText(DeviceType type, uint8_t kind) {
  // Empty entries of the first group are filled with the raw code.
  static constexpr std::array<std::string_view, 16> kFirst = {
      "Pair Connection(Slave)", "Pair Connection(Master)", "Host based (ASPP)", "", "", "", "",
      "", "", "", "RAW Connection", "", "Ethernet Modem", "TCP Client", "UDP Server/Client", ""};
  static constexpr std::array<std::string_view, 16> kSecond = {
      "TERM_ASCII", "TERM_BIN", "Host based (ASPP)", "RAW PRN", "SLIP", "SLIPD", "PPP", "PPPD",
      "RTELNET", "DYNAMIC", "RAW Connection", "LPD PRN", "DRDAS", "FIXTTY", "UDP Server/Client",
      "DISABLE"};
  const size_t code = kind & 0x0F;
  if (!UsesFirstModeGroup(type)) return std::string(kSecond[code]);
  if (code == 8 && type == 0x0211) return "Pair Connection(Slave)";
  if (!kFirst[code].empty()) return std::string(kFirst[code]);
  // The byte as a signed value widened to 32 bits, then shown as unsigned hex.
  const auto widened = static_cast<int32_t>(static_cast<int8_t>(kind));
  return Format("Mode-(%X)", static_cast<unsigned>(widened));
}

std::string_view ParityText(uint8_t format) {
  switch (format & 0x38) {
    case 0x00: return "N";
    case 0x08: return "O";
    case 0x18: return "E";
    case 0x28: return "M";
    case 0x38: return "S";
    default: return "";
  }
}

std::string_view ParityDialogText(uint8_t format) {
  switch (format & 0x38) {
    case 0x00: return "NONE";
    case 0x08: return "ODD";
    case 0x18: return "EVEN";
    case 0x28: return "MARK";
    case 0x38: return "SPACE";
    default: return "";
  }
}

std::string_view DataBitsText(uint8_t format) {
  static constexpr std::array<std::string_view, 4> kText = {"/ 5", "/ 6", "/ 7", "/ 8"};
  return kText[format & 3];
}

std::string_view DataBitsDialogText(uint8_t format) { return DataBitsText(format).substr(2); }

std::string_view StopBitsText(uint8_t format) {
  if ((format & 3) == 0) return "/ 1.5";
  return (format & 0x04) ? "/ 2" : "/ 1";
}

std::string_view StopBitsDialogText(uint8_t format) { return StopBitsText(format).substr(2); }

std::string CharacterModeText(uint8_t format) {
  std::string text(ParityText(format));
  text += DataBitsText(format);
  text += StopBitsText(format);
  return text;
}

std::string FlowControlText(uint8_t flow) {
  if (flow == 0) return "NONE";
  static constexpr std::array<std::string_view, 4> kNames = {"CTS", "RTS", "Tx XOn/XOff",
                                                             "Rx XOn/XOff"};
  std::string text;
  for (size_t bit = 0; bit < kNames.size(); ++bit) {
    if (!(flow & (1u << bit))) continue;
    if (!text.empty()) text += ", ";
    text += kNames[bit];
  }
  return text;
}

std::string_view InterfaceText(int16_t code) {
  switch (code) {
    case 2: return "RS422";
    case 3: return "RS485_ADDC";
    case 4: return "RS485_BYRTS";
    default: return "RS232";
  }
}

std::string DurationText(uint32_t seconds) {
  return Format("%2u:%2u:%2u", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string_view MonitorModelName(DeviceType type) {
  const ModelInfo* model = FindModel(type);
  return model ? model->name : std::string_view("unknow");
}

int MonitorPortCount(DeviceType type) {
  const ModelInfo* model = FindModel(type);
  return model ? model->ports : 0;
}

}  // namespace zelin::monitor
