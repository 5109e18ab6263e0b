#include "ChildProcess.h"

#include <spawn.h>

extern char** environ;

pid_t spawnChild(std::vector<std::string> argv, int stdinFd, int outputFd, bool withErrors)
{
    if (argv.empty())
        return -1;
    std::vector<char*> pointers;
    for (std::string& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    if (withErrors)
        posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}
