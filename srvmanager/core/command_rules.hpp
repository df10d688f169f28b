#pragma once
// CommandRules: which of the manager's commands are enabled, from the tables, the
// selection and the installation type; the menus, the toolbar and the context menus
// take their enabled state from here and nowhere else.
//
// Borrows the ServerTables and the ServerTree, which must outlive it. Reads only; not
// thread safe (the user-interface thread).

#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/server_tables.hpp"
#include "srvmanager/core/server_tree.hpp"

namespace zelin::manager {

class CommandRules {
 public:
  CommandRules(const ServerTables& tables, const ServerTree& tree, int installation_type)
      : tables_(tables), tree_(tree), installation_type_(installation_type) {}

  // Whether `command` is enabled with `view` active (main menu and toolbar).
  bool IsEnabled(int command, ActiveView view) const;
  // Enabling inside the tree's server context menu (menu 133) for the current item.
  bool IsContextEnabled(int command) const;

 private:
  const ServerTables& tables_;
  const ServerTree& tree_;
  int installation_type_;
};

}  // namespace zelin::manager
