// One line per connection and event on standard error, from any thread.
#pragma once

#include <string>

namespace camsim {

void logLine(const std::string& text);

} // namespace camsim
