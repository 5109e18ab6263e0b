#pragma once
// MessageRouter: the JSON side of the alarm service. Renders the
// registration request and routes every received data block: registration
// answers and temperature-alarm events go to the data callback, everything
// else is logged and dropped. Runs on the session's receiver thread.

#include "LogSink.h"

#include <Fixlink/PCCFixlink.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fixlink {

// The registration for temperature alarms, as sent. Throws what JsonCpp
// throws.
std::string registrationRequest();

class MessageRouter {
public:
    MessageRouter(const void* user, kvtool::PCCFixlink::DataCallback callback, const LogSink& log);

    void route(const std::uint8_t* data, std::size_t length, std::uint8_t dataKind) const;

private:
    void routeBinary(const std::uint8_t* data, std::size_t length) const;
    void routeJson(const char* text, std::size_t length) const;
    void deliver(const void* record, kvtool::PCCFixlink::DataType type) const;

    const void* m_user;
    kvtool::PCCFixlink::DataCallback m_callback;
    const LogSink& m_log;
};

} // namespace fixlink
