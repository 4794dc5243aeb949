// Time stamp of the last drawn acquisition.
#pragma once

#include "platform/clock.h"

#include <cstddef>

int updateTimestamp();
// "MMM DD YYYY | hh:mm:ss" into out; returns what snprintf returns.
int formatTimestamp(const platform::DateTime& dt, char* out, std::size_t size);
