// The manager's Qt main window offscreen over an emulated lab and a hive file, and
// the srvmanager program's Release and second-instance courses as processes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <filesystem>

#include "platform/qt/single_instance.hpp"
#include "srvmanager/core/registry_store.hpp"
#include "srvmanager/core/startup.hpp"
#include "srvmanager/core/strings.hpp"
#include "srvmanager/gui/dialogs.hpp"
#include "srvmanager/gui/icons.hpp"
#include "srvmanager/gui/main_window.hpp"
#include "srvmanager/gui/views.hpp"
#include "store/server_store.hpp"
#include "tests/srvmanager/lab_fixture.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/live_clock.hpp"
#include "ui/snapshot.hpp"

namespace zelin::manager::testing {
namespace {

QApplication& App() {
  return zelin::testing::QtApp("srvmanager_gui_tests");
}

bool SameIcon(const QIcon& a, const QIcon& b) {
  return a.pixmap(16, 16).toImage() == b.pixmap(16, 16).toImage();
}

// Runs the event loop until `done` or about 20 s of real time.
template <typename F>
bool SpinUntil(F done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// Answers like the scripted prompter; the wait cursor and the progress windows are Qt's.
class QtProgressPrompter final : public Prompter {
 public:
  explicit QtProgressPrompter(Prompter& answers) : answers_(answers) {}
  MsgAnswer Message(std::string_view text, MsgButtons buttons, MsgIcon icon,
                    std::string_view caption) override {
    return answers_.Message(text, buttons, icon, caption);
  }
  std::optional<std::string> AskPassword(std::string_view prompt, size_t max_length) override {
    return answers_.AskPassword(prompt, max_length);
  }
  void BeginWait() override { qt.BeginWait(); }
  void EndWait() override { qt.EndWait(); }
  std::unique_ptr<ProgressWindow> OpenProgress(std::string_view title) override {
    return qt.OpenProgress(title);
  }
  ui::QtPrompter qt{QStringLiteral("Zelin Server Manager")};

 private:
  Prompter& answers_;
};

// Counts the events of one type that reach an object.
class EventCounter final : public QObject {
 public:
  EventCounter(QObject* target, QEvent::Type type) : type_(type) {
    target->installEventFilter(this);
  }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == type_) ++count;
    return false;
  }

 private:
  QEvent::Type type_;
};

class ManagerGuiTest : public LabDocTest {
 protected:
  void SetUp() override {
    App();
    LabDocTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    hive_path_ = std::filesystem::path(dir_.path().toStdString()) / "registry.reg";
    // The program's transport: its clock keeps the windows alive during network waits.
    live_clock_ = std::make_unique<ui::LiveClock>(*clock_);
    const TransportOptions options = transport_->options();
    transport_->CloseTransport();
    transport_ =
        std::make_unique<Transport>(*live_clock_, gui_notices_, Deliverable::Manager, options);
    ASSERT_TRUE(transport_->OpenTransport());
  }

  // Writes `entries` and the installation type into the hive file.
  void WriteHive(int type, const std::vector<ServerConfig>& entries) {
    HiveFile hive(hive_path_);
    ASSERT_TRUE(WriteInstallationType(hive, type));
    ASSERT_TRUE(SaveServerStore(hive, entries, {}));
  }

  // The main window shown, with the document not loaded yet.
  MainWindow& ShowFrame(int type, MainWindow::WizardRunner wizard = {}) {
    hive_store_ = std::make_unique<HiveManagerStore>(hive_path_);
    doc_ = std::make_unique<ManagerDocument>(*transport_, gui_prompter_, *hive_store_, type, [] {});
    frame_ = std::make_unique<MainWindow>(*doc_, ui::ToQString(MainTitle(type)), std::move(wizard),
                                          commands_);
    gui_prompter_.qt.set_parent(frame_.get());
    frame_->show();
    return *frame_;
  }

  // Opens the main window as the program does: shown first, then the document loads.
  MainWindow& OpenFrame(int type, MainWindow::WizardRunner wizard = {}) {
    ShowFrame(type, std::move(wizard));
    frame_->LoadDocument();
    frame_->InitialUpdate(false);
    return *frame_;
  }

