// The folders' include arrows against the layers, bottom to top: a folder includes only
// folders below it, so no two folders can include each other either; the window includes only
// the platform.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

// platform/qt and simulator/qt are the views: above everything but app/main.cpp.
const std::map<std::string, int> kLayer = {
    {"platform", 0},    {"setup", 1},       {"instrument", 2},  {"simulator", 2},
    {"acquisition", 3}, {"freqdomain", 4},  {"files", 5},       {"panel", 6},
    {"app", 7},         {"platform/qt", 8}, {"simulator/qt", 8}};

TEST(Layers, NoFolderIncludesOneAtOrAboveItsOwnLayer) {
    const std::regex include(R"re(#include "([a-z_]+)/)re");
    std::set<std::string> upward;
    for (const auto& [folder, layer] : kLayer) {
        for (const auto& e : fs::recursive_directory_iterator(fs::path(VELT_SOURCE_DIR) / folder)) {
            const std::string rel = fs::relative(e.path(), VELT_SOURCE_DIR).generic_string();
            // The views are layers of their own.
            if (rel.rfind(folder + "/qt/", 0) == 0) continue;
            std::ifstream in(e.path());
            for (std::string line; std::getline(in, line);) {
                std::smatch m;
                if (!std::regex_search(line, m, include) || m[1] == folder) continue;
                const auto to = kLayer.find(m[1]);
                // The window builds itself from the table it is given: platform only.
                const bool viewReachesUp = folder == "platform/qt" && m[1] != "platform";
                if (to != kLayer.end() && (to->second >= layer || viewReachesUp))
                    upward.insert(folder + " -> " + to->first);
            }
        }
    }
    EXPECT_EQ(upward, std::set<std::string>{});
}

} // namespace
