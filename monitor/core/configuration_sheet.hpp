#pragma once
// The "Monitor configuration" sheet as presentation models: the "Select Port",
// "Select Item" and "General" pages over the working copy of the configuration, and
// the sheet that takes the working copy over on OK when it differs from the
// configuration in use.
//
// The pages borrow the run's MonitorState, the Prompter and a ServerFinder (the
// program's searches on the monitor's transport); they must outlive them. Every
// message goes through the Prompter. User-interface thread only; the sheet holds the
// polling engine (Monitoring::Suspend) while it is open.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/core/display_items.hpp"
#include "monitor/core/monitor_state.hpp"
#include "platform/prompter.hpp"
#include "protocol/transport.hpp"

namespace zelin::monitor {

// How the "Select Port" page finds servers.
class ServerFinder {
 public:
  virtual ~ServerFinder() = default;
  // Discovery on every interface (second round 1 s) into `list`.
  virtual void Search(ServerList& list) = 0;
  // Probes one address (1 s, up to 4 attempts) into `list`: the index of the server's
  // entry (updated or appended), or the error of the probe (kTimeout: nobody answered).
  virtual Result<int> Probe(ServerList& list, Ipv4 address) = 0;
};

// The finder over the monitor's transport.
class TransportFinder final : public ServerFinder {
 public:
  explicit TransportFinder(Transport& transport) : transport_(transport) {}
  void Search(ServerList& list) override;
  Result<int> Probe(ServerList& list, Ipv4 address) override;

 private:
  Transport& transport_;
};

// Merges a found server into the monitor's list by serial number: a known entry takes
// the new search reply, a new server is appended (while there is room).
void MergeFound(const ServerRecord& record, ServerList& into);

class SelectPortPage {
 public:
  // The server list's and port list's headers; their trailing blanks widen the columns.
  static constexpr std::array<std::string_view, 3> kServerHeaders = {
      "Name                          ", "IP Address        ", "Serial No          "};
  static constexpr std::array<std::string_view, 2> kPortHeaders = {"Port No.  ", "Port Mapping"};

  struct ServerRow {
    std::string name, address, serial;
  };
  struct PortRow {
    std::string number, mapping;
    bool watched = false;
  };

  SelectPortPage(MonitorState& state, ServerFinder& finder, Prompter& prompter);

  // Shown: the first time in the run, searches; then lists the working copy's servers
  // and selects the first.
  void Show();
  // "&Search": searches again.
  void Search();
  // The drop-down: "ADDRESS (NAME, SerialNo:N)" per found server.
  std::vector<std::string> DropDown() const;
  // Choosing a drop-down entry adds that server.
  void ChooseEntry(size_t index);
  // Enter in the drop-down's edit field: the text up to its first blank is probed and
  // the server found there added.
  void EnterAddress(std::string_view text);

  std::vector<ServerRow> ServerRows() const;
  int selected() const { return selected_; }
  // -1 for none (the port list is then empty).
  void SelectServer(int row);
  std::vector<PortRow> PortRows() const;
  // Checks or clears the box of port row `row` of the selected server.
  void SetPortWatched(size_t row, bool watched);
  // "&Delete Server" (or Delete): removes the selected server and selects the row that
  // took its place, or the previous one when it was the last.
  void DeleteServer();

 private:
  bool Add(const ServerRecord& record);

  MonitorState& state_;
  ServerFinder& finder_;
  Prompter& prompter_;
  int selected_ = -1;
};

class SelectItemPage {
 public:
  explicit SelectItemPage(MonitorState& state, Prompter& prompter)
      : state_(state), prompter_(prompter) {}
  // First showing: a box per item, checked when its column-mask bit is set.
  void Show();
  // The sheet opens again: the next showing reads the working copy afresh.
  void Reset() { shown_ = false; }
  bool shown() const { return shown_; }
  const std::array<bool, kDisplayItemCount>& boxes() const { return boxes_; }
  void SetChecked(size_t item, bool checked);
  // "Select All".
  void SelectAll() { boxes_.fill(true); }
  // Leaving the page: "Please select a item!" and false (the page stays) with no box
  // checked.
  bool Leave();
  // OK: the boxes become the column mask.
  void Ok();

 private:
  MonitorState& state_;
  Prompter& prompter_;
  std::array<bool, kDisplayItemCount> boxes_{};
  bool shown_ = false;
};

class GeneralPage {
 public:
  explicit GeneralPage(MonitorState& state) : state_(state) {}
  // The drop-down's entries "1" to "20".
  static std::vector<std::string> Entries();
  // First showing: the entry of the current interval.
  void Show();
  void Reset() { shown_ = false; }
  bool shown() const { return shown_; }
  int selected() const { return selected_; }
  void Select(int entry) { selected_ = entry; }
  // OK: the selected entry's position + 1 becomes the interval.
  void Ok();

 private:
  MonitorState& state_;
  int selected_ = 0;
  bool shown_ = false;
};

class ConfigurationSheet {
 public:
  static constexpr char kCaption[] = "Monitor configuration";
  enum class Page { kSelectPort, kSelectItem, kGeneral };
  static constexpr std::array<std::string_view, 3> kTabs = {"Select Port", "Select Item",
                                                            "General"};

  ConfigurationSheet(MonitorState& state, Monitoring& monitoring, ServerFinder& finder,
                     Prompter& prompter);

  // Holds monitoring, copies the configuration in use to the working copy and shows
  // the first page.
  void Open();
  // Switches tabs; false when the page being left keeps the focus.
  bool Activate(Page page);
  Page active() const { return active_; }
  // OK: false when the active page refuses to be left (the sheet stays open).
  // Otherwise a working copy that differs from the configuration in use becomes it and
  // monitoring restarts (or the list keeps only its columns when no server is left);
  // true. Monitoring goes on either way.
  bool Ok();
  // Cancel: the working copy is dropped; monitoring goes on.
  void Cancel();
  // Whether the last OK took a change over.
  bool changed() const { return changed_; }

  SelectPortPage& select_port() { return select_port_; }
  SelectItemPage& select_item() { return select_item_; }
  GeneralPage& general() { return general_; }

 private:
  void ShowPage(Page page);

  MonitorState& state_;
  Monitoring& monitoring_;
  SelectPortPage select_port_;
  SelectItemPage select_item_;
  GeneralPage general_;
  Page active_ = Page::kSelectPort;
  bool changed_ = false;
};

}  // namespace zelin::monitor
