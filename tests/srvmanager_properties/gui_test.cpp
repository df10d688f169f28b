// The Qt forms offscreen over the emulated lab: the sheet for each installation type
// with each page's main path, the small dialogs, the Replace Server dialog and the
// upgrade progress window, with a PNG of each into <build>/screenshots/properties/.
// Also measures the upgrade throughput of a 4 MiB image with the window shown.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "protocol/firmware.hpp"
#include "srvmanager/gui/main_window.hpp"
#include "srvmanager/gui/views.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "srvmanager/properties/gui/commands.hpp"
#include "srvmanager/properties/gui/dialogs.hpp"
#include "srvmanager/properties/gui/property_sheet_view.hpp"
#include "srvmanager/properties/gui/replace_server_view.hpp"
#include "srvmanager/properties/gui/upgrade_window.hpp"
#include "tests/srvmanager_properties/lab_fixture.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/snapshot.hpp"

namespace zelin::manager::testing {
namespace {

QApplication& App() {
  return zelin::testing::QtApp("properties_gui_tests");
}

QString Shot(const QString& name) {
  return QStringLiteral(ZELIN_BUILD_DIR "/screenshots/properties/") + name + ".png";
}

// The widget as the type the test expects; a different widget is a broken test.
template <typename T>
T* As(QObject* object) {
  T* typed = dynamic_cast<T*>(object);
  if (typed == nullptr) {
    std::fprintf(stderr, "unexpected widget type\n");
    std::abort();
  }
  return typed;
}

// Calls `act` with the next modal dialog other than `outer` once it runs. Gives up
// (failing the test) when none comes within about 2000 ticks of the event loop.
void OnModal(QWidget* outer, std::function<void(QDialog*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  auto ticks = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, outer, act, ticks] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (d == nullptr || d == outer) {
      if (++*ticks < 2000) return;
      ADD_FAILURE() << "no dialog came";
      timer->stop();
      timer->deleteLater();
      return;
    }
    timer->stop();
    timer->deleteLater();
    act(d);
  });
  timer->start();
}

class ChooserStub final : public FirmwareFileChooser {
 public:
  std::optional<std::string> path;
  std::optional<std::string> ChooseFirmwareFile() override { return path; }
};

class PropertiesGuiTest : public LabTest {
 protected:
  void SetUp() override { App(); }
  void Open(int type) {
    StartLab({Rich(10, 10)});
    Configure(10, 10, 9476, "Lab10");
    LoadDoc(type);
    Select(10);
  }
};

class PropertySheetTypeTest : public PropertiesGuiTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(PropertySheetTypeTest, OpensWithThePagesOfTheTypeAndSavesTheGeneralPage) {
  const int type = GetParam();
  Open(type);
  QStringList titles;
  bool read_only = false;
  OnModal(nullptr, [&](QDialog* d) {
    auto* sheet = As<PropertySheetView>(d);
    EXPECT_EQ(sheet->windowTitle(), "Server Properties");
    for (int i = 0; i < sheet->tabs()->count(); ++i) {
      titles << sheet->tabs()->tabText(i);
      sheet->ShowPage(i);
      ui::SaveWidgetPng(sheet, Shot(QStringLiteral("sheet_type%1_%2").arg(type).arg(i + 1)));
    }
    sheet->ShowPage(0);
    auto* general = As<GeneralPageView>(sheet->page(0));
    read_only = general->address->isReadOnly();
    EXPECT_TRUE(general->dhcp_enable->isEnabled());
    EXPECT_TRUE(general->dhcp_enable->isChecked());
    general->name->setText(QStringLiteral("Gui%1").arg(type));
    general->dhcp_disable->setChecked(true);
    sheet->accept();
  });
  EXPECT_TRUE(RunServerProperties(*doc, nullptr));
  QStringList expected{"General", "Password"};
  if (type >= kMultiHost) expected << "Access Control";
  if (type == kCustom) expected << "Advanced";
  EXPECT_EQ(titles, expected);
  EXPECT_EQ(read_only, type == kSingleHost);
  EXPECT_EQ(doc->tables().server(0).name(), "Gui" + std::to_string(type));
  EXPECT_EQ(Found(10).dhcp, 0);
  EXPECT_TRUE(doc->tables().modified());
}

