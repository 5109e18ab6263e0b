#include "TagwrightFixture.h"

#include <cstdio>

namespace tagwrighttest {

void TagwrightFixture::SetUp()
{
    setEnv("PRINTER_TRACE", m_dir.file("trace").c_str());
    setEnv("PRINTER", m_dir.file("out.tspl").c_str());
    setEnv("PRINTER_FAIL", nullptr);
    setEnv("PRINTER_PREVIEW_DIR", nullptr);
    setEnv("LC_ALL", "C.UTF-8");
    ASSERT_EQ(kvprint::CTagwright::Init(), 0);
    m_initialised = true;
}

void TagwrightFixture::TearDown()
{
    if (m_initialised) {
        EXPECT_EQ(kvprint::CTagwright::Uninit(), 0);
    }
    m_env.clear();
}

void TagwrightFixture::setEnv(const char* name, const char* value)
{
    m_env.push_back(std::make_unique<ScopedEnv>(name, value));
}

std::vector<std::string> TagwrightFixture::trace() const
{
    return readLines(m_dir.file("trace"));
}

void TagwrightFixture::clearTrace()
{
    std::remove(m_dir.file("trace").c_str());
}

std::unique_ptr<kvprint::CTagwright> TagwrightFixture::printerWith(
    const kvprint::CTagwright::_sructPrinterConfig& config)
{
    auto printer = std::make_unique<kvprint::CTagwright>(iniPath().c_str());
    EXPECT_EQ(printer->SetConfig(config), 0);
    return printer;
}

} // namespace tagwrighttest
