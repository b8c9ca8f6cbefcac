// SPDX-License-Identifier: MIT
#include "config/menu_entry.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/port_type_dialog.h"
#include "fake_view.h"
#include "host_failure.h"
#include "platform/cp1251.h"
#include "support/host_failure_seen.h"

namespace vu30::config {
namespace {

// A host menu item behind the C item table.
struct FakeItem : Vu30MenuItem {
  std::string caption;  // cp1251
  std::string hint;
  int32_t helpContext = -1;
  int32_t shortCut = -1;
  Vu30BoundMethod onClick{};
  std::vector<std::unique_ptr<FakeItem>> children;
  bool failOnCaption = false;
};

FakeItem& Of(Vu30MenuItem* item) { return *static_cast<FakeItem*>(item); }

int32_t VU30_CALL Count(Vu30MenuItem* self) {
  return static_cast<int32_t>(Of(self).children.size());
}
Vu30MenuItem* VU30_CALL Item(Vu30MenuItem* self, int32_t index) {
  return Of(self).children.at(static_cast<std::size_t>(index)).get();
}
const char* VU30_CALL Caption(Vu30MenuItem* self) { return Of(self).caption.c_str(); }
void VU30_CALL SetCaption(Vu30MenuItem* self, const char* text) {
  host::ReportAsHostFailure([&] {
    if (Of(self).failOnCaption) throw std::runtime_error("caption refused");
  });
  Of(self).caption = text;
}
void VU30_CALL SetHint(Vu30MenuItem* self, const char* text) { Of(self).hint = text; }
void VU30_CALL SetHelpContext(Vu30MenuItem* self, int32_t c) { Of(self).helpContext = c; }
void VU30_CALL SetShortCut(Vu30MenuItem* self, int32_t s) { Of(self).shortCut = s; }
void VU30_CALL SetOnClick(Vu30MenuItem* self, Vu30BoundMethod m) { Of(self).onClick = m; }

const Vu30MenuItemTable kTable = {Count,   Item,           Caption,     SetCaption,
                                  SetHint, SetHelpContext, SetShortCut, SetOnClick};

std::unique_ptr<FakeItem> MakeItem(const std::string& utf8Caption) {
  auto item = std::make_unique<FakeItem>();
  item->table = &kTable;
  item->caption = platform::Utf8ToCp1251(utf8Caption);
  return item;
}

// The host's item-creation function, as the test sets it up.
int createCalls = 0;
int32_t lastIndex = 0;
bool createThrows = false;
bool newItemRefusesCaption = false;

Vu30MenuItem* VU30_CALL CreateItem(Vu30MenuItem* parent, int32_t index) {
  ++createCalls;
  lastIndex = index;
  host::ReportAsHostFailure([] {
    if (createThrows) throw std::runtime_error("no more items");
  });
  auto item = MakeItem("");
  item->failOnCaption = newItemRefusesCaption;
  Of(parent).children.push_back(std::move(item));
  return Of(parent).children.back().get();
}

class MenuEntryTest : public ::testing::Test {
 protected:
  MenuEntryTest() {
    ResetMenuEntry();
    createCalls = 0;
    createThrows = false;
    newItemRefusesCaption = false;
    root = MakeItem("");
    for (const char* caption : {"&Файл", "ТРК", "&трк", "&ТРКи", "&ТРК", "&ТРК"}) {
      root->children.push_back(MakeItem(caption));
    }
  }
  ~MenuEntryTest() override { ResetMenuEntry(); }

