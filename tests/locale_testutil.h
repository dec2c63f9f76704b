// German locales built from the Debian locale sources into the build dir, for the suites that check their
// code against a locale other than "C" (bytes above 127 as letters, a comma as decimal point).
#pragma once

#include <clocale>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace localetest {

// Builds de_DE in the given character set under the build dir's folder and sets it for LC_ALL; answers false
// when it cannot be set.
inline bool set_de_locale(const char *folder, const char *charset) {
    const char *dir = getenv("KIV_BUILD_DIR");
    std::string base = std::string(dir ? dir : ".") + "/" + folder;
    std::string name = std::string("de_DE.") + charset;
    std::string probe = base + "/" + name + "/LC_CTYPE";
    // glibc remembers a failed lookup, so the locale is built before the first setlocale asks for it.
    if (access(probe.c_str(), R_OK) != 0) {
        std::string cmd = "mkdir -p '" + base + "' && localedef -i de_DE -f " + charset + " '" + base + "/" + name +
                          "' >/dev/null 2>&1";
        if (system(cmd.c_str()) < 0)
            return false;
    }
    setenv("LOCPATH", base.c_str(), 1);
    return setlocale(LC_ALL, name.c_str()) != nullptr;
}

// A locale in which bytes above 127 are letters (Latin-1).
inline bool set_latin1_locale(const char *folder) {
    return set_de_locale(folder, "ISO-8859-1");
}

} // namespace localetest
