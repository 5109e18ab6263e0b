// A shared library loaded at run time; unloaded when the object goes.
// Not copyable; used from whichever thread owns it.
#pragma once

#include <string>

namespace kvprint {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool open(const std::string& name);
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    // nullptr when the library lacks the name.
    void* symbol(const char* name) const;

    // The folder of the loaded library that holds the address; empty when
    // unknown.
    static std::string folderOf(const void* address);

private:
    void* m_handle = nullptr;
};

} // namespace kvprint
