// The two printer back ends. Each prints one label and returns the
// library's result code: 0, or the negative code of the step that failed.
// Called on the caller's thread from CTagwright::Print.
#pragma once

#include "CTagwright.h"
#include "LabelContent.h"
#include "VendorSdk.h"

namespace kvprint {

// Vendor SDK printer on port 255; the port is closed again whatever happens
// once it has been opened.
int printOnVendorPrinter(const VendorEntryPoints& sdk, const CTagwright::_sructPrinterConfig& config,
    const CTagwright::_structPrintParam& param, const LabelContent& content);

// TSC printer on the default printer. Only a port that cannot be opened,
// or texts unfit for a printer command, fail; the printer's answers to the
// commands are shown on the console and otherwise ignored.
int printOnTscPrinter(const CTagwright::_sructPrinterConfig& config, const LabelContent& content);

} // namespace kvprint
