#pragma once
// The code tables that turn the bytes of a port status block and a server's model code
// into the words of the status list and the port status window. Pure functions.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_types.hpp"

namespace zelin::monitor {

// Connection state (block byte 0): 0 "CLOSE", 1 "OPEN", 13 "CONNECTED", 11, 12 and
// 14..20 "DISCONNECT", anything else "---".
std::string_view ConnectionStateText(uint8_t state);

// Whether the model's operation modes are read from the first group (pair
// connections, ...) rather than the second (terminal modes, ...).
bool UsesFirstModeGroup(DeviceType type);
// Operation mode of a port from its port-kind byte (low 4 bits). A code without a name
// gives "Mode-(%X)" of the whole byte read as a signed 8-bit value (0x93 gives
// "Mode-(FFFFFF93)").
std::string OperationModeText(DeviceType type, uint8_t kind);

// Line format (block byte 2). List form: "N", "O", "E", "M", "S" or nothing; "/ 5".."/ 8";
// "/ 1.5", "/ 1" or "/ 2". Dialog form: "NONE", "ODD", ..., "5".."8", "1.5", "1", "2".
std::string_view ParityText(uint8_t format);
std::string_view ParityDialogText(uint8_t format);
std::string_view DataBitsText(uint8_t format);
std::string_view DataBitsDialogText(uint8_t format);
std::string_view StopBitsText(uint8_t format);
std::string_view StopBitsDialogText(uint8_t format);
// Parity, data bits and stop bits without separators: 0x03 gives "N/ 8/ 1".
std::string CharacterModeText(uint8_t format);

// Flow-control bits (block byte 3): "CTS", "RTS", "Tx XOn/XOff", "Rx XOn/XOff" joined by
// ", "; "NONE" for 0; empty when only bits 4..7 are set.
std::string FlowControlText(uint8_t flow);

// Interface code: 2 "RS422", 3 "RS485_ADDC", 4 "RS485_BYRTS", anything else "RS232".
std::string_view InterfaceText(int16_t code);

// A number of seconds as "%2d:%2d:%2d": hours not wrapped, minutes, seconds.
std::string DurationText(uint32_t seconds);

// "ON" or "OFF".
inline std::string_view OnOffText(bool on) { return on ? "ON" : "OFF"; }

// The model name shown for a server ("unknow" for a code outside the model table) and
// its port count (0 for such a code, so that none of its ports can be watched).
std::string_view MonitorModelName(DeviceType type);
int MonitorPortCount(DeviceType type);

}  // namespace zelin::monitor