INSTANTIATE_TEST_SUITE_P(Types, PropertySheetTypeTest, ::testing::Values(1, 2, 3));

TEST_F(PropertiesGuiTest, PasswordPageRefusesAWrongCurrentPasswordAndStays) {
  Open(kSingleHost);
  bool stayed = false;
  OnModal(nullptr, [&](QDialog* d) {
    auto* sheet = As<PropertySheetView>(d);
    sheet->ShowPage(1);
    auto* page = As<PasswordPageView>(sheet->page(1));
    page->current->setText("wrong");
    sheet->ShowPage(0);  // leaving validates
    EXPECT_EQ(sheet->tabs()->currentIndex(), 1);
    page->current->setText("");
    page->fresh->setText("a b");
    page->confirm->setText("a b");
    sheet->accept();
    stayed = sheet->isVisible() && page->fresh->text().isEmpty();
    page->fresh->setText("newpw");
    page->confirm->setText("newpw");
    page->auto_save->setChecked(true);
    ui::SaveWidgetPng(sheet, Shot("password_page_filled"));
    sheet->accept();
  });
  EXPECT_TRUE(RunServerProperties(*doc, nullptr));
  EXPECT_TRUE(stayed);
  EXPECT_EQ(prompter.texts(),
            (std::vector<std::string>{std::string(ManagerString(kStrWrongCurrentPassword)),
                                      std::string(ManagerString(kStrPasswordSpace))}));
  EXPECT_TRUE(Found(10).password_change_pending);
  EXPECT_EQ(Found(10).new_password, "newpw");
  EXPECT_NE(doc->tables().server(0).flags & kServerFlagPasswordSaved, 0);
}

TEST_F(PropertiesGuiTest, AccessControlAndAdvancedPagesMainPaths) {
  Open(kCustom);
  int port1_items = -1, addresses = -1, routes = -1;
  OnModal(nullptr, [&](QDialog* d) {
    auto* sheet = As<PropertySheetView>(d);
    sheet->ShowPage(2);
    auto* access = As<AccessControlPageView>(sheet->page(2));
    EXPECT_FALSE(access->add_ip->isEnabled());  // root of the port view
    access->SelectPath({0, -1});
    EXPECT_TRUE(access->add_ip->isEnabled());
    OnModal(sheet, [&](QDialog* g) {
      auto* grant = As<GrantAccessIpView>(g);
      EXPECT_TRUE(grant->single()->isChecked());
      EXPECT_FALSE(grant->netmask()->isEnabled());
      grant->address()->setText(QString::fromStdString(AddressToText(block.Address(77))));
      ui::SaveWidgetPng(grant, Shot("grant_access_ip"));
      grant->accept();
    });
    access->add_ip->click();
    port1_items = access->tree->topLevelItem(0)->child(0)->childCount();
    ui::SaveWidgetPng(sheet, Shot("access_by_port"));

    access->view->setCurrentIndex(1);
    addresses = access->tree->topLevelItem(0)->childCount();
    access->SelectPath({0, -1});
    EXPECT_TRUE(access->add_port->isEnabled());
    OnModal(sheet, [&](QDialog* a) {
      auto* add = As<AddPortView>(a);
      EXPECT_EQ(add->list()->count(), 4);
      add->list()->item(3)->setSelected(true);
      ui::SaveWidgetPng(add, Shot("add_port"));
      add->accept();
    });
    access->add_port->click();
    ui::SaveWidgetPng(sheet, Shot("access_by_address"));

    sheet->ShowPage(3);
    auto* advanced = As<AdvancedPageView>(sheet->page(3));
    OnModal(sheet, [&](QDialog* g) {
      auto* gw = As<GatewaySettingsView>(g);
      EXPECT_EQ(gw->metric()->text(), "1");
      gw->destination()->setText("10.7.0.0");
      gw->gateway()->setText(QString::fromStdString(AddressToText(block.Address(1))));
      gw->netmask()->setText("255.255.0.0");
      gw->metric()->setText("3");
      ui::SaveWidgetPng(gw, Shot("gateway_settings"));
      gw->accept();
    });
    advanced->add->click();
    routes = advanced->list->topLevelItemCount();
    ui::SaveWidgetPng(sheet, Shot("advanced_page"));
    sheet->accept();
  });
  EXPECT_TRUE(RunServerProperties(*doc, nullptr));
  EXPECT_EQ(port1_items, 2);
  EXPECT_EQ(addresses, 2);
  EXPECT_EQ(routes, 2);
  const ServerRecord& r = Found(10);
  ASSERT_EQ(r.access_total, 2);
  EXPECT_EQ(r.access_table[0].port_mask, 0xB);
  EXPECT_EQ(r.access_table[1], (AccessEntry{block.Address(77), 0xFFFFFFFFu, 0x1}));
  EXPECT_EQ(r.route_total, 2);
  EXPECT_EQ(r.route_table[1].metric, 3);
}