  QTreeWidgetItem* ServerItem(int i) { return frame_->tree()->topLevelItem(0)->child(i); }

  // Selects port row `row` of server item `item` with the port list active.
  void SelectPort(int item, int row) {
    frame_->tree()->setCurrentItem(ServerItem(item));
    frame_->list()->setCurrentItem(frame_->list()->topLevelItem(row));
    frame_->SetActiveView(ActiveView::PortList);
  }

  // Answers the next Map Port dialog with COM `selection`, consecutive or not.
  void AnswerMapPort(int selection, bool consecutive) {
    QTimer::singleShot(0, [selection, consecutive] {
      auto* d = qobject_cast<MapPortDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      d->map_to()->setCurrentIndex(selection);
      d->consecutive()->setChecked(consecutive);
      d->accept();
    });
  }

  void TearDown() override {
    if (frame_) {
      doc_->tables().SetModified(false);
      frame_->hide();
    }
    frame_.reset();
    LabDocTest::TearDown();
    doc_.reset();
    transport_.reset();
  }

  ServerCommands commands_;  // handed to the main window by ShowFrame
  QTemporaryDir dir_;
  std::filesystem::path hive_path_;
  std::unique_ptr<HiveManagerStore> hive_store_;
  std::unique_ptr<MainWindow> frame_;
  std::unique_ptr<ui::LiveClock> live_clock_;
  QtProgressPrompter gui_prompter_{prompter_};
  PrompterNotices gui_notices_{gui_prompter_};
};

TEST_F(ManagerGuiTest, StartUpShowsServersWithIconsAndPortRows) {
  StartLab({LabServer(101, "north", Addr(10), 9476), LabServer(102, "south", Addr(11), 776)});
  WriteHive(kMultiHost, {MakeEntry(101, "north", Addr(10)), MakeEntry(102, "south", Addr(11), 776),
                         MakeEntry(103, "gone", Addr(12))});
  MainWindow& frame = OpenFrame(kMultiHost);
  EXPECT_EQ(frame.windowTitle(), "Zelin Server Manager - Multi-Host");
  QTreeWidgetItem* root = frame.tree()->topLevelItem(0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->text(0), "Zelin Server Pro");
  ASSERT_EQ(root->childCount(), 3);
  EXPECT_EQ(root->child(0)->text(0), "north(QX404)");
  EXPECT_EQ(root->child(1)->text(0), "south(VR-18)");
  EXPECT_EQ(root->child(2)->text(0), "gone");
  EXPECT_TRUE(SameIcon(root->child(0)->icon(0), StripIcon(kIconOnline)));
  EXPECT_TRUE(SameIcon(root->child(2)->icon(0), StripIcon(kIconOffline)));
  EXPECT_EQ(frame.active_view(), ActiveView::PortList);
  EXPECT_EQ(frame.list()->topLevelItemCount(), 0);  // nothing selected yet

  frame.tree()->setCurrentItem(root->child(1));
  ASSERT_EQ(frame.list()->topLevelItemCount(), 8);
  EXPECT_EQ(frame.list()->headerItem()->text(1), "     COM         ");
  EXPECT_EQ(frame.list()->topLevelItem(7)->text(0), "   8");
  EXPECT_EQ(frame.list()->topLevelItem(7)->text(1), "---");
  EXPECT_EQ(frame.list()->topLevelItem(7)->text(2), "Available");
  // An unmapped row keeps an empty picture in the icon's place, so that its number lines
  // up with those of mapped rows.
  const QIcon unmapped = frame.list()->topLevelItem(7)->icon(0);
  EXPECT_FALSE(unmapped.isNull());
  EXPECT_FALSE(SameIcon(unmapped, StripIcon(kIconMappedPort)));

  // The toolbar in its order, with the tool tips of the command strings.
  auto* bar = frame.findChild<QToolBar*>("toolbar");
  ASSERT_NE(bar, nullptr);
  std::vector<int> order;
  for (QAction* a : bar->actions()) order.push_back(a->isSeparator() ? 0 : a->data().toInt());
  EXPECT_EQ(order, (std::vector<int>{kCmdSaveConfiguration, kCmdAddServerWizard, kCmdDeleteServer,
                                     0, kCmdMapPort, kCmdUnMapPort, 0, kCmdServerProperties,
                                     kCmdUpgradeFirmware, 0, 0}));
  EXPECT_EQ(frame.action(kCmdDeleteServer)->toolTip(), "Delete Server");
  EXPECT_EQ(frame.action(kCmdDeleteServer)->statusTip(), "Delete a server ");
  // Enabling follows the active view.
  frame.SetActiveView(ActiveView::Tree);
  EXPECT_TRUE(frame.action(kCmdDeleteServer)->isEnabled());
  EXPECT_FALSE(frame.action(kCmdMapPort)->isEnabled());
  EXPECT_FALSE(frame.action(kCmdSaveConfiguration)->isEnabled());
}

TEST_F(ManagerGuiTest, MappingThroughTheDialogAndSavingWritesStoreAndDeviceEntries) {
  StartLab({LabServer(101, "north", Addr(10), 9476)});
  WriteHive(kMultiHost, {MakeEntry(101, "north", Addr(10))});
  MainWindow& frame = OpenFrame(kMultiHost);
  SelectPort(0, 0);
  ASSERT_TRUE(frame.action(kCmdMapPort)->isEnabled());
  AnswerMapPort(5, true);
  frame.action(kCmdMapPort)->trigger();
  EXPECT_EQ(frame.list()->topLevelItem(0)->text(1), "COM5");
  EXPECT_EQ(frame.list()->topLevelItem(3)->text(1), "COM8");
  EXPECT_TRUE(SameIcon(frame.list()->topLevelItem(0)->icon(0), StripIcon(kIconMappedPort)));
  ASSERT_TRUE(frame.action(kCmdSaveConfiguration)->isEnabled());

  frame.action(kCmdSaveConfiguration)->trigger();  // the scripted prompter answers Yes
  EXPECT_FALSE(frame.action(kCmdSaveConfiguration)->isEnabled());

  HiveFile hive(hive_path_);
  std::array<ServerConfig, 32> table{};
  ASSERT_EQ(LoadServerStore(hive, table), 1);
  EXPECT_EQ(table[0].port_mapped, (std::array<uint8_t, 16>{1, 1, 1, 1}));
  EXPECT_EQ(table[0].com_number[3], 8);
  MemoryRegistry reg;
  ASSERT_TRUE(hive.Load(reg));
  const auto key = FindServerKey(reg, 101);
  ASSERT_TRUE(key);
  const std::string port = RegJoin(RegJoin(kParametersKey, *key), "Port0003");
  const auto driver = reg.ReadString(port, "PortDriver");
  ASSERT_TRUE(driver);
  EXPECT_TRUE(reg.KeyExists(RegJoin("Enum\\Root", *driver)));
  EXPECT_EQ(reg.ReadDword(port, "PortFlag").value_or(0), 1u);
}

TEST_F(ManagerGuiTest, AddServerStartOpensTheWizardOnceAfterTheTreeIsFilled) {
  StartLab({LabServer(101, "north", Addr(10))});
  WriteHive(kCustom, {});
  size_t tree_size_at_call = 99;
  MainWindow& frame = OpenFrame(kCustom, [&](WizardArguments* args) {
    tree_size_at_call = frame_->tree()->topLevelItem(0)->childCount();
    EXPECT_EQ(args->interface_count, 1);
    EXPECT_EQ(args->found->count, 1);
    ServerConfig added = MakeEntry(101, "north", Addr(10));
    added.write_state = kWriteAlways;
    args->configuration[*args->configuration_count] = added;
    ++*args->configuration_count;
    return 1;
  });
  frame.InitialUpdate(true);
  EXPECT_EQ(frame.wizard_runs(), 0);  // posted, not run at once
  ASSERT_TRUE(SpinUntil([&] { return frame.wizard_runs() == 1; }));
  EXPECT_EQ(tree_size_at_call, 0u);
  EXPECT_TRUE(doc_->tables().modified());
  ASSERT_EQ(frame.tree()->topLevelItem(0)->childCount(), 1);
  EXPECT_EQ(frame.tree()->topLevelItem(0)->child(0)->text(0), "north(QX404)");
  EXPECT_TRUE(frame.action(kCmdSaveConfiguration)->isEnabled());
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.wizard_runs(), 1);
}

