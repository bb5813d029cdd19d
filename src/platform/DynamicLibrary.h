#pragma once

#include <memory>
#include <string>

namespace velloq::platform {

// A shared library loaded into the process, unloaded when the object goes.
class DynamicLibrary {
public:
    // Null with `error` set when the library cannot be loaded.
    static std::unique_ptr<DynamicLibrary> open(std::string const& path, std::string& error);
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary const&) = delete;
    DynamicLibrary& operator=(DynamicLibrary const&) = delete;

    // The exported symbol of that name, or null.
    void* symbol(char const* name) const;

private:
    explicit DynamicLibrary(void* handle);
    void* m_handle;
};

// The file of the loaded module (the program or a shared library) that holds the address;
// empty when none does.
std::string module_file_of(void const* address);

}
