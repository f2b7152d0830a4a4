// libFuzzer target for the query dialect parser: any text either parses
// into a query whose filter is balanced, or fails with QuerySyntaxError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ldap/query_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    corvenel::ParsedQuery query = corvenel::ParseQuery(text);
    // Every value is escaped, so parentheses outside escapes must balance
    // and the filter is one parenthesised term.
    int depth = 0;
    for (size_t i = 0; i < query.filter.size(); ++i) {
      char c = query.filter[i];
      if (c == '\0') std::abort();
      if (c == '(') ++depth;
      if (c == ')' && --depth < 0) std::abort();
      if (depth == 0 && i + 1 != query.filter.size()) std::abort();
    }
    if (depth != 0) std::abort();
  } catch (const corvenel::QuerySyntaxError& error) {
    if (error.position() < 1 || error.position() > size + 1) std::abort();
  }
  return 0;
}
