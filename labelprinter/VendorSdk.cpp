#include "VendorSdk.h"

#include <string>

namespace kvprint {

namespace {

// The SDK is loaded by its plain file name. On Linux the dynamic loader then
// looks in $LD_LIBRARY_PATH and in the RUNPATH of the object that calls
// dlopen: this library's is "$ORIGIN", so the SDK is found beside
// libTagwright.so. Interposed dlopen wrappers (sanitizer runtimes, for one)
// hide the real caller and with it that RUNPATH, hence the second attempt
// with the full path beside this library.
#if defined(_WIN32)
const char* const sdkFileName = "CDFPSK.dll";
#else
const char* const sdkFileName = "libCDFPSK.so";
#endif

bool openSdk(DynamicLibrary& library)
{
    if (library.open(sdkFileName)) {
        return true;
    }
    const std::string folder = DynamicLibrary::folderOf(reinterpret_cast<const void*>(&openSdk));
    return !folder.empty() && library.open(folder + "/" + sdkFileName);
}

template <typename Function> void resolve(const DynamicLibrary& library, const char* name, Function& function)
{
    // Converting a data pointer to a function pointer is what the platform's
    // symbol lookup requires.
    function = reinterpret_cast<Function>(library.symbol(name));
}

} // namespace

bool VendorSdk::load()
{
    if (!openSdk(m_library)) {
        return false;
    }
    resolve(m_library, "OpenPort", m_entryPoints.openPort);
    resolve(m_library, "ClosePort", m_entryPoints.closePort);
    resolve(m_library, "PTK_ClearBuffer", m_entryPoints.clearBuffer);
    resolve(m_library, "PTK_SetLabelHeight", m_entryPoints.setLabelHeight);
    resolve(m_library, "PTK_SetLabelWidth", m_entryPoints.setLabelWidth);
    resolve(m_library, "PTK_SetDarkness", m_entryPoints.setDarkness);
    resolve(m_library, "PTK_SetPrintSpeed", m_entryPoints.setPrintSpeed);
    resolve(m_library, "PTK_SetDirection", m_entryPoints.setDirection);
    resolve(m_library, "PTK_SetCoordinateOrigin", m_entryPoints.setCoordinateOrigin);
    resolve(m_library, "PTK_DrawBar2D_QREx", m_entryPoints.drawQr);
    resolve(m_library, "PTK_DrawText", m_entryPoints.drawText);
    resolve(m_library, "PTK_PrintLabel", m_entryPoints.printLabel);
    return true;
}

void VendorSdk::unload()
{
    m_entryPoints = VendorEntryPoints();
    m_library.close();
}

} // namespace kvprint
