#include "app/FormLayout.h"

#include <algorithm>

int ScaleToDpi(int APixels, int ADpi) {
    return (APixels * ADpi + DesignDpi / 2) / DesignDpi;
}

TRect DesignClientRect(int ADpi) {
    return {0, 0, ScaleToDpi(DesignClientWidth, ADpi), ScaleToDpi(DesignClientHeight, ADpi)};
}

TFormLayout ComputeFormLayout(int AClientWidth, int AClientHeight, int ADpi) {
    const int margin = ScaleToDpi(DesignMargin, ADpi);
    const int panelWidth = ScaleToDpi(DesignPanelWidth, ADpi);
    const int bevel = PanelBevel;

    TFormLayout layout{};
    layout.Panel = {AClientWidth - margin - panelWidth, margin, panelWidth,
                    std::max(0, AClientHeight - 2 * margin)};
    // The panel's own left margin and the log's two margins lie between them.
    layout.Memo = {margin, margin, std::max(0, layout.Panel.Left - 3 * margin),
                   std::max(0, AClientHeight - 2 * margin)};

    const int innerWidth = panelWidth - 2 * bevel - 2 * margin;
    int top = bevel;
    for (int i = 0; i < PanelItemCount; ++i) {
        const int height = ScaleToDpi(
            PanelItems[i].IsSeparator ? DesignSeparatorHeight : DesignButtonHeight, ADpi);
        layout.Items[i] = {bevel + margin, top + margin, innerWidth, height};
        top += margin + height + margin;
    }
    return layout;
}
