#include "palomid/exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>

namespace palomid {

namespace {

// Namespaces whose classes are shown by their bare name.
constexpr const char* kOwnNamespaces[] = {"palomid::", "corvenel::"};

}  // namespace

std::string ClassNameOf(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
  for (const char* prefix : kOwnNamespaces) {
    if (name.rfind(prefix, 0) == 0) {
      std::string::size_type last = name.rfind("::");
      return name.substr(last + 2);
    }
  }
  return name;
}

std::string ErrnoText(int error_number) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error_number, buffer, sizeof buffer);
  return text;
}

}  // namespace palomid
