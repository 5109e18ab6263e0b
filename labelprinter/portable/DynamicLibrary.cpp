#include "DynamicLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kvprint {

DynamicLibrary::~DynamicLibrary()
{
    close();
}

bool DynamicLibrary::open(const std::string& name)
{
    close();
#if defined(_WIN32)
    m_handle = reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
#else
    m_handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    return m_handle != nullptr;
}

void DynamicLibrary::close()
{
    if (!m_handle) {
        return;
    }
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(m_handle));
#else
    dlclose(m_handle);
#endif
    m_handle = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const
{
    if (!m_handle) {
        return nullptr;
    }
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
#else
    return dlsym(m_handle, name);
#endif
}

std::string DynamicLibrary::folderOf(const void* address)
{
    std::string path;
#if defined(_WIN32)
    HMODULE module = nullptr;
    char name[MAX_PATH] = {};
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(address), &module)
        && GetModuleFileNameA(module, name, MAX_PATH) < MAX_PATH) {
        path = name;
    }
    const auto slash = path.find_last_of('\\');
#else
    Dl_info info {};
    if (dladdr(address, &info) != 0 && info.dli_fname) {
        path = info.dli_fname;
    }
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace kvprint