TEST_F(ManagerGuiTest, TreeContextMenusFollowTheItemUnderTheMouse) {
  StartLab({LabServer(101, "north", Addr(10))});
  WriteHive(kSingleHost, {MakeEntry(101, "north", Addr(10)), MakeEntry(102, "gone", Addr(12))});
  MainWindow& frame = OpenFrame(kSingleHost);
  frame.tree()->setCurrentItem(ServerItem(0));
  std::vector<std::pair<QString, bool>> seen;
  int server_while_open = -2;
  auto read_menu = [&seen, &server_while_open, this] {
    QTimer::singleShot(0, [&seen, &server_while_open, this] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) seen.emplace_back(a->text(), a->isEnabled());
      server_while_open = doc_->server_tree().selected_server();
      menu->close();
    });
  };
  // A right click as the window system delivers it, on the offline server.
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  auto right_click = [&frame](QPoint in_tree) {
    QTest::mouseClick(frame.windowHandle(), Qt::RightButton, {},
                      frame.tree()->viewport()->mapTo(&frame, in_tree));
  };
  read_menu();
  right_click(frame.tree()->visualItemRect(ServerItem(1)).center());
  EXPECT_EQ(seen, (std::vector<std::pair<QString, bool>>{{"&Delete Server", true},
                                                         {"Server &Properties", false},
                                                         {"&Replace Server...", true},
                                                         {"&Upgrade Firmware", false}}));
  EXPECT_EQ(frame.tree()->currentItem(), ServerItem(0));  // the tree's selection stays
  EXPECT_EQ(server_while_open, 1);  // the menu's server is the one under it
  EXPECT_EQ(doc_->server_tree().selected_server(), 0);  // and then the highlighted one again
  seen.clear();
  read_menu();
  right_click(frame.tree()->visualItemRect(ServerItem(1)).bottomLeft() + QPoint(4, 40));
  EXPECT_EQ(seen, (std::vector<std::pair<QString, bool>>{{"&Add Server Wizard...", true}}));
  EXPECT_EQ(frame.tree()->currentItem(), ServerItem(0));
  // Keys act on the tree's own selection again: Delete removes the highlighted server.
  QTest::keyClick(frame.tree(), Qt::Key_Delete);
  ASSERT_EQ(frame.tree()->topLevelItem(0)->childCount(), 1);
  EXPECT_EQ(ServerItem(0)->text(0), "gone");
}

