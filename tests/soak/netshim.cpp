// Preloaded into the program by the soak: sends the update check to the soak's own
// FTP server without a special build. The built-in host name resolves to 127.0.0.1,
// and a connection to port 8887 there goes to the port the soak server listens on.
//
//   SOAK_UPDATE_HOST  the host name compiled into the program
//   SOAK_FTP_PORT     the port of the soak's server

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

namespace {

using GetaddrinfoFn = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
using ConnectFn = int (*)(int, const sockaddr*, socklen_t);

constexpr unsigned short kUpdatePort = 8887;

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

unsigned short redirectedPort() {
  const char* text = std::getenv("SOAK_FTP_PORT");
  if (!text || !*text) return 0;
  const long port = std::strtol(text, nullptr, 10);
  return port > 0 && port < 65536 ? static_cast<unsigned short>(port) : 0;
}

}  // namespace

extern "C" {

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res) {
  static const auto real = next<GetaddrinfoFn>("getaddrinfo");
  const char* target = std::getenv("SOAK_UPDATE_HOST");
  if (node && target && *target && std::strcmp(node, target) == 0) node = "127.0.0.1";
  return real(node, service, hints, res);
}

int connect(int fd, const sockaddr* address, socklen_t length) {
  static const auto real = next<ConnectFn>("connect");
  const unsigned short port = redirectedPort();
  if (port && address && address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    sockaddr_in copy;
    std::memcpy(&copy, address, sizeof copy);
    if (copy.sin_addr.s_addr == htonl(INADDR_LOOPBACK) && copy.sin_port == htons(kUpdatePort)) {
      copy.sin_port = htons(port);
      return real(fd, reinterpret_cast<const sockaddr*>(&copy), sizeof copy);
    }
  }
  if (port && address && address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    sockaddr_in6 copy;
    std::memcpy(&copy, address, sizeof copy);
    static const unsigned char kMapped[16] = {0, 0, 0,    0,    0,   0, 0, 0,
                                              0, 0, 0xff, 0xff, 127, 0, 0, 1};
    if ((IN6_IS_ADDR_LOOPBACK(&copy.sin6_addr) || std::memcmp(&copy.sin6_addr, kMapped, 16) == 0) &&
        copy.sin6_port == htons(kUpdatePort)) {
      copy.sin6_port = htons(port);
      return real(fd, reinterpret_cast<const sockaddr*>(&copy), sizeof copy);
    }
  }
  return real(fd, address, length);
}

}  // extern "C"
