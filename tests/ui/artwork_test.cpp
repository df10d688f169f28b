// The drawn pictures and the PNG snapshot helper.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>

#include "tests/support/qt_app.hpp"
#include "store/installation_type.hpp"
#include "ui/artwork.hpp"
#include "ui/snapshot.hpp"

namespace zelin::ui {
namespace {

TEST(ArtworkTest, WizardPicturesHaveTheirSizeAndDifferByInstallationType) {
  zelin::testing::QtApp();
  const QImage plain = WizardPicture(0).toImage();
  EXPECT_EQ(plain.size(), QSize(164, 314));
  EXPECT_NE(WizardPicture(kMultiHost).toImage(), plain);
  EXPECT_NE(WizardPicture(kCustom).toImage(), WizardPicture(kMultiHost).toImage());
  EXPECT_EQ(WizardPicture(7).toImage(), plain);  // unknown types get the plain picture
  EXPECT_FALSE(ServerIcon().isNull());
  EXPECT_FALSE(SuiteIcon().pixmap(32).isNull());
}

TEST(ArtworkTest, SnapshotWritesThePngAndCreatesItsFolder) {
  zelin::testing::QtApp();
  QTemporaryDir dir;
  QLabel label("snapshot");
  label.resize(120, 40);
  const QString path = dir.filePath("a/b/label.png");
  ASSERT_TRUE(SaveWidgetPng(&label, path));
  const QImage image(path);
  EXPECT_EQ(image.size(), QSize(120, 40));
  EXPECT_FALSE(SaveWidgetPng(nullptr, dir.filePath("none.png")));
}

}  // namespace
}  // namespace zelin::ui
