// The vendor label-printer SDK, loaded at run time, with the entry points
// label printing uses. A name the library lacks leaves its pointer empty;
// calling through an empty pointer counts as a failed step.
// Process-wide: loaded by CTagwright::Init, dropped by CTagwright::Uninit.
#pragma once

#include "portable/DynamicLibrary.h"

#include <CDFPSK.h>

namespace kvprint {

struct VendorEntryPoints {
    CdfpskOpenPort openPort = nullptr;
    CdfpskClosePort closePort = nullptr;
    CdfpskClearBuffer clearBuffer = nullptr;
    CdfpskSetLabelHeight setLabelHeight = nullptr;
    CdfpskSetLabelWidth setLabelWidth = nullptr;
    CdfpskSetDarkness setDarkness = nullptr;
    CdfpskSetPrintSpeed setPrintSpeed = nullptr;
    CdfpskSetDirection setDirection = nullptr;
    CdfpskSetCoordinateOrigin setCoordinateOrigin = nullptr;
    CdfpskDrawBar2DQREx drawQr = nullptr;
    CdfpskDrawText drawText = nullptr;
    CdfpskPrintLabel printLabel = nullptr;
};

class VendorSdk {
public:
    bool load();
    void unload();
    const VendorEntryPoints& entryPoints() const { return m_entryPoints; }

private:
    DynamicLibrary m_library;
    VendorEntryPoints m_entryPoints;
};

} // namespace kvprint
