#include "tests/support/slapd_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "gtest/gtest.h"

namespace testsupport {

namespace {

constexpr char kSlapd[] = "/usr/sbin/slapd";
constexpr char kSlapadd[] = "/usr/sbin/slapadd";
constexpr char kSchemaDir[] = "/etc/ldap/schema";
constexpr char kModuleDir[] = "/usr/lib/ldap";

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct CommandResult {
  int status = -1;     // exit status, or -1 when it did not exit normally
  std::string output;  // stdout and stderr
};

// Runs |argv| with the OpenLDAP client configuration switched off, so that
// a user's ldaprc cannot change what the fixture does.
CommandResult Run(const std::vector<std::string>& argv, const std::string& directory) {
  std::string log = directory + "/command.log";
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (in >= 0) dup2(in, 0);
    setenv("LDAPNOINIT", "1", 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  CommandResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.output = ReadFile(log);
  return result;
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error(std::string("cannot find a free port: ") + std::strerror(errno));
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// "DC=corp,DC=example" -> "corp".
std::string FirstRdnValue(const std::string& dn) {
  size_t equals = dn.find('=');
  size_t comma = dn.find(',');
  return dn.substr(equals + 1, comma == std::string::npos ? std::string::npos : comma - equals - 1);
}

std::string Base64Decode(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string result;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    size_t value = kAlphabet.find(c);
    if (value == std::string::npos) continue;
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      result += static_cast<char>((buffer >> bits) & 0xff);
    }
  }
  return result;
}

int Width(int count, int first) {
  int width = 4;
  for (int last = first + count - 1; last >= 10000; last /= 10) ++width;
  return width;
}

}  // namespace

std::unique_ptr<SlapdServer> SlapdServer::Start(const std::string& ldif, SlapdOptions options) {
  std::unique_ptr<SlapdServer> server(new SlapdServer());
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/corvenel-slapd-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  SlapdServer& s = *server;
  s.directory_ = pattern;
  s.suffix_ = options.suffix;
  s.admin_dn_ = "CN=admin," + options.suffix;
  s.admin_password_ = "corvenel-test-secret";
  s.password_file_ = s.directory_ + "/admin.pw";
  WriteFile(s.password_file_, s.admin_password_);
  std::filesystem::permissions(
      s.password_file_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::create_directory(s.directory_ + "/db");

  std::ostringstream conf;
  conf << "include " << kSchemaDir << "/core.schema\n"
       << "include " << CORVENEL_SOURCE_DIR << "/tests/support/slapd/corvenel.schema\n"
       << "pidfile " << s.directory_ << "/slapd.pid\n"
       << "modulepath " << kModuleDir << "\n"
       << "moduleload back_mdb\n";
  if (options.server_side_sort) conf << "moduleload sssvlv\n";
  if (options.one_description) conf << "moduleload constraint\n";
  conf << "database mdb\n"
       << "suffix \"" << options.suffix << "\"\n"
       << "directory " << s.directory_ << "/db\n"
       << "maxsize 1073741824\n"
       << "index objectClass eq\n"
       << "index cn eq\n"
       << "access to attrs=userPassword by anonymous auth by * none\n"
       << "access to * by dn.exact=\"" << s.admin_dn_ << "\" write by * read\n";
  if (options.size_limit > 0) {
    // As Active Directory: non-paged searches stop at the limit with result
    // 4, paged ones return everything.
    conf << "limits * size.soft=" << options.size_limit << " size.hard=" << options.size_limit
         << " size.pr=" << options.size_limit << " size.prtotal=unlimited\n";
  }
  if (options.server_side_sort) conf << "overlay sssvlv\n";
  if (options.one_description) {
    conf << "overlay constraint\n"
         << "constraint_attribute description count 1 restrict=\"ldap:///" << options.suffix
         << "??sub?(objectClass=user)\"\n";
  }
  std::string conf_file = s.directory_ + "/slapd.conf";
  WriteFile(conf_file, conf.str());

  std::string organization = FirstRdnValue(options.suffix);
  std::string data = "dn: " + options.suffix +
                     "\nobjectClass: top\nobjectClass: dcObject\nobjectClass: organization\n"
                     "dc: " +
                     organization + "\no: " + organization + "\n\n" + "dn: " + s.admin_dn_ +
                     "\nobjectClass: person\ncn: admin\nsn: admin\n" +
                     "userPassword: " + s.admin_password_ + "\n\n" + ldif;
  std::string data_file = s.directory_ + "/data.ldif";
  WriteFile(data_file, data);
  CommandResult load = Run({kSlapadd, "-q", "-f", conf_file, "-l", data_file}, s.directory_);
  if (load.status != 0) throw std::runtime_error("slapadd failed:\n" + load.output);

  s.port_ = FreeLoopbackPort();
  s.uri_ = "ldap://127.0.0.1:" + std::to_string(s.port_);
  std::string log = s.directory_ + "/slapd.log";
  s.pid_ = fork();
  if (s.pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (s.pid_ == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::string listen = s.uri_ + "/";
    // "-d 0": stay in the foreground, so the pid is slapd's own.
    execl(kSlapd, "slapd", "-f", conf_file.c_str(), "-h", listen.c_str(), "-d", "0",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Accepts(s.port_)) {
    int status = 0;
    if (waitpid(s.pid_, &status, WNOHANG) == s.pid_) {
      s.pid_ = -1;
      throw std::runtime_error("slapd did not start:\n" + ReadFile(log));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("slapd did not accept connections within 10 s:\n" + ReadFile(log));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return server;
}

SlapdServer::~SlapdServer() {
  if (pid_ > 0) {
    if (paused_) kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

bool SlapdServer::Modify(const std::string& ldif) {
  std::string file = directory_ + "/modify.ldif";
  WriteFile(file, ldif);
  CommandResult result = Run(
      {"/usr/bin/ldapmodify", "-x", "-H", uri_, "-D", admin_dn_, "-y", password_file_, "-f", file},
      directory_);
  if (result.status != 0) {
    ADD_FAILURE() << "ldapmodify failed (" << result.status << "):\n" << result.output;
    return false;
  }
  return true;
}

std::vector<std::string> SlapdServer::Values(const std::string& dn, const std::string& attribute) {
  CommandResult result =
      Run({"/usr/bin/ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H", uri_, "-D", admin_dn_,
           "-y", password_file_, "-s", "base", "-b", dn, "(objectClass=*)", attribute},
          directory_);
  std::vector<std::string> values;
  if (result.status != 0) {
    ADD_FAILURE() << "ldapsearch failed (" << result.status << "):\n" << result.output;
    return values;
  }
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || !strcasecmp(line.substr(0, colon).c_str(), "dn")) continue;
    if (strcasecmp(line.substr(0, colon).c_str(), attribute.c_str()) != 0) continue;
    if (colon + 1 < line.size() && line[colon + 1] == ':') {
      values.push_back(Base64Decode(line.substr(colon + 2)));
    } else {
      values.push_back(line.substr(std::min(line.size(), colon + 2)));
    }
  }
  return values;
}

void SlapdServer::Pause() {
  kill(pid_, SIGSTOP);
  paused_ = true;
}

void SlapdServer::Resume() {
  kill(pid_, SIGCONT);
  paused_ = false;
}

std::string DirectoryObjectName(int n, const std::string& object_class, int count, int first) {
  std::string number = std::to_string(n);
  int width = Width(count, first);
  if (static_cast<int>(number.size()) < width) number.insert(0, width - number.size(), '0');
  return (object_class == "user" ? "USER" : "PC") + number;
}

std::string DirectoryObjectsLdif(int count, const std::string& object_class,
                                 const std::string& suffix, int first, bool with_ou) {
  bool user = object_class == "user";
  std::string ou = std::string("OU=") + (user ? "Users" : "Computers") + "," + suffix;
  std::string ldif;
  if (with_ou) {
    ldif += "dn: " + ou + "\nobjectClass: top\nobjectClass: organizationalUnit\nou: " +
            (user ? "Users" : "Computers") + "\n\n";
  }
  for (int n = first; n < first + count; ++n) {
    std::string name = DirectoryObjectName(n, object_class, count, first);
    std::string number = name.substr(user ? 4 : 2);
    ldif += "dn: CN=" + name + "," + ou + "\nobjectClass: top\nobjectClass: user\n";
    if (!user) ldif += "objectClass: computer\n";
    ldif += "cn: " + name + "\nsAMAccountName: " + (user ? "user" + number : name + "$") + "\n";
    switch (n % 4) {
      case 1:
        ldif += "description: Description " + number + "\ncomment: Comment " + number +
                "\nserialNumber: SN" + number + "\n";
        break;
      case 2:
        ldif += "description: Description " + number + "\n";
        break;
      case 3:
        ldif += "comment: Comment " + number + "\nserialNumber: SN" + number +
                "\nserialNumber: SN" + number + "B\n";
        break;
      default:
        break;
    }
    ldif += "\n";
  }
  return ldif;
}

}  // namespace testsupport
