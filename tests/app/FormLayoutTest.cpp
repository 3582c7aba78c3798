#include <gtest/gtest.h>

#include <vector>

#include "app/FormLayout.h"

namespace {

TEST(FormLayout, DesignSizeAt96Dpi) {
    const TRect client = DesignClientRect(96);
    EXPECT_EQ(client.Width, 860);
    EXPECT_EQ(client.Height, 423);

    const TFormLayout layout = ComputeFormLayout(860, 423, 96);
    EXPECT_EQ(layout.Memo, (TRect{6, 6, 590, 411}));
    EXPECT_EQ(layout.Panel, (TRect{608, 6, 246, 411}));
    // Inside the panel's one-pixel bevel, 6-pixel margins on every side of
    // every child, margins not shared between neighbours.
    EXPECT_EQ(layout.Items[0], (TRect{7, 7, 232, 25}));  // bnTest
    EXPECT_EQ(layout.Items[1], (TRect{7, 44, 232, 25})); // bnTestDirect
    EXPECT_EQ(layout.Items[2], (TRect{7, 81, 232, 2}));  // Bevel2
    EXPECT_EQ(layout.Items[3], (TRect{7, 95, 232, 25})); // bnDownload27Files
    EXPECT_EQ(layout.Items[11].Top + layout.Items[11].Height, 7 + 10 * 37 + 2 * 14 - 12);
}

// The window's height follows the panel's items: one button more is one
// button's height and its margins more, and at every DPI the last item ends
// inside the panel, above the room the design leaves under it.
TEST(FormLayout, ThePanelHoldsItsItemsAtEveryDpi) {
    std::vector<TPanelItem> items(PanelItems.begin(), PanelItems.end());
    items.push_back({L"bnAnother", false, TActionId::aTestService, 10});
    EXPECT_EQ(DesignPanelHeight(items), DesignPanelHeight(PanelItems) + 6 + 25 + 6);
    items.push_back({L"Bevel3", true, TActionId::aTestService, -1});
    EXPECT_EQ(DesignPanelHeight(items), DesignPanelHeight(PanelItems) + 37 + 14);

    for (int dpi = 96; dpi <= 288; dpi += 24) {
        const TRect client = DesignClientRect(dpi);
        const TFormLayout layout = ComputeFormLayout(client.Width, client.Height, dpi);
        const TRect& last = layout.Items[PanelItemCount - 1];
        const int itemsEnd = last.Top + last.Height + ScaleToDpi(DesignMargin, dpi);
        EXPECT_LE(itemsEnd, layout.Panel.Height - PanelBevel) << dpi << " DPI";
        if (dpi == DesignDpi) {
            EXPECT_EQ(itemsEnd + DesignRoomBelowItems, layout.Panel.Height - PanelBevel);
        }
    }
}

TEST(FormLayout, ScalesWithDpi) {
    const TRect client = DesignClientRect(144);
    EXPECT_EQ(client.Width, 1290);
    EXPECT_EQ(client.Height, 635);
    const TFormLayout layout = ComputeFormLayout(client.Width, client.Height, 144);
    EXPECT_EQ(layout.Panel.Width, 369);
    EXPECT_EQ(layout.Items[0].Height, 38);
    EXPECT_EQ(layout.Memo.Left, 9);
}

TEST(FormLayout, LogFillsWhatThePanelLeavesWhenResized) {
    const TFormLayout wide = ComputeFormLayout(1200, 700, 96);
    EXPECT_EQ(wide.Panel, (TRect{1200 - 6 - 246, 6, 246, 688}));
    EXPECT_EQ(wide.Memo, (TRect{6, 6, 1200 - 246 - 6 * 4, 688}));
    const TFormLayout tiny = ComputeFormLayout(100, 10, 96);
    EXPECT_GE(tiny.Memo.Width, 0);
    EXPECT_GE(tiny.Memo.Height, 0);
}

TEST(FormLayout, PanelOrderAndTabOrderOfTheButtons) {
    int buttons = 0;
    bool tabOrders[ActionCount] = {};
    for (const TPanelItem& item : PanelItems) {
        if (item.IsSeparator)
            continue;
        ++buttons;
        ASSERT_GE(item.TabOrder, 0);
        ASSERT_LT(item.TabOrder, ActionCount);
        EXPECT_FALSE(tabOrders[item.TabOrder]) << "tab order used twice";
        tabOrders[item.TabOrder] = true;
    }
    EXPECT_EQ(buttons, ActionCount);
    EXPECT_TRUE(PanelItems[2].IsSeparator);
    EXPECT_TRUE(PanelItems[4].IsSeparator);
    EXPECT_EQ(PanelItems[3].TabOrder, 9); // the download button is reached last
}

} // namespace
