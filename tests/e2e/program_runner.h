// Runs the real corvenel executable as a user would: in a working directory,
// with arguments, an environment, scripted standard input, and its standard
// output captured byte for byte.
#ifndef CORVENEL_TESTS_E2E_PROGRAM_RUNNER_H_
#define CORVENEL_TESTS_E2E_PROGRAM_RUNNER_H_

#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct ProgramRun {
  std::string working_dir;
  std::vector<std::string> args;  // after the program name
  std::vector<std::string> env;   // "NAME=value", the whole environment
  std::string input;              // standard input; closed after it
  bool stdout_closed = false;     // the program's stdout is a pipe nobody reads

  // When set, the program is held at the write that would take its output
  // past |hold_after_bytes| bytes (the next line's write blocks on a full
  // pipe); |while_held| then runs, and the program is let go.  Lets a test
  // act at an exact point of the run without timing guesses.
  long hold_after_bytes = -1;
  std::function<void()> while_held;
};

struct ProgramResult {
  std::string out;       // standard output
  std::string err;       // standard error
  int exit_status = -1;  // -1 unless the program exited normally
  bool was_held = false;
  long max_rss_kib = 0;  // the program's peak resident memory
};

ProgramResult RunProgram(const std::string& executable, const ProgramRun& run);

}  // namespace e2e

#endif  // CORVENEL_TESTS_E2E_PROGRAM_RUNNER_H_
