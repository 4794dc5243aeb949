// Start-up, event loop and shutdown.
#include "app/startup.h"

#include "panel/callbacks.h"

int panelHandle = 0;
int menuHandle = 0;
int bottomHandle = 0;
int rightHandle = 0;
int topHandle = 0;
int windowWidth = 0;
int windowHeight = 0;
char model[8] = "";
int channels = 0;
int speed = 0;

int veltMain() { return 0; }
void shutdown() {}

VELT_MENU_CB(onExit) {
    (void)menuBar, (void)menuItem, (void)callbackData, (void)panel;
    shutdown();
}

int onPanel(int panel, int event, void* callbackData, int eventData1, int eventData2) {
    (void)panel, (void)event, (void)callbackData, (void)eventData1, (void)eventData2;
    return 0;
}
