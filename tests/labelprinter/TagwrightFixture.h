// A library set up for one test: Init done, stand-ins tracing into a
// scratch folder, the TSC printer's default printer a file there, no
// failures injected and a UTF-8 locale. Uninit at the end when still due.
#pragma once

#include "TestSupport.h"

#include <CTagwright.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tagwrighttest {

class TagwrightFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::vector<std::string> trace() const;
    void clearTrace();
    std::string iniPath() const { return m_dir.file("printer.ini"); }
    // A printer object on iniPath() holding the given template.
    std::unique_ptr<kvprint::CTagwright> printerWith(const kvprint::CTagwright::_sructPrinterConfig& config);
    void setEnv(const char* name, const char* value);

    ScratchDir m_dir;
    bool m_initialised = false;

private:
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

} // namespace tagwrighttest
