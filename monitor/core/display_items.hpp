#pragma once
// The 27 display items of the status list: bit i of the column mask makes item i a
// column. Each has the header text of its column and the label of its check box on
// the "Select Item" page.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zelin::monitor {

enum DisplayItem : uint8_t {
  kItemModel = 0,
  kItemServerName,
  kItemOperationMode,
  kItemServerAddress,
  kItemPortNumber,
  kItemPortMapping,
  kItemConnection,
  kItemIdleTime,
  kItemLoginAddress,
  kItemLoginTime,
  kItemBaudRate,
  kItemCharacterMode,
  kItemFlowControl,
  kItemDtr,
  kItemRts,
  kItemDsr,
  kItemCts,
  kItemDcd,
  kItemTxTotal,
  kItemRxTotal,
  kItemTxCount,
  kItemRxCount,
  kItemTxThroughput,
  kItemRxThroughput,
  kItemIntervalTx,
  kItemIntervalRx,
  kItemInterface,
};
inline constexpr size_t kDisplayItemCount = 27;
inline constexpr uint32_t kAllItemsMask = (1u << kDisplayItemCount) - 1;
// Items from here on show "---" while their server is not answering.
inline constexpr DisplayItem kFirstLiveItem = kItemPortNumber;
// The items from Connection on are read from the port's status block.
inline constexpr DisplayItem kFirstBlockItem = kItemConnection;

// Column header of each item.
inline constexpr std::array<std::string_view, kDisplayItemCount> kItemHeaders = {
    "Model No.", "Zelin Server Name", "OP_mode", "Zelin Server IP Address", "Port No.",
    "Port Mapping", "Connection Status", "Idle Time", "Login IP Address", "Login Time",
    "Baud Rate", "Character mode", "Flow Control State", "DTR", "RTS", "DSR", "CTS", "DCD",
    "Tx total count", "Rx total count", "Tx count", "Rx count", "Tx throughput (CPS)",
    "Rx throughput (CPS)", "Interval Tx throughput (CPS)", "Interval Rx throughput (CPS)",
    "     Interface     "};

// Check-box label of each item on the "Select Item" page.
inline constexpr std::array<std::string_view, kDisplayItemCount> kItemLabels = {
    "Model No.", "Zelin Server Name", "OP_mode", "Zelin Server IP Address", "Port No.",
    "Port Mapping", "Connection Status", "Idle Time", "Login IP Address", "Login Time",
    "Baud Rate", "Character mode", "Flow Control State", "DTR", "RTS", "DSR", "CTS", "DCD",
    "Tx total count (From H/W start)", "Rx total count (From H/W start)",
    "Tx count (From this login)", "Rx count (From this login)", "Tx (CPS)", "Rx (CPS)",
    "Interval Tx (CPS)", "Interval Rx (CPS)", "Interface"};

// The column table: one column per set bit of `mask`, in item order.
inline std::vector<DisplayItem> ColumnsOf(uint32_t mask) {
  std::vector<DisplayItem> columns;
  for (size_t i = 0; i < kDisplayItemCount; ++i)
    if (mask & (1u << i)) columns.push_back(static_cast<DisplayItem>(i));
  return columns;
}

}  // namespace zelin::monitor
