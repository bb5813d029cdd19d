#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace velloq::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::open(std::string const& path, std::string& error)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        char const* reason = ::dlerror();
        error = reason ? reason : "cannot load " + path;
        return nullptr;
    }
    return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::DynamicLibrary(void* handle)
    : m_handle(handle)
{
}

DynamicLibrary::~DynamicLibrary()
{
    ::dlclose(m_handle);
}

void* DynamicLibrary::symbol(char const* name) const
{
    return ::dlsym(m_handle, name);
}

std::string module_file_of(void const* address)
{
    Dl_info info {};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

}
