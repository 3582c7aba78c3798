// The main window's layout, apart from the window itself: the design sizes at
// 96 dots per inch and the rectangles they give for a client area and a DPI.
#pragma once

#include <array>
#include <cstddef>
#include <span>

inline constexpr int DesignDpi = 96;
inline constexpr int DesignClientWidth = 860;

// Design pixels: the margin round every component and every panel item (not
// shared between neighbours), the panel's width and its lowered bevel (one
// pixel on each side, at any DPI), the items' heights, and the room the
// design leaves under the last item.
inline constexpr int DesignMargin = 6;
inline constexpr int DesignPanelWidth = 246;
inline constexpr int PanelBevel = 1;
inline constexpr int DesignButtonHeight = 25;
inline constexpr int DesignSeparatorHeight = 2;
inline constexpr int DesignRoomBelowItems = 11;

enum class TActionId {
    aTestService,
    aTestDirect,
    aDownload27Files,
    aLPInstall,
    aLPLoad,
    aLPStart,
    aLPInject,
    aLPUninject,
    aLPStop,
    aLPUninstall,
};

struct TActionInfo {
    TActionId Id;
    const wchar_t* Name;
    const wchar_t* Caption;
};

// alSettingsOnAccess: the actions with their captions, each at the position
// its identifier names.
inline constexpr auto ActionInfos = std::to_array<TActionInfo>({
    {TActionId::aTestService, L"aTestService", L"Run Test (Service method)"},
    {TActionId::aTestDirect, L"aTestDirect", L"Run test (direct method)"},
    {TActionId::aDownload27Files, L"aDownload27Files", L"Download alternative files #1"},
    {TActionId::aLPInstall, L"aLPInstall", L"Install Live Protection"},
    {TActionId::aLPLoad, L"aLPLoad", L"Load Live Protection until reboot"},
    {TActionId::aLPStart, L"aLPStart", L"Start Live Protection"},
    {TActionId::aLPInject, L"aLPInject", L"Activate Live Protection"},
    {TActionId::aLPUninject, L"aLPUninject", L"Deactivate Live Protection"},
    {TActionId::aLPStop, L"aLPStop", L"Stop Live Protection"},
    {TActionId::aLPUninstall, L"aLPUninstall", L"Uninstall Live Protection (might need reboot)"},
});
inline constexpr int ActionCount = static_cast<int>(ActionInfos.size());
static_assert(
    [] {
        for (std::size_t i = 0; i < ActionInfos.size(); ++i) {
            if (ActionInfos[i].Id != static_cast<TActionId>(i))
                return false;
        }
        return true;
    }(),
    "an action's information stands at the position its identifier names");

// The children of panelActions from top to bottom. A separator has no action
// and no tab stop.
struct TPanelItem {
    const wchar_t* Name;
    bool IsSeparator;
    TActionId Action;
    int TabOrder;
};

inline constexpr auto PanelItems = std::to_array<TPanelItem>({
    {L"bnTest", false, TActionId::aTestService, 0},
    {L"bnTestDirect", false, TActionId::aTestDirect, 1},
    {L"Bevel2", true, TActionId::aTestService, -1},
    {L"bnDownload27Files", false, TActionId::aDownload27Files, 9},
    {L"Bevel1", true, TActionId::aTestService, -1},
    {L"bnLPInstall", false, TActionId::aLPInstall, 2},
    {L"Button2", false, TActionId::aLPLoad, 3},
    {L"Button3", false, TActionId::aLPStart, 4},
    {L"Button4", false, TActionId::aLPInject, 5},
    {L"Button5", false, TActionId::aLPUninject, 6},
    {L"Button6", false, TActionId::aLPStop, 7},
    {L"Button7", false, TActionId::aLPUninstall, 8},
});
inline constexpr int PanelItemCount = static_cast<int>(PanelItems.size());

// The panel's height at the design DPI that holds AItems: so a button added
// to the panel makes the window taller, never cut off.
constexpr int DesignPanelHeight(std::span<const TPanelItem> AItems) {
    int height = 2 * PanelBevel + DesignRoomBelowItems;
    for (const TPanelItem& item : AItems)
        height += DesignMargin + (item.IsSeparator ? DesignSeparatorHeight : DesignButtonHeight) +
                  DesignMargin;
    return height;
}
inline constexpr int DesignClientHeight =
    DesignMargin + DesignPanelHeight(PanelItems) + DesignMargin;

struct TRect {
    int Left, Top, Width, Height;
    bool operator==(const TRect&) const = default;
};

struct TFormLayout {
    TRect Memo;                              // memoDebug, in client coordinates
    TRect Panel;                             // panelActions, in client coordinates
    std::array<TRect, PanelItemCount> Items; // in panel client coordinates
};

// Design pixels scaled to ADpi.
int ScaleToDpi(int APixels, int ADpi);

// The client size the window asks for at ADpi.
TRect DesignClientRect(int ADpi);

// Lays the components out in a client area of the given size: the panel docked
// right at full height, the log filling the rest, 6-pixel margins all round.
TFormLayout ComputeFormLayout(int AClientWidth, int AClientHeight, int ADpi);