// After a context menu on another server closes, dismissed or with its command done,
// the toolbar's Server Properties and Delete Server act on the server the tree
// highlights, and the port list shows its ports with the row that was selected.
TEST_F(ManagerGuiTest, ToolbarCommandsAfterAContextMenuActOnTheHighlightedServer) {
  StartLab({LabServer(101, "north", Addr(10)), LabServer(102, "south", Addr(11), 776)});
  WriteHive(kMultiHost, {MakeEntry(101, "north", Addr(10)), MakeEntry(102, "south", Addr(11), 776)});
  std::vector<int> properties_on;  // the current server each Server Properties saw
  commands_.server_properties = [&properties_on](ManagerDocument& d, QWidget*) {
    properties_on.push_back(d.server_tree().selected_server());
    return false;
  };
  MainWindow& frame = OpenFrame(kMultiHost);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  SelectPort(0, 2);  // north highlighted, its third port selected
  auto right_click_south = [&frame, this] {
    QTest::mouseClick(frame.windowHandle(), Qt::RightButton, {},
                      frame.tree()->viewport()->mapTo(
                          &frame, frame.tree()->visualItemRect(ServerItem(1)).center()));
  };
  // In the menu: what it shows, then Escape or the row with `text` and Return.
  int rows_while_open = -1;
  auto in_menu = [&rows_while_open, &frame](QString text) {
    QTimer::singleShot(0, [&rows_while_open, &frame, text] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      rows_while_open = frame.list()->topLevelItemCount();
      for (QAction* a : menu->actions())
        if (a->text() == text) menu->setActiveAction(a);
      QTest::keyClick(menu, text.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    });
  };

  in_menu({});
  right_click_south();
  EXPECT_EQ(rows_while_open, 8);  // south's ports while its menu is open
  EXPECT_EQ(frame.tree()->currentItem(), ServerItem(0));
  EXPECT_EQ(doc_->server_tree().selected_server(), 0);
  EXPECT_EQ(doc_->server_tree().selected_port(), 2);
  ASSERT_EQ(frame.list()->topLevelItemCount(), 4);
  EXPECT_EQ(frame.list()->currentItem(), frame.list()->topLevelItem(2));
  frame.SetActiveView(ActiveView::Tree);
  ASSERT_TRUE(frame.action(kCmdServerProperties)->isEnabled());
  frame.action(kCmdServerProperties)->trigger();
  EXPECT_EQ(properties_on, (std::vector<int>{0}));

  // The menu's own command acts on the server under the mouse, and no longer.
  in_menu(QStringLiteral("Server &Properties"));
  right_click_south();
  EXPECT_EQ(properties_on, (std::vector<int>{0, 1}));
  EXPECT_EQ(doc_->server_tree().selected_server(), 0);
  frame.SetActiveView(ActiveView::Tree);
  frame.action(kCmdDeleteServer)->trigger();  // the scripted prompter confirms
  ASSERT_EQ(frame.tree()->topLevelItem(0)->childCount(), 1);
  EXPECT_EQ(ServerItem(0)->text(0), "south(VR-18)");
}

