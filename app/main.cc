// corvenel: lists the computer (or user) objects of a directory and writes
// the text "description" into each one's description.
#include <csignal>
#include <string>

#include "app/console.h"
#include "app/run.h"
#include "ldap/ldap_directory.h"

int main(int argc, char** argv) {
  // A closed console must show up as a failed write, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  corvenel::Console console(1, 0);
  auto directory = corvenel::NewLdapDirectory();
  return corvenel::RunDirectory(argc > 1 ? argv[1] : "", *directory, console);
}
