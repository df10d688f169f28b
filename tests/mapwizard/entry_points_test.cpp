// The exported entry points of libmapwizard.so, called as the manager calls them.
#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include <QWizard>
#include "mapwizard/mapwizard.h"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"
#include "tests/mapwizard/wizard_fixture.hpp"
#include "tests/support/qt_app.hpp"

namespace zelin::wizard::testing {
namespace {

class EntryPointTest : public WizardFixture {
 protected:
  void SetUp() override {
    zelin::testing::QtApp();
    ASSERT_TRUE(dir.isValid());
    hive_path = dir.filePath("registry.reg").toStdString();
    ::setenv("ZELIN_REGISTRY", hive_path.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ZELIN_REGISTRY");
    ::unsetenv("ZELIN_INTERFACES");
    ::unsetenv("ZELIN_BROADCAST");
  }

  // A store with two servers counted and, when given, an installation type.
  void WriteStore(std::optional<uint32_t> type) {
    MemoryRegistry reg;
    ASSERT_TRUE(reg.CreateKey(kParametersKey));
    ASSERT_TRUE(reg.WriteDword(kParametersKey, "Servers", 2));
    if (type) {
      ASSERT_TRUE(reg.WriteDword(kParametersKey, "ZelinType", *type));
    }
    ASSERT_TRUE(HiveFile(hive_path).Store(reg));
  }
  MemoryRegistry ReadStore() {
    MemoryRegistry reg;
    EXPECT_TRUE(HiveFile(hive_path).Load(reg));
    return reg;
  }

  QTemporaryDir dir;
  std::string hive_path;
};

TEST_F(EntryPointTest, SetZelinTypeStoresTheTypeOnceAndLeavesTheServerCountAlone) {
  WriteStore(std::nullopt);
  ZelinTypeArguments bad{7};
  EXPECT_EQ(SetZelinType(&bad), 0);
  EXPECT_FALSE(ReadStore().ReadDword(kParametersKey, "ZelinType").has_value());

  ZelinTypeArguments multi{zelin::kMultiHost};
  EXPECT_EQ(SetZelinType(&multi), 0);
  MemoryRegistry reg = ReadStore();
  EXPECT_EQ(reg.ReadDword(kParametersKey, "ZelinType"), 2u);
  EXPECT_EQ(reg.ReadDword(kParametersKey, "Servers"), 2u);

  ZelinTypeArguments custom{zelin::kCustom};
  EXPECT_EQ(SetZelinType(&custom), 1);
  EXPECT_EQ(SetZelinType(nullptr), 1);
  EXPECT_EQ(ReadStore().ReadDword(kParametersKey, "ZelinType"), 2u);
}

TEST_F(EntryPointTest, WizardRefusesBlocksItCannotTrust) {
  EXPECT_EQ(VCOMMManWizard(nullptr), 0);
  WizardArguments args{};
  EXPECT_EQ(VCOMMManWizard(&args), 0);
  count = 33;
  args = {nullptr, 0, nullptr, found.get(), saved_found.get(), config.data(), saved.data(), &count};
  EXPECT_EQ(VCOMMManWizard(&args), 0);
  count = 0;
  args.interface_count = 1;  // but no socket table
  EXPECT_EQ(VCOMMManWizard(&args), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(EntryPointTest, WizardRunsModallyOnTheBorrowedSocketsAndReportsFinish) {
  WriteStore(1u);
  StartLab({Server(8, 10)});
  ::setenv("ZELIN_INTERFACES", AddressToText(block.Interface()).c_str(), 1);
  ::setenv("ZELIN_BROADCAST", AddressToText(block.Broadcast()).c_str(), 1);

  // Presses the button each page offers: Next through the pages, then Finish.
  QString caption;
  QTimer driver;
  driver.setInterval(50);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    // The sheet's own class lives hidden inside the library; Qt's QWizard is shared.
    auto* sheet = qobject_cast<QWizard*>(QApplication::activeModalWidget());
    if (sheet == nullptr || sheet->objectName() != "addServerWizard") return;
    caption = sheet->windowTitle();
    auto* finish = sheet->button(QWizard::CustomButton3);
    auto* next = sheet->button(QWizard::CustomButton2);
    QTest::mouseClick(finish->isVisible() ? finish : next, Qt::LeftButton);
  });
  driver.start();

  std::array<int, 1> sockets{manager->socket(0)};
  std::array<uint32_t, 1> addresses{manager->local_address(0)};
  WizardArguments args{
      sockets.data(), 1,     addresses.data(), found.get(), saved_found.get(), config.data(),
      saved.data(),   &count};
  EXPECT_EQ(VCOMMManWizard(&args), 1);
  driver.stop();
  EXPECT_EQ(caption, "Zelin Wizard - Traditional");
  ASSERT_EQ(count, 1);
  EXPECT_EQ(config[0].serial_number, 8);
  EXPECT_EQ(Record(8).socket, manager->socket(0));
  EXPECT_EQ(saved_found->count, 1);
  // The borrowed socket is still the manager's and still open.
  EXPECT_EQ(manager->socket(0), sockets[0]);
}

}  // namespace
}  // namespace zelin::wizard::testing