TEST_F(ManagerGuiTest, LoadPaintsAndSaysWhatItDoesWithEveryCommandOff) {
  StartLab({LabServer(101, "north", Addr(10))});
  WriteHive(kMultiHost, {MakeEntry(101, "north", Addr(10)), MakeEntry(102, "gone", Addr(12)),
                         MakeEntry(103, "away", Addr(13))});
  MainWindow& frame = ShowFrame(kMultiHost);
  EventCounter paints(&frame, QEvent::Paint);
  QStringList texts;
  bool command_on = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    frame.update();  // painted only if the event loop turns
    command_on = command_on || frame.action(kCmdAddServerWizard)->isEnabled();
  });
  QObject::connect(frame.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
    if (!text.isEmpty()) texts << text;
  });
  watch.start(5);
  frame.LoadDocument();
  watch.stop();
  EXPECT_GT(paints.count, 3);
  ASSERT_GE(texts.size(), 3);
  EXPECT_EQ(texts.mid(0, 2), (QStringList{"Searching for servers...",
                                          "Looking for 2 servers that did not answer..."}));
  EXPECT_EQ(texts.back(), "Ready");
  EXPECT_FALSE(command_on);
  frame.InitialUpdate(false);
  EXPECT_TRUE(frame.action(kCmdAddServerWizard)->isEnabled());
  ASSERT_EQ(frame.tree()->topLevelItem(0)->childCount(), 3);
}

