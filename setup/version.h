// The program's version, as the title, the files' headers and the log show it.
#pragma once

constexpr const char* kVersionString = "2.8.0.1";
