// Storing the shown waveform, recalling one as a second trace over the live one, and clearing it.
#pragma once

#include "files/waveform_file.h"
#include "platform/panel_model.h"

#include <atomic>

constexpr int kStoredTraceColor = platform::makeColor(233, 113, 233);

int storeWaveform();
int recallWaveform();
void clearWaveform();