TEST_F(ManagerGuiTest, SaveKeepsTheWindowPaintingWithProgressAndHoldsInputOff) {
  StartLab({LabServer(101, "north", Addr(10))});
  WriteHive(kMultiHost, {MakeEntry(101, "north", Addr(10))});
  MainWindow& frame = OpenFrame(kMultiHost);
  frame.tree()->setCurrentItem(ServerItem(0));
  frame.SetActiveView(ActiveView::Tree);
  doc_->tables().server(0).write_state = kWriteAlways;  // written at the next save
  doc_->tables().SetModified(true);
  frame.UpdateActions();
  prompter_.Clear();

  // While the save waits for the server to restart, a timer watches the screen and the
  // user presses keys, clicks Delete Server and closes the window.
  EventCounter paints(&frame, QEvent::Paint);
  EventCounter keys(frame.tree(), QEvent::KeyPress);
  QStringList restart_texts;
  bool wait_cursor = false;
  bool tried = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    frame.update();  // painted only if the event loop turns
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* label =
          w->objectName() == "progressWindow" && w->isVisible() ? w->findChild<QLabel*>() : nullptr;
      if (label == nullptr || !label->text().startsWith("Restarting north: ")) continue;
      if (restart_texts.isEmpty() || restart_texts.back() != label->text())
        restart_texts << label->text();
      wait_cursor = QApplication::overrideCursor() != nullptr &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor;
      if (tried) continue;
      tried = true;
      QCoreApplication::postEvent(frame.tree(),
                                  new QKeyEvent(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier));
      frame.action(kCmdDeleteServer)->trigger();
      frame.close();
    }
  });
  watch.start(5);
  frame.action(kCmdSaveConfiguration)->trigger();
  watch.stop();
  QCoreApplication::processEvents();  // nothing held off comes through afterwards

  EXPECT_TRUE(tried);
  EXPECT_GT(paints.count, 3);
  ASSERT_GE(restart_texts.size(), 3);
  EXPECT_EQ(restart_texts.front(), "Restarting north: 11 s left");
  EXPECT_TRUE(wait_cursor);
  EXPECT_EQ(keys.count, 0);
  EXPECT_EQ(prompter_.texts(),
            (std::vector<std::string>{std::string(ManagerString(kStrRestartWarning))}));
  EXPECT_EQ(frame.tree()->topLevelItem(0)->childCount(), 1);
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(doc_->tables().modified());
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(w->objectName() == "progressWindow" && w->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ManagerPrompterTest, AdoptQuestionAnswersCancelOnEnter) {
  App();
  ui::QtPrompter base(QStringLiteral("Zelin Server Manager - Multi-Host"));
  ManagerPrompter prompter(base);
  QString shown;
  bool enter_is_cancel = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shown = box->text();
    enter_is_cancel = box->defaultButton() == box->button(QMessageBox::Cancel);
    box->defaultButton()->click();  // what Enter presses
  });
  const std::string text = AdoptOffer("old-a", "127.0.0.10", 201, 202);
  EXPECT_EQ(prompter.AskDefaultCancel(text, MsgIcon::Question), MsgAnswer::Cancel);
  EXPECT_TRUE(enter_is_cancel);
  EXPECT_EQ(shown, ui::ToQString(text));
}

TEST(ManagerPrompterTest, PasswordDialogShowsTheServerAndTakesSixteenCharacters) {
  App();
  ui::QtPrompter base(QStringLiteral("Zelin Server Manager"));
  ManagerPrompter prompter(base);
  const std::string info = PasswordDialogText("lab-north", 101, "127.0.0.10");
  QString title;
  int max_length = 0;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<PasswordDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    title = d->windowTitle();
    max_length = d->edit()->maxLength();
    ui::SaveWidgetPng(d, QStringLiteral(ZELIN_BUILD_DIR "/screenshots/srvmanager/password.png"));
    d->edit()->setText(QStringLiteral("harbour"));
    d->accept();
  });
  EXPECT_EQ(prompter.AskPassword(info, 16), std::optional<std::string>("harbour"));
  EXPECT_EQ(title, "Zelin Server");
  EXPECT_EQ(max_length, 16);

  QTimer::singleShot(0, [] {
    if (auto* d = qobject_cast<PasswordDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  EXPECT_EQ(prompter.AskPassword(info, 16), std::nullopt);
}

TEST_F(ManagerGuiTest, ScreenshotOfTheMainWindow) {
  StartLab({LabServer(101, "lab-north", Addr(10), 9476), LabServer(102, "lab-south", Addr(11), 771),
            LabServer(103, "lab-east", Addr(12), 9752)});
  WriteHive(kCustom,
            {MakeEntry(101, "lab-north", Addr(10)), MakeEntry(102, "lab-south", Addr(11), 771),
             MakeEntry(103, "lab-east", Addr(12), 9752), MakeEntry(104, "lab-west", Addr(13))});
  MainWindow& frame = OpenFrame(kCustom);
  SelectPort(1, 0);
  AnswerMapPort(3, true);
  frame.action(kCmdMapPort)->trigger();
  SelectPort(1, 2);
  const QString dir = QStringLiteral(ZELIN_BUILD_DIR "/screenshots/srvmanager/");
  ASSERT_TRUE(ui::SaveWidgetPng(&frame, dir + QStringLiteral("main_window.png")));
  EXPECT_TRUE(QFileInfo::exists(dir + QStringLiteral("main_window.png")));

  // The Map Port dialog of port 2, as it opens.
  bool saved = false;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<MapPortDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    saved = ui::SaveWidgetPng(d, dir + QStringLiteral("map_port.png"));
    d->reject();
  });
  SelectPort(1, 1);
  frame.action(kCmdMapPort)->trigger();
  EXPECT_TRUE(saved);
}

