// Any bytes as a calibration file of one kind: the file is loaded whole or the store keeps every
// standard it had, never a mixture.
#pragma once

#include "files/solt_file.h"
#include "freqdomain/store.h"
#include "panel/interface.h"
#include "panel/solt_io.h"
#include "platform/clock.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

inline int fuzzSoltFile(int type, const std::uint8_t* data, std::size_t size) {
    static std::string path;
    static StandardSet before;
    if (path.empty()) {
        platform::setVirtualTime(true);
        char tmpl[] = "/tmp/velt_fuzz_solt_XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        path = std::string(tmpl) + "/cal";
    }
    loadInterface(); // the log only grows: a fresh panel keeps every run as fast as the first
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    // Something recognisable in every slot, so a partly applied file would show.
    for (auto& standard : solt.store)
        for (auto& slot : standard) slot.y.fill(-7.25);
    before = solt.store;
    if (loadSOLTFile(type, path) != 1 && std::memcmp(&before, &solt.store, sizeof before) != 0)
        std::abort();
    return 0;
}
