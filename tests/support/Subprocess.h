// Runs a program for a test and collects its exit status and output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs argv[0] with its arguments. When onOutput is given it sees the standard
// output gathered so far after every read and may signal the child (by pid).
inline ProcessResult RunProcess(
    const std::vector<std::string>& argv,
    const std::function<void(pid_t, const std::string&)>& onOutput = {}) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ProcessResult r;
  // Standard error is small; read it after standard output ends.
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) {
    r.out.append(buf, static_cast<size_t>(n));
    if (onOutput) onOutput(pid, r.out);
  }
  for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;)
    r.err.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}
