// Return loss and insertion loss of the last acquisition.
#pragma once

int performS11();
int performS21();