// Through the manager's main window: the installed command relabels the tree item.
TEST_F(PropertiesGuiTest, MainFrameCommandRelabelsTheServer) {
  Open(kCustom);
  MainWindow frame(*doc, "Zelin Server Manager - Custom", {},
                   {&RunServerProperties, &RunReplaceServer,
                    [](ManagerDocument& d, QWidget* p) { return RunUpgradeFirmware(d, p); }});
  frame.InitialUpdate(false);
  frame.show();
  frame.SelectFirstServer();
  OnModal(nullptr, [](QDialog* d) {
    auto* sheet = As<PropertySheetView>(d);
    As<GeneralPageView>(sheet->page(0))->name->setText("Renamed");
    sheet->accept();
  });
  frame.OnServerProperties();
  EXPECT_EQ(frame.tree()->topLevelItem(0)->child(0)->text(0), "Renamed(QX404)");
  EXPECT_TRUE(doc->tables().modified());
  EXPECT_TRUE(frame.action(kCmdSaveConfiguration)->isEnabled());
  ui::SaveWidgetPng(&frame, Shot("main_window_after_properties"));
}

TEST_F(PropertiesGuiTest, ReplaceDialogListsCandidatesAndDoubleClickActsAsOk) {
  StartLab({Server(200, 60, 9476, "KivoServer"), Server(300, 61, 8452)});
  Configure(100, 50, 9476, "Old");
  LoadDoc(kSingleHost);
  Select(100);
  int rows = -1;
  QString first;
  OnModal(nullptr, [&](QDialog* d) {
    auto* view = As<ReplaceServerView>(d);
    EXPECT_EQ(view->windowTitle(), "Replace Server...");
    EXPECT_EQ(view->find()->text(), "&Find");
    rows = view->list()->topLevelItemCount();
    first = view->list()->topLevelItem(0)->text(0);
    ui::SaveWidgetPng(view, Shot("replace_server"));
    emit view->list()->itemDoubleClicked(view->list()->topLevelItem(0), 0);
  });
  EXPECT_TRUE(RunReplaceServer(*doc, nullptr));
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(first, "Server200");
  EXPECT_EQ(doc->tables().server(0).serial_number, 200);
  EXPECT_TRUE(doc->tables().modified());
}

