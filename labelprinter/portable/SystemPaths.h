// Where the running program lives and which printer the user prints to.
#pragma once

#include <string>

namespace kvprint {

// The folder of the running executable, without a trailing separator;
// empty when it cannot be found.
std::string programDirectory();

// The default printer: $PRINTER, else the default destination that CUPS
// keeps in the user's and the system's lpoptions and in printers.conf. Only
// files are read, so no print server needs to run; empty when none is set.
std::string defaultPrinterName();

} // namespace kvprint
