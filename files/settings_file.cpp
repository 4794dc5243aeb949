// Settings file (placeholder until the settings record is built): both directions succeed.
#include "files/settings_file.h"

int loadSettings(int autosave) {
    (void)autosave;
    return 1;
}

int saveSettings(int autosave) {
    (void)autosave;
    return 1;
}