// --- the program as a process ------------------------------------------------------------

class ManagerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir_.isValid());
    hive_ = dir_.filePath("registry.reg");
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("ZELIN_REGISTRY", hive_);
    env_.insert("ZELIN_RUNTIME_DIR", dir_.path());
    env_.insert("ZELIN_LOOPBACK_ONLY", "1");
    env_.insert("ZELIN_INTERFACES", "127.0.0.1");
    env_.insert("ZELIN_BROADCAST", "127.0.0.255");
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    qputenv("ZELIN_RUNTIME_DIR", dir_.path().toLocal8Bit());
  }
  void TearDown() override { qunsetenv("ZELIN_RUNTIME_DIR"); }

  // Runs srvmanager with `arguments` while this process keeps serving its channels.
  int Run(const QStringList& arguments) {
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(QStringLiteral(ZELIN_SRVMANAGER_PATH), arguments);
    EXPECT_TRUE(p.waitForStarted());
    EXPECT_TRUE(SpinUntil([&] { return p.state() == QProcess::NotRunning; }));
    if (p.state() != QProcess::NotRunning) {
      p.kill();
      p.waitForFinished();
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }

  QTemporaryDir dir_;
  QString hive_;
  QProcessEnvironment env_;
};

TEST_F(ManagerProgramTest, ReleaseEmptiesTheStoreAndClosesOtherSuiteWindows) {
  {
    HiveFile hive(hive_.toStdString());
    ASSERT_TRUE(WriteInstallationType(hive, kMultiHost));
    ServerConfig e = MakeEntry(7, "x", Ipv4FromOctets(127, 0, 0, 10));
    e.port_mapped[0] = 1;
    e.com_number[0] = 3;
    ASSERT_TRUE(SaveServerStore(hive, std::vector<ServerConfig>{e}, {}));
  }
  platform_qt::InstanceChannel monitor(QStringLiteral("Zelin Server Monitor - lab.mnt"));
  platform_qt::InstanceChannel uninstall(QStringLiteral("Zelin Server Pro Uninstall"));
  ASSERT_TRUE(monitor.Listen());
  ASSERT_TRUE(uninstall.Listen());
  int monitor_closes = 0, uninstall_closes = 0;
  QObject::connect(&monitor, &platform_qt::InstanceChannel::closeRequested, [&] {
    ++monitor_closes;
    monitor.Close();  // the window closes, its channel goes
  });
  QObject::connect(&uninstall, &platform_qt::InstanceChannel::closeRequested,
                   [&] { ++uninstall_closes; });

  EXPECT_EQ(Run({QStringLiteral("RELEASE")}), 0);
  EXPECT_GE(monitor_closes, 1);
  EXPECT_EQ(uninstall_closes, 0);
  HiveFile hive(hive_.toStdString());
  EXPECT_EQ(ReadInstallationType(hive).value_or(-1), -1);
  MemoryRegistry reg;
  ASSERT_TRUE(hive.Load(reg));
  EXPECT_FALSE(reg.KeyExists(kParametersKey));
  EXPECT_TRUE(QFileInfo::exists(hive_ + ".changed"));  // FreshPort ran
}

TEST_F(ManagerProgramTest, SecondStartActivatesTheFirstWindow) {
  {
    HiveFile hive(hive_.toStdString());
    ASSERT_TRUE(WriteInstallationType(hive, kCustom));
  }
  platform_qt::InstanceChannel first(QStringLiteral("Zelin Server Manager - Custom"));
  ASSERT_TRUE(first.Listen());
  int activations = 0;
  QObject::connect(&first, &platform_qt::InstanceChannel::activateRequested,
                   [&] { ++activations; });
  EXPECT_EQ(Run({}), 0);
  EXPECT_TRUE(SpinUntil([&] { return activations == 1; }));
  // The same channel cannot be opened twice.
  platform_qt::InstanceChannel again(QStringLiteral("Zelin Server Manager - Custom"));
  EXPECT_FALSE(again.Listen());
}

}  // namespace
}  // namespace zelin::manager::testing
