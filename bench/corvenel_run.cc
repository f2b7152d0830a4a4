// Times the real corvenel executable walking and updating N computer
// objects (default 10,000) on a private slapd, console output included, and
// reports its peak memory.  Run inside the private network namespace, since
// the program broadcasts its start line:
//
//   scripts/in-netns build/bench/corvenel_run [count]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/program_runner.h"
#include "tests/support/isolated_network.h"
#include "tests/support/slapd_server.h"

int main(int argc, char** argv) {
  if (!testsupport::InIsolatedNetwork()) {
    std::fprintf(stderr, "run inside scripts/in-netns\n");
    return 2;
  }
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  auto server =
      testsupport::SlapdServer::Start(testsupport::DirectoryObjectsLdif(count, "computer"));
  char pattern[] = "/tmp/corvenel-bench-XXXXXX";
  const std::filesystem::path work = mkdtemp(pattern);
  std::FILE* domain = std::fopen((work / "ldapdomain.txt").c_str(), "w");
  std::fputs("DC=corp,DC=example", domain);
  std::fclose(domain);

  e2e::ProgramRun run;
  run.working_dir = work;
  run.env = {"PATH=/usr/bin:/bin", "HOME=" + work.string(), "LDAPURI=" + server->uri(),
             "LDAPBINDDN=" + server->admin_dn(), "CORVENEL_BINDPW_FILE=" + server->password_file()};
  const auto start = std::chrono::steady_clock::now();
  e2e::ProgramResult result = e2e::RunProgram(CORVENEL_EXECUTABLE, run);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const bool done = result.out.find("\ndone - ") != std::string::npos;
  std::printf("%d objects: %.3f s (%.3f ms per object), peak RSS %ld KiB, %s\n", count, seconds,
              seconds * 1000 / count, result.max_rss_kib, done ? "completed" : "FAILED");
  std::filesystem::remove_all(work);
  return done ? 0 : 1;
}
