// The panel described as data: its controls, menu items and callbacks, which the panel layer
// defines and the view builds the window from.
#pragma once

#include "platform/panel_model.h"

#include <span>

// Events delivered to callbacks.
constexpr int EVENT_COMMIT = 1;
constexpr int EVENT_RIGHT_CLICK = 3;
constexpr int EVENT_CLOSE = 12;
constexpr int EVENT_PANEL_SIZE = 23;

using CtrlCallback = int (*)(int panel, int control, int event, void* callbackData, int eventData1,
                             int eventData2);
using MenuCallback = void (*)(int menuBar, int menuItem, void* callbackData, int panel);
using PanelCallback = int (*)(int panel, int event, void* callbackData, int eventData1,
                              int eventData2);

struct RingItemDef {
    const char* label;
    int value;
};

struct ControlDef {
    int id;
    const char* name;
    platform::CtrlKind kind;
    const char* label;
    const char* text; // design text (strings, text boxes, messages, buttons)
    double value;     // design value (numerics, toggles)
    int precision;    // decimals of a numeric
    bool integer;     // numeric holding whole numbers
    double minValue, maxValue;
    std::span<const RingItemDef> items;
    CtrlCallback callback;
    int left, top, width, height;
};

struct MenuItemDef {
    int id;
    int parent; // 0: a menu of the bar
    const char* name;
    const char* label; // nullptr: separator
    bool checked;
    MenuCallback callback;
};

struct ControlArrayDef {
    int id;
    const char* name;
    std::span<const int> members;
};

// The whole panel for the view: title, design and minimum sizes, the tables and the panel's own
// callback (close and resize), delivered with panelId.
struct PanelTable {
    const char* title;
    int width, height, minWidth, minHeight;
    int panelId, menuBarId;
    std::span<const ControlDef> controls;
    std::span<const MenuItemDef> menus;
    PanelCallback panelCallback;

    const ControlDef* findControl(int id) const {
        for (const auto& d : controls)
            if (d.id == id) return &d;
        return nullptr;
    }
    const MenuItemDef* findMenu(int id) const {
        for (const auto& m : menus)
            if (m.id == id) return &m;
        return nullptr;
    }
};