  std::unique_ptr<FakeItem> root;
  int driver = 0;  // stands for the driver object the click is bound to
};

TEST_F(MenuEntryTest, AddsOneEntryUnderTheFirstExactCaption) {
  AddMenuEntry(root.get(), CreateItem, &driver);
  ASSERT_EQ(createCalls, 1);
  EXPECT_EQ(lastIndex, -1);
  for (std::size_t i = 0; i < root->children.size(); ++i) {
    EXPECT_EQ(root->children[i]->children.size(), i == 4 ? 1u : 0u) << i;
  }
  const FakeItem& entry = *root->children[4]->children[0];
  const std::string expected =
      "\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5"
      " \xEF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xEE\xE2 Trovelheim";
  EXPECT_EQ(entry.caption, expected);
  EXPECT_EQ(entry.hint, expected);
  EXPECT_EQ(entry.helpContext, 0);
  EXPECT_EQ(entry.shortCut, 0);
  EXPECT_NE(entry.onClick.code, nullptr);
  EXPECT_EQ(entry.onClick.data, &driver);

  AddMenuEntry(root.get(), CreateItem, &driver);  // once per load
  EXPECT_EQ(createCalls, 1);
}

TEST_F(MenuEntryTest, NoMatchOnTheFirstCallMeansNoEntryForThisLoad) {
  auto other = MakeItem("");
  other->children.push_back(MakeItem("ТРК"));
  other->children.push_back(MakeItem("&трк"));
  AddMenuEntry(other.get(), CreateItem, &driver);
  AddMenuEntry(root.get(), CreateItem, &driver);
  EXPECT_EQ(createCalls, 0);
  auto empty = MakeItem("");
  ResetMenuEntry();
  AddMenuEntry(empty.get(), CreateItem, &driver);  // no children at all
  EXPECT_EQ(createCalls, 0);
}

TEST_F(MenuEntryTest, HostErrorsPassThroughAndTheEntryStaysPending) {
  createThrows = true;
  EXPECT_THROW(AddMenuEntry(root.get(), CreateItem, &driver), test::HostFailureSeen);
  createThrows = false;
  newItemRefusesCaption = true;
  EXPECT_THROW(AddMenuEntry(root.get(), CreateItem, &driver), test::HostFailureSeen);
  newItemRefusesCaption = false;
  AddMenuEntry(root.get(), CreateItem, &driver);
  EXPECT_EQ(createCalls, 3);
  // The item whose caption was refused stays where the host put it.
  EXPECT_EQ(root->children[4]->children.size(), 2u);
}

TEST_F(MenuEntryTest, RefusesMissingArgumentsWithoutUsingUpTheEntry) {
  EXPECT_THROW(AddMenuEntry(nullptr, CreateItem, &driver), EVu30Refused);
  EXPECT_THROW(AddMenuEntry(root.get(), nullptr, &driver), EVu30Refused);
  AddMenuEntry(root.get(), CreateItem, &driver);
  EXPECT_EQ(createCalls, 1);
}

TEST_F(MenuEntryTest, RefusesItemTablesWithAnEntryItWouldCallMissing) {
  // The parent's Item, a child's Caption: refused before anything is created.
  Vu30MenuItemTable noItem = kTable;
  noItem.Item = nullptr;
  root->table = &noItem;
  EXPECT_THROW(AddMenuEntry(root.get(), CreateItem, &driver), EVu30Refused);
  root->table = &kTable;
  Vu30MenuItemTable noCaption = kTable;
  noCaption.Caption = nullptr;
  root->children[0]->table = &noCaption;
  EXPECT_THROW(AddMenuEntry(root.get(), CreateItem, &driver), EVu30Refused);
  EXPECT_EQ(createCalls, 0);
  // The entry is still pending: a sound menu gets it.
  root->children[0]->table = &kTable;
  AddMenuEntry(root.get(), CreateItem, &driver);
  EXPECT_EQ(createCalls, 1);
}

TEST_F(MenuEntryTest, ClickShowsTheLibraryDialogAndReturnsWhenItCloses) {
  AddMenuEntry(root.get(), CreateItem, &driver);
  const Vu30BoundMethod click = root->children[4]->children[0]->onClick;
  const auto code = reinterpret_cast<Vu30MenuClickFn>(click.code);

  COMTypeTRKForm.SetViewFactory([](TCOMTypeTRKForm&) { return nullptr; });
  code(click.data, root.get());  // no screen: returns at once

  testing::FakeView* view = nullptr;
  testing::UseFakeView(COMTypeTRKForm, &view);
  bool wasShowing = false;
  code(click.data, nullptr);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->messagesSent, 1);
  EXPECT_EQ(view->modalShows, 1);
  view->operatorActs = [&](testing::FakeView&) {
    wasShowing = COMTypeTRKForm.Showing();
    return ModalResult::kCancel;
  };
  code(click.data, nullptr);
  EXPECT_TRUE(wasShowing);
  EXPECT_FALSE(COMTypeTRKForm.Showing());  // closed by the time the click returns
  COMTypeTRKForm.SetViewFactory(nullptr);
}

TEST(Cp1251, ConvertsBothWays) {
  EXPECT_EQ(platform::Utf8ToCp1251("&ТРК"), "\x26\xD2\xD0\xCA");
  EXPECT_EQ(platform::Cp1251ToUtf8("\xC5\xD1-2000 \xB9\x88"), "ЕС-2000 №€");
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98) continue;
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(platform::Utf8ToCp1251(platform::Cp1251ToUtf8(byte)), byte) << b;
  }
  EXPECT_EQ(platform::Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
  EXPECT_EQ(platform::Utf8ToCp1251("a中b"), "a?b");
  EXPECT_EQ(platform::Utf8ToCp1251("\xFF\xD0"), "??");  // a stray byte, a cut sequence
  EXPECT_EQ(platform::Utf8ToCp1251("\xC0\xAF"), "??");  // overlong form of '/'
  constexpr auto literal = platform::Cp1251Literal("Имп/л");
  static_assert(literal.size == 5 && literal.bytes[0] == '\xC8' && literal.bytes[5] == '\0');
  EXPECT_STREQ(literal.c_str(), platform::Utf8ToCp1251("Имп/л").c_str());
}

}  // namespace
}  // namespace vu30::config
