#include "CTagwright.h"

#include "LabelContent.h"
#include "LabelPrinters.h"
#include "TemplateFields.h"
#include "VendorSdk.h"
#include "portable/SystemPaths.h"

#include <new>
#include <string>

namespace kvprint {

namespace {

// Written by Init and Uninit only, which callers keep apart from printing.
bool g_initialised = false;

VendorSdk& vendorSdk()
{
    static VendorSdk sdk;
    return sdk;
}

std::string templatePath(const char* iniPath)
{
    if (iniPath && *iniPath) {
        return iniPath;
    }
    return programDirectory() + "/printer.ini";
}

} // namespace

struct CTagwright::Private {
    _sructPrinterConfig config {};
    std::string iniPath;
};

int CTagwright::Init()
{
    if (g_initialised) {
        return -1;
    }
    if (!vendorSdk().load()) {
        return -2;
    }
    g_initialised = true;
    return 0;
}

int CTagwright::Uninit()
{
    if (!g_initialised) {
        return -1;
    }
    g_initialised = false;
    vendorSdk().unload();
    return 0;
}

CTagwright::CTagwright(const char* iniPath)
    : d(new (std::nothrow) Private)
{
    // Without its record the object answers -1 to everything.
    if (!d) {
        return;
    }
    d->iniPath = templatePath(iniPath);
    _sructPrinterConfig config = d->config;
    GetConfig(config);
    SetConfig(config);
}

CTagwright::~CTagwright()
{
    delete d;
}

int CTagwright::GetConfig(_sructPrinterConfig& config)
{
    if (!g_initialised || !d) {
        return -1;
    }
    readTemplate(d->iniPath, d->config);
    config = d->config;
    return 0;
}

int CTagwright::SetConfig(const _sructPrinterConfig& config)
{
    if (!g_initialised || !d) {
        return -1;
    }
    d->config = config;
    writeTemplate(d->iniPath, d->config);
    return 0;
}

int CTagwright::Print(const _structPrintParam& param)
{
    if (!g_initialised || !d) {
        return -1;
    }
    const LabelContent content = composeLabel(d->config, param);
    if (d->config.port == 255) {
        return printOnVendorPrinter(vendorSdk().entryPoints(), d->config, param, content);
    }
    return printOnTscPrinter(d->config, content);
}

} // namespace kvprint
