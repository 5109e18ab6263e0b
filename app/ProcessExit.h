// Ends the program's own process at once with exit code 0: no destructors,
// no event loop, no joined threads, nothing written. Any thread.
#pragma once

[[noreturn]] void terminateOwnProcess();
