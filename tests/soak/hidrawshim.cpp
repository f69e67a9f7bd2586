// hidrawshim: display devices behind the system calls the real hidapi makes on hidraw nodes
// (open, ioctl, write, poll, read, close), with faults injected at random: opens that fail,
// writes that fail or stall for seconds, replies that come late, never, short or garbled,
// and nodes that vanish under an open handle and come back a little later.
//
// Preloaded into a program that uses the real libhidapi-hidraw; only paths that start with
// HIDRAWSHIM_PREFIX (default /dev/hidraw-fault) are served, everything else goes to the
// system. HIDRAWSHIM_SEED makes a run repeatable. The counts are printed at exit.
//
// One thing is never injected: a node vanishing between open() and the HIDIOCGRDESCSIZE
// ioctl right after it. hidapi 0.13.1 uses freed memory when that ioctl fails; the program
// keeps that window rare by opening each display once, not per frame.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>

using Clock = std::chrono::steady_clock;

namespace {

struct Reply {
  unsigned char bytes[65];
  size_t size;
  Clock::time_point readyAt;
};

struct Node {
  unsigned generation = 0;     // bumped when the node vanishes
  Clock::time_point backAt{};  // absent until then
};

struct OpenFile {
  std::string path;
  unsigned generation = 0;
  std::deque<Reply> replies;
};

// Never destroyed: a thread left in a stalled write may wake after exit() began.
struct State {
  std::mutex mutex;
  std::map<std::string, Node> nodes;
  std::map<int, OpenFile> files;
  std::mt19937 random;
  std::string prefix;
  std::atomic<long> opens{0}, openFailures{0}, closes{0}, writes{0}, stalls{0}, vanishes{0},
      garbled{0};
};

State& state() {
  static State* s = [] {
    auto* created = new State;
    const char* seed = std::getenv("HIDRAWSHIM_SEED");
    created->random.seed(seed ? unsigned(std::strtoul(seed, nullptr, 10)) : 1u);
    const char* prefix = std::getenv("HIDRAWSHIM_PREFIX");
    created->prefix = prefix ? prefix : "/dev/hidraw-fault";
    return created;
  }();
  return *s;
}

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// Called with the mutex held.
bool chance(State& s, double p) { return std::uniform_real_distribution<>(0, 1)(s.random) < p; }
int between(State& s, int low, int high) {
  return std::uniform_int_distribution<>(low, high)(s.random);
}

// Called with the mutex held. A node that is gone, or an open file whose node went away.
bool gone(State& s, const OpenFile& file) {
  const Node& node = s.nodes[file.path];
  return node.generation != file.generation || Clock::now() < node.backAt;
}

void vanish(State& s, const std::string& path) {
  Node& node = s.nodes[path];
  ++node.generation;
  node.backAt = Clock::now() + std::chrono::milliseconds(between(s, 0, 300));
  ++s.vanishes;
}

// Called with the mutex held: the device's answer to a report it took.
void answer(State& s, OpenFile& file, const unsigned char* report, size_t size) {
  if (size < 2 || chance(s, 0.05)) return;  // never answers this one
  Reply reply{};
  reply.size = 65;
  if (report[0] == 0x10) {
    reply.bytes[0] = 0x11;
    reply.bytes[2] = 1;
    for (int i = 6; i < 18; ++i) reply.bytes[i] = static_cast<unsigned char>(i * 7);
  } else {
    reply.bytes[0] = 0x21;
    reply.bytes[2] = chance(s, 0.05) ? 0 : 1;
  }
  if (chance(s, 0.05)) {  // garbage of any length
    ++s.garbled;
    reply.size = size_t(between(s, 0, 65));
    for (auto& byte : reply.bytes) byte = static_cast<unsigned char>(between(s, 0, 255));
  }
  const int lateMs = chance(s, 0.1) ? between(s, 100, 3000) : 0;
  reply.readyAt = Clock::now() + std::chrono::milliseconds(lateMs);
  file.replies.push_back(reply);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  static auto realOpen = real<int (*)(const char*, int, ...)>("open");
  State& s = state();
  if (std::strncmp(path, s.prefix.c_str(), s.prefix.size()) != 0)
    return realOpen(path, flags, mode);
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    Node& node = s.nodes[path];
    if (Clock::now() < node.backAt || chance(s, 0.02)) {
      ++s.openFailures;
      errno = Clock::now() < node.backAt ? ENOENT : EBUSY;
      return -1;
    }
  }
  const int fd = realOpen("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) return fd;
  std::lock_guard<std::mutex> lock(s.mutex);
  OpenFile file;
  file.path = path;
  file.generation = s.nodes[path].generation;
  s.files[fd] = file;
  ++s.opens;
  return fd;
}

int close(int fd) {
  static auto realClose = real<int (*)(int)>("close");
  State& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.files.erase(fd)) ++s.closes;
  }
  return realClose(fd);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  static auto realIoctl = real<int (*)(int, unsigned long, void*)>("ioctl");
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!s.files.count(fd)) {
    lock.unlock();
    return realIoctl(fd, request, argument);
  }
  if (request == HIDIOCGRDESCSIZE) {
    *static_cast<int*>(argument) = 34;
    return 0;
  }
  errno = EINVAL;
  return -1;
}

