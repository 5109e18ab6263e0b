// What the camera SDK's tests share: camsim on a loopback block of the test
// process's own, the SDK's view of its cameras, and the build's other
// programs run to their end.
#pragma once

#include "Camsim.h"
#include "KV_DeviceTypes.h"

#include <string>
#include <vector>

// camsim for a GoogleTest case: started and waited for at once; a run that
// does not end cleanly (SIGTERM), or whose log holds a sanitizer report,
// fails the case.
class CamsimProcess : public Camsim {
public:
    explicit CamsimProcess(std::vector<std::string> args);
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    bool ready() const { return m_ready; }

private:
    bool m_ready = false;
};

// A loopback address block of this test process's own, so that tests that
// run side by side never meet: 127.<a>.<b>.1 and up.
std::string uniqueLoopbackBase();
std::string loopbackAddress(const std::string& base, int host);
// camsim's options for one camera at this process's own address, on a port
// the system chooses, without search answers; `extra` goes last.
std::vector<std::string> camsimArgs(std::vector<std::string> extra = {});
KV::Protocol::Device::Info cameraInfo(const CamsimCamera& camera);

// Runs a program of the build (bin/<name>) to its end, at most `timeoutMs`,
// and returns its standard output; `exitCode` gets its exit status (-1 when
// it had to be killed or could not start).
std::string runTool(const std::string& name, std::vector<std::string> args, int timeoutMs, int& exitCode);
bool toolExists(const std::string& name);
