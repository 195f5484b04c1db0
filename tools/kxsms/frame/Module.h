// Loading libKXSMS.so the way an agent does: dlopen, then the exported
// factory pair. Nothing else of the module is bound; every operation goes
// through the object's virtual table.
#ifndef KXSMS_TOOLS_MODULE_H
#define KXSMS_TOOLS_MODULE_H

#include <memory>
#include <string>
#include <vector>

#include "KXSMS.h"

namespace kxsms {

class Module {
public:
    // The module named by KXSMS_LIBRARY, else the first of candidatePaths() that exists.
    // Null with the reason in error when it cannot be loaded.
    static std::unique_ptr<Module> load(std::string &error);
    // Where load() looks when KXSMS_LIBRARY is not set, in order: the install
    // tree's private library folder (<directory of this program>/KXSMS_MODULE_DIR,
    // set by the build from the install folders), then the build tree's
    // <directory of this program>/../lib.
    static std::vector<std::string> candidatePaths();
    // The first candidate that exists; empty when none does.
    static std::string defaultPath();

    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;
    ~Module();

    // A new object; throws what CreateKXSMS throws.
    CKXSMS *create() const { return create_(); }
    void destroy(CKXSMS *object) const { destroy_(object); }
    // The file the module was loaded from, as the dynamic loader knows it.
    std::string file() const;

private:
    Module(void *handle, CKXSMS *(*create)(), void (*destroy)(CKXSMS *));

    void *handle_;
    CKXSMS *(*create_)();
    void (*destroy_)(CKXSMS *);
};

// One object of the module, destroyed with DestroyKXSMS.
class ModuleObject {
public:
    explicit ModuleObject(const Module &module) : module_(module), object_(module.create()) {}
    ~ModuleObject() { module_.destroy(object_); }
    ModuleObject(const ModuleObject &) = delete;
    ModuleObject &operator=(const ModuleObject &) = delete;
    CKXSMS &operator*() const { return *object_; }
    CKXSMS *operator->() const { return object_; }

private:
    const Module &module_;
    CKXSMS *object_;
};

} // namespace kxsms

#endif
