// Finding and loading the module.
#include "Module.h"

#include <climits>
#include <cstdlib>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace kxsms {

Module::Module(void *handle, CKXSMS *(*create)(), void (*destroy)(CKXSMS *))
    : handle_(handle), create_(create), destroy_(destroy)
{
}

// The library stays loaded until the process ends: objects of the stand-ins
// it pulled in may still be reached from exit handlers, and leak checkers can
// only name the code of libraries that are still mapped.
Module::~Module() = default;

std::string Module::defaultPath()
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "libKXSMS.so";
    std::string path(self, static_cast<size_t>(n));
    path.erase(path.rfind('/') + 1);
    return path + "../lib/libKXSMS.so";
}

std::unique_ptr<Module> Module::load(std::string &error)
{
    const char *configured = getenv("KXSMS_LIBRARY");
    const std::string path = configured != nullptr && configured[0] != '\0' ? configured : defaultPath();
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
