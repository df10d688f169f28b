#pragma once
// The "Test Object" page of the "Diagnostic Config" sheet as a presentation model:
// which servers are tested and which of their ports. It works on the sheet's working
// copy of the configuration; the search results persist between openings of the sheet
// (the program owns them, with the flag that the first opening searched).
//
// Messages reach the user through the Prompter; none of them closes the sheet. Adding
// a server searches its address, logs in (the password dialog when the server refuses
// the empty password) and only then appends it.
//
// Thread safety: the user-interface thread only.

#include <string>
#include <string_view>
#include <vector>

#include "platform/prompter.hpp"
#include "portcheck/core/com_mapping.hpp"
#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/session.hpp"

namespace zelin::portcheck {

// The last search of the page, kept for the program's run.
struct ServerSearchResults {
  SearchTable table;
  bool searched = false;  // the first opening in a run searches
};

// Models with a printer port: QX104, QX404, QX408, QX416, VR-19-8, VR-19-16.
bool HasPrinterPort(DeviceType type);

class TestObjectPage {
 public:
  static constexpr int kBroadcastWaitSeconds = 6;
  static constexpr int kAddWaitSeconds = 30;

  struct ServerRow {
    std::string model;   // "Model No"
    std::string name;    // "Name"
    std::string ip;      // "IP Address"
    std::string serial;  // "Serial No"
  };
  struct PortRow {
    std::string number;   // "Port No.": "1".. or "Printer"
    std::string mapping;  // "Port Mapping": "COM%d", "COM", "WAN" or "---" ("" for the printer)
    bool checked = false;
  };

  TestObjectPage(DiagConfig& working, ServerSearchResults& results, HostInterfaces& interfaces,
                 DiagSession& session, Prompter& prompter, PasswordDialogRunner run_dialog,
                 const ComMappingTable& com);

  // Opening the page: searches the first time in a run, fills the drop-down and selects
  // its first line, fills the server list and selects the first server.
  void Open();
  // The Search button: searches again, fills the drop-down and selects its first line.
  void Search();

  const std::vector<std::string>& dropdown() const { return dropdown_; }
  // Choosing a line of the drop-down adds that server at once.
  void ChooseLine(int line);
  // Enter in the drop-down's edit field: adds the server of the text.
  void EnterText(std::string_view text);
  // Up and Down in the edit field move the selection by one line.
  void MoveSelection(int delta);
  int dropdown_selection() const { return dropdown_selection_; }

  std::vector<ServerRow> server_rows() const;
  int selected_server() const { return selected_; }
  void SelectServer(int row);
  // Delete Server or the Delete key.
  void DeleteSelected();

  const std::vector<PortRow>& port_rows() const { return port_rows_; }
  // A check box of the port list: the printer row sets bit 2 of the server flags, a
  // port row its bit of the port mask.
  void SetPortChecked(int row, bool checked);

  // Adding a server from a text (an address, optionally followed by a blank and more).
  void AddServer(std::string_view text);

 private:
  void RunSearch();
  void FillDropdown();
  void FillPorts();

  DiagConfig& working_;
  ServerSearchResults& results_;
  HostInterfaces& interfaces_;
  DiagSession& session_;
  Prompter& prompter_;
  PasswordDialogRunner run_dialog_;
  const ComMappingTable& com_;
  std::vector<std::string> dropdown_;
  int dropdown_selection_ = -1;
  int selected_ = -1;
  std::vector<PortRow> port_rows_;
};

}  // namespace zelin::portcheck
