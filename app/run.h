// The directory run: the program from its first console line to its exit.
#ifndef CORVENEL_APP_RUN_H_
#define CORVENEL_APP_RUN_H_

#include <string>

#include "app/console.h"
#include "app/directory.h"

namespace corvenel {

// Settles the domain, the object class (from |argument1|, empty when absent)
// and the query text from the working directory's files or the console, runs
// the directory pass over |directory|, and prints its closing line.  A failure
// of the std::exception family is reported (XML report, tones, syslog
// broadcast) and told on one console line; anything else thrown passes on
// after the directory objects are released.  Returns the exit status: 0.
int RunDirectory(const std::string& argument1, Directory& directory, Console& console);

// The two example domain roots of the domain prompt.
inline constexpr char kDomainPrompt[] =
    "What is the AD Domain? (Eg DC=corp,DC=example,DC=com or DC=ad,DC=example,DC=org):";

}  // namespace corvenel

#endif  // CORVENEL_APP_RUN_H_
