#include "tests/e2e/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

namespace {

constexpr int kPipeCapacity = 4096;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "RunProgram: %s: %s\n", what, std::strerror(errno));
    std::abort();
  }
}

void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // the program may close its input early
    done += static_cast<size_t>(n);
  }
}

// True once |pid| sits in write(1, ...), i.e. blocked on its full stdout pipe.
bool WaitBlockedOnStdout(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/syscall";
  for (int i = 0; i < 2000; ++i) {
    std::ifstream in(path);
    std::string number, fd;
    in >> number >> fd;
    if (number == "1" && fd == "0x1") return true;
    if (number.empty()) return false;  // gone
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Reads |out_fd| and |err_fd| until both reach end of file.
void Collect(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[8192];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Check(false, "poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ProgramResult RunProgram(const std::string& executable, const ProgramRun& run) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  Check(pipe2(in_pipe, O_CLOEXEC) == 0 && pipe2(out_pipe, O_CLOEXEC) == 0 &&
            pipe2(err_pipe, O_CLOEXEC) == 0,
        "pipe");

  // To hold the program at a given output byte, shrink its stdout pipe to
  // one page and fill the page so that exactly |hold_after_bytes| more bytes
  // fit.  A write of the next line (two bytes or more, smaller than a page)
  // cannot be merged into the page and blocks whole.
  std::string padding;
  if (run.hold_after_bytes >= 0) {
    Check(fcntl(out_pipe[1], F_SETPIPE_SZ, kPipeCapacity) == kPipeCapacity, "F_SETPIPE_SZ");
    Check(run.hold_after_bytes + 1 < kPipeCapacity, "hold point beyond one page");
    padding.assign(static_cast<size_t>(kPipeCapacity - run.hold_after_bytes - 1), '#');
    WriteAll(out_pipe[1], padding);
  }

  std::vector<std::string> argv_text = {executable};
  argv_text.insert(argv_text.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv, envp;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = run.env;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = fork();
  Check(pid >= 0, "fork");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (chdir(run.working_dir.c_str()) != 0) _exit(126);
    execve(executable.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (run.stdout_closed) {
    close(out_pipe[0]);
    out_pipe[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  close(err_pipe[1]);

  // The input is small; the program reads it before it writes much.
  WriteAll(in_pipe[1], run.input);
  close(in_pipe[1]);

  ProgramResult result;
  if (run.hold_after_bytes >= 0) {
    result.was_held = WaitBlockedOnStdout(pid);
    if (result.was_held && run.while_held) run.while_held();
  }
  Collect(out_pipe[0], err_pipe[0], result.out, result.err);
  if (!padding.empty()) result.out.erase(0, padding.size());

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

}  // namespace e2e
