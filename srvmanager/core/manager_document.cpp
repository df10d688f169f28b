#include "srvmanager/core/manager_document.hpp"

#include <utility>

#include "protocol/discovery.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kSearchSecondRoundSeconds = 1;

}  // namespace

ManagerDocument::ManagerDocument(Transport& transport, Prompter& prompter, ManagerStore& store,
                                 int installation_type, std::function<void()> fresh_port)
    : transport_(transport),
      prompter_(prompter),
      store_(store),
      installation_type_(installation_type),
      tree_(transport, prompter, tables_, installation_type),
      passwords_(transport, prompter, tables_),
      ports_(prompter, tables_, tree_),
      rules_(tables_, tree_, installation_type),
      writer_({transport, prompter, tables_, tree_, passwords_, ports_, store}, installation_type,
              std::move(fresh_port)),
      wizard_(transport, tables_, tree_, passwords_) {}

void ManagerDocument::Load() {
  {
    WaitCursor wait(prompter_);
    SearchServers(transport_, tables_.found(), kSearchSecondRoundSeconds);
  }
  if (const Status loaded = tables_.Load(store_); !loaded)
    prompter_.Message(WithStoreDetail(ManagerString(kStrLoadStoreFailed), loaded));
  tree_.BuildTree();
}

void ManagerDocument::DeleteServer() {
  if (prompter_.Message(ManagerString(kStrConfirmDelete), MsgButtons::OkCancel,
                        MsgIcon::Question) != MsgAnswer::Ok)
    return;
  const int server = tree_.selected_server();
  if (server < 0 || server >= tables_.count()) return;
  const int before = tables_.count();
  tables_.RemoveServer(server);
  if (tables_.count() == before) return;
  ServerList& found = tables_.found();
  if (ValidFound(found, tree_.selected_found()))
    found.records[static_cast<size_t>(tree_.selected_found())] = ServerRecord{};
  tables_.SetModified(true);
  tree_.ClearSelection();
  tree_.BuildTree();
}

bool ManagerDocument::CanClose() {
  if (!tables_.ConfigurationChanged()) return true;
  switch (prompter_.Message(ManagerString(kStrSaveBeforeExit), MsgButtons::YesNoCancel,
                            MsgIcon::Question)) {
    case MsgAnswer::Yes: {
      // A conflict, a store that cannot be written or a server that kept its old
      // settings has just been reported with the changes kept: they must not go with
      // the window.
      const auto outcome = writer_.SaveConfigurationOutcome();
      return outcome == ConfigurationWriter::SaveOutcome::kSaved ||
             outcome == ConfigurationWriter::SaveOutcome::kDeclined;
    }
    case MsgAnswer::No:
      return true;
    default:
      return false;
  }
}

}  // namespace zelin::manager
