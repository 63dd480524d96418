#pragma once

// Runs the real program for tests: its standard output and exit status.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace vornel {

struct ToolRun {
  int status = -1;
  std::string out;
};

// Runs the program with these arguments; its standard output and exit status.
inline ToolRun runTool(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(VORNEL_BINARY)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2];
  ToolRun run;
  if (::pipe(pipeFds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, VORNEL_BINARY, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  char buffer[65536];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    run.out.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int wstatus = 0;
  if (spawned == 0 && ::waitpid(pid, &wstatus, 0) == pid) {
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 1000 + WTERMSIG(wstatus);
  }
  return run;
}

}  // namespace vornel