// The radios reload the edits from the model; what the user typed must survive them.
TEST_F(PropertiesGuiTest, GrantRadiosKeepWhatWasTyped) {
  ScriptedPrompter quiet;
  GrantAccessIpDialog model(quiet, "Server Name : Lab", "", "");
  GrantAccessIpView view(model);
  EXPECT_TRUE(view.group()->isChecked());
  EXPECT_TRUE(view.netmask()->isEnabled());
  view.address()->setText("10.1.2.0");
  view.netmask()->setText("255.255.255.0");
  view.group()->click();
  EXPECT_EQ(view.address()->text(), "10.1.2.0");
  EXPECT_EQ(view.netmask()->text(), "255.255.255.0");
  view.single()->click();
  EXPECT_EQ(view.address()->text(), "10.1.2.0");
  EXPECT_EQ(view.netmask()->text(), "255.255.255.255");
  EXPECT_FALSE(view.netmask()->isEnabled());
  view.group()->click();
  EXPECT_TRUE(view.netmask()->isEnabled());
  view.netmask()->setText("255.255.0.0");
  view.accept();
  EXPECT_EQ(view.result(), QDialog::Accepted);
  EXPECT_EQ(model.address(), Ipv4FromOctets(10, 1, 2, 0));
  EXPECT_EQ(model.netmask(), Ipv4FromOctets(255, 255, 0, 0));
}

TEST_F(PropertiesGuiTest, ProgressWindowShowsPercentAndDisablesTheMainWindow) {
  QWidget main;
  main.resize(300, 200);
  main.show();
  UpgradeProgress progress;
  UpgradeWindow window(progress, &main);
  EXPECT_EQ(window.windowTitle(), "Zelin Server Upgrade");
  EXPECT_EQ(window.percent()->text(), " 0 %");
  progress.Show(DownloadingText("Lab10", 10, Ipv4FromOctets(127, 0, 0, 10)));
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(main.isEnabled());
  EXPECT_TRUE(window.isEnabled());  // not greyed with the main window
  ASSERT_NE(window.windowHandle(), nullptr);
  EXPECT_EQ(window.windowHandle()->transientParent(), main.windowHandle());  // stays above it
  for (int i = 0; i < 4; ++i) progress.Step();
  EXPECT_EQ(window.bar()->value(), 40);
  EXPECT_EQ(window.percent()->text(), "40%");
  ui::SaveWidgetPng(&window, Shot("upgrade_progress"));
  progress.Close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(main.isEnabled());
}

// 4 MiB through the manager's command with the window shown, and the same image
// through the bare download for comparison. Reported, not asserted.
TEST_F(PropertiesGuiTest, UpgradeThroughputOfA4MiBImage) {
  StartLab({Server(10, 10)});
  Configure(10, 10, 9476, "Lab10");
  LoadDoc(kSingleHost);
  Select(10);
  const std::string path = ::testing::TempDir() + "props_fw_4mib.rom";
  {
    std::ofstream f(path, std::ios::binary);
    std::vector<char> block_bytes(65536);
    for (size_t i = 0; i < block_bytes.size(); ++i) block_bytes[i] = static_cast<char>(i * 31);
    for (int i = 0; i < 64; ++i)
      f.write(block_bytes.data(), static_cast<std::streamsize>(block_bytes.size()));
  }
  QWidget main;
  main.show();
  ChooserStub chooser;
  chooser.path = path;
  const auto t0 = std::chrono::steady_clock::now();
  RunUpgradeFirmware(*doc, &main, &chooser);
  const double with_window =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{std::string(ManagerString(kStrUpgradeOk))});
  EXPECT_TRUE(main.isEnabled());

  // Let the server finish its restart, then the bare download.
  QElapsedTimer wait;
  wait.start();
  while (lab->Snapshot(10)->restarting && wait.elapsed() < 10000) QThread::msleep(10);
  NullProgress none;
  ServerRecord record = Found(10);
  const auto t1 = std::chrono::steady_clock::now();
  const Status bare = DownloadFirmware(*transport, record, path, 20, none);
  const double without_window =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
  EXPECT_EQ(bare, DownloadResult::kSuccess);
  const double mib = 4.0;
  std::printf(
      "[ throughput ] 4 MiB upgrade: %.1f MiB/s with the progress window (%.3f s), "
      "%.1f MiB/s bare (%.3f s)\n",
      mib / with_window, with_window, mib / without_window, without_window);
  RecordProperty("with_window_mib_s", std::to_string(mib / with_window));
  RecordProperty("bare_mib_s", std::to_string(mib / without_window));
  EXPECT_EQ(lab->Snapshot(10)->upgrades, 2);
}

}  // namespace
}  // namespace zelin::manager::testing
