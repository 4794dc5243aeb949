// Writes velt.1 at build time from the program's own option tables: the manual cannot drift from
// --help.
#include "app/options.h"
#include "setup/version.h"

#include <cstdio>

int main() {
    const std::string page = manPage(kVersionString);
    return std::fwrite(page.data(), 1, page.size(), stdout) == page.size() ? 0 : 1;
}
