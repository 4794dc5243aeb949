#include "panel/panel_state.h"

PanelState panelState;
ViewWindow view;
