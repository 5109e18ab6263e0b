#pragma once
// Starts a child process for a test with its standard streams on
// descriptors of the test's choosing.

#include <string>
#include <sys/types.h>
#include <vector>

// Runs argv[0] (looked up in PATH when it has no slash) with argv;
// stdinFd, when not -1, becomes its standard input, outputFd its standard
// output, and also its standard error when withErrors. The child's pid, or
// -1 when it could not start.
pid_t spawnChild(std::vector<std::string> argv, int stdinFd, int outputFd, bool withErrors);