ssize_t write(int fd, const void* data, size_t size) {
  static auto realWrite = real<ssize_t (*)(int, const void*, size_t)>("write");
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  auto found = s.files.find(fd);
  if (found == s.files.end()) {
    lock.unlock();
    return realWrite(fd, data, size);
  }
  ++s.writes;
  if (chance(s, 0.01)) vanish(s, found->second.path);
  if (chance(s, 0.02)) {  // a device that stalls the write
    ++s.stalls;
    const int stallMs = between(s, 100, 4000);
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
    lock.lock();
    found = s.files.find(fd);
    if (found == s.files.end()) {
      errno = EBADF;
      return -1;
    }
  }
  if (gone(s, found->second)) {
    errno = ENODEV;
    return -1;
  }
  if (chance(s, 0.02)) {
    errno = EIO;
    return -1;
  }
  answer(s, found->second, static_cast<const unsigned char*>(data), size);
  return ssize_t(size);
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
  static auto realPoll = real<int (*)(struct pollfd*, nfds_t, int)>("poll");
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (count != 1 || !s.files.count(fds[0].fd)) {
    lock.unlock();
    return realPoll(fds, count, timeout);
  }
  const auto deadline =
      timeout < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeout);
  for (;;) {
    auto found = s.files.find(fds[0].fd);
    if (found == s.files.end()) {
      fds[0].revents = POLLNVAL;
      return 1;
    }
    if (chance(s, 0.0005)) vanish(s, found->second.path);
    if (gone(s, found->second)) {
      fds[0].revents = POLLHUP | POLLERR;
      return 1;
    }
    const auto now = Clock::now();
    if (!found->second.replies.empty() && found->second.replies.front().readyAt <= now) {
      fds[0].revents = POLLIN;
      return 1;
    }
    if (now >= deadline) {
      fds[0].revents = 0;
      return 0;
    }
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    lock.lock();
  }
}

ssize_t read(int fd, void* data, size_t size) {
  static auto realRead = real<ssize_t (*)(int, void*, size_t)>("read");
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  auto found = s.files.find(fd);
  if (found == s.files.end()) {
    lock.unlock();
    return realRead(fd, data, size);
  }
  if (gone(s, found->second)) {
    errno = ENODEV;
    return -1;
  }
  auto& replies = found->second.replies;
  if (replies.empty() || replies.front().readyAt > Clock::now()) {
    errno = EAGAIN;
    return -1;
  }
  const size_t count = std::min(size, replies.front().size);
  std::memcpy(data, replies.front().bytes, count);
  replies.pop_front();
  return ssize_t(count);
}

// For the run on top: how many nodes are open now.
long hidrawshim_open_files() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return long(s.files.size());
}

__attribute__((destructor)) static void report() {
  State& s = state();
  std::fprintf(stderr,
               "hidrawshim: %ld opens (%ld refused), %ld closes, %ld writes, %ld stalled, %ld "
               "vanished, %ld garbled\n",
               s.opens.load(), s.openFailures.load(), s.closes.load(), s.writes.load(),
               s.stalls.load(), s.vanishes.load(), s.garbled.load());
}

}  // extern "C"
