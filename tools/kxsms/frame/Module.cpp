// Finding and loading the module.
#include "frame/Module.h"

#include <climits>
#include <cstdlib>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace kxsms {

Module::Module(void *handle, CKXSMS *(*createObject)(), void (*destroyObject)(CKXSMS *))
    : handle_(handle), create_(createObject), destroy_(destroyObject)
{
}

// The library stays loaded until the process ends: objects of the stand-ins
// it pulled in may still be reached from exit handlers, and leak checkers can
// only name the code of libraries that are still mapped.
Module::~Module() = default;

// The folder of this program, with its trailing '/'; empty when unknown.
static std::string programFolder()
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "";
    std::string path(self, static_cast<size_t>(n));
    path.erase(path.rfind('/') + 1);
    return path;
}

std::vector<std::string> Module::candidatePaths()
{
    const std::string folder = programFolder();
    if (folder.empty())
        return {"libKXSMS.so"};
    std::vector<std::string> paths;
#ifdef KXSMS_MODULE_DIR
    // Installed: the module and the stand-ins sit in a private folder below
    // the library folder, so that they shadow nothing of the machine's own.
    paths.push_back(folder + KXSMS_MODULE_DIR "/libKXSMS.so");
#endif
    // Built: programs in build/bin, libraries in build/lib.
    paths.push_back(folder + "../lib/libKXSMS.so");
    return paths;
}

std::string Module::defaultPath()
{
    for (const std::string &path : candidatePaths()) {
        // A bare file name is left to the loader's own search.
        if (path.find('/') == std::string::npos)
            return path;
        // The real path, without the "bin/../lib" of the way there.
        char real[PATH_MAX];
        if (realpath(path.c_str(), real) != nullptr)
            return real;
    }
    return "";
}

std::unique_ptr<Module> Module::load(std::string &error)
{
    const char *configured = getenv("KXSMS_LIBRARY");
    const std::string path = configured != nullptr && configured[0] != '\0' ? configured : defaultPath();
    if (path.empty()) {
        error = "cannot find the module: no";
        const std::vector<std::string> candidates = candidatePaths();
        for (size_t i = 0; i < candidates.size(); ++i)
            error += (i == 0 ? " " : i + 1 == candidates.size() ? " nor " : ", ") + candidates[i];
        error += " (KXSMS_LIBRARY may name its file)";
        return nullptr;
    }
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        error = "cannot load the module " + path + ": " + (why != nullptr ? why : "unknown error");
        return nullptr;
    }
    auto create = reinterpret_cast<CKXSMS *(*)()>(dlsym(handle, "CreateKXSMS"));
    auto destroy = reinterpret_cast<void (*)(CKXSMS *)>(dlsym(handle, "DestroyKXSMS"));
    if (create == nullptr || destroy == nullptr) {
        error = "the module " + path + " does not export CreateKXSMS and DestroyKXSMS";
        dlclose(handle);
        return nullptr;
    }
    return std::unique_ptr<Module>(new Module(handle, create, destroy));
}

std::string Module::file() const
{
    struct link_map *map = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] != '\0')
        return map->l_name;
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(create_), &info) != 0 && info.dli_fname != nullptr)
        return info.dli_fname;
    return "";
}

} // namespace kxsms
