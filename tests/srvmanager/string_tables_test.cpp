// The numbered text tables of the manager and the wizard, the lookup they share, and
// the small tables that replaced switches (sheet page titles, caption suffixes).

#include <gtest/gtest.h>

#include "mapwizard/core/strings.hpp"
#include "platform/text_table.hpp"
#include "protocol/shared_texts.hpp"
#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/strings.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"
#include "store/installation_type.hpp"

namespace zelin {
namespace {

TEST(TextTableTest, FindsByNumberAndAnswersEmptyForOthers) {
  constexpr NumberedText kTable[] = {{7, "seven"}, {0, "zero"}, {-1, "minus"}, {7, "again"}};
  static_assert(FindText(kTable, 0) == "zero");  // usable at compile time
  EXPECT_EQ(FindText(kTable, 7), "seven");       // the first entry of a number wins
  EXPECT_EQ(FindText(kTable, -1), "minus");
  EXPECT_EQ(FindText(kTable, 8), "");
  EXPECT_EQ(FindText({}, 7), "");
}

TEST(TextTableTest, SharedMessagesReadTheSameInBothProgramsUnderTheirNumbers) {
  for (const NumberedText& shared : {texts::kComLimitExceeded, texts::kInvalidAddress}) {
    EXPECT_EQ(wizard::WizardString(shared.id), shared.text) << shared.id;
    EXPECT_EQ(manager::ManagerString(shared.id), shared.text) << shared.id;
  }
  EXPECT_EQ(wizard::kStrComLimit, 61237);
  EXPECT_EQ(manager::kStrComLimitExceeded, 61237);
  EXPECT_EQ(wizard::kStrInvalidAddress, 61239);
  EXPECT_EQ(manager::kStrInvalidAddress, 61239);
  EXPECT_EQ(manager::ManagerString(61237), "Your COM name have exceeded 256 limitation!");
  EXPECT_EQ(manager::ManagerString(61239), "Invalid IP address!");
  // A number only the other program holds is not in this one's table.
  EXPECT_EQ(wizard::WizardString(manager::kStrGetDhcpError), "");
  EXPECT_EQ(manager::ManagerString(wizard::kStrCancelQuestion), "");
}

TEST(TextTableTest, CommandTextsAreKeyedByTheCommandIds) {
  using namespace manager;
  EXPECT_EQ(CommandStatusText(kCmdAddServerWizard), "Add a server from network");
  EXPECT_EQ(CommandToolTip(kCmdAddServerWizard), "Add Server");
  EXPECT_EQ(CommandStatusText(kCmdDeleteServer), "Delete a server ");
  EXPECT_EQ(CommandToolTip(kCmdSaveConfiguration), "Save all Server");
  EXPECT_EQ(CommandToolTip(kCmdUnMapPort), "Unmap port");
  // The context menu's ids carry no texts of their own.
  EXPECT_EQ(CommandStatusText(kCmdCtxDeleteServer), "");
  EXPECT_EQ(CommandToolTip(kCmdCtxDeleteServer), "");
}

TEST(TextTableTest, PageTitlesAndCaptionSuffixesFollowTheirKeys) {
  using manager::PageKind, manager::PropertySheet;
  EXPECT_EQ(PropertySheet::PageTitle(PageKind::kGeneral), "General");
  EXPECT_EQ(PropertySheet::PageTitle(PageKind::kPassword), "Password");
  EXPECT_EQ(PropertySheet::PageTitle(PageKind::kAccessControl), "Access Control");
  EXPECT_EQ(PropertySheet::PageTitle(PageKind::kAdvanced), "Advanced");

  EXPECT_EQ(wizard::SheetCaption(kSingleHost), "Zelin Wizard - Traditional");
  EXPECT_EQ(wizard::SheetCaption(kMultiHost), "Zelin Wizard - Multi Host");
  EXPECT_EQ(wizard::SheetCaption(kCustom), "Zelin Wizard - Custom");
  EXPECT_EQ(wizard::SheetCaption(0), "Zelin Wizard");
  EXPECT_EQ(wizard::SheetCaption(4), "Zelin Wizard");
}

}  // namespace
}  // namespace zelin
