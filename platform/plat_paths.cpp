#include "plat_paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace plat {

static std::string envOr(const char *name) {
    const char *v = getenv(name);
    return v ? std::string(v) : std::string();
}

std::string machineDir() {
    std::string home = envOr("SEALDESK_HOME");
    if (!home.empty()) return home + "/machine";
    return "/etc/sealdesk";
}

std::string userDir() {
    std::string home = envOr("SEALDESK_HOME");
    if (!home.empty()) return home + "/user";
    std::string xdg = envOr("XDG_CONFIG_HOME");
    if (!xdg.empty()) return xdg + "/sealdesk";
    std::string h = envOr("HOME");
    if (!h.empty()) return h + "/.config/sealdesk";
    return std::string();
}

bool makeDirs(const std::string &path) {
    if (path.empty()) return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(path.substr(0, slash))) return false;
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
    return false;
}

}  // namespace plat
