// The price of waking alone: one thread per argument, each waking at that many times a
// second from a timed wait and doing nothing else, until killed. The overhead benchmark
// runs it at the program's measured wake-up rates, so that its CPU figure reads as the
// floor under the program's own: what is above it is work, what is below it is scheduling.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::thread> threads;
  for (int i = 1; i < argc; ++i) {
    const double rate = std::atof(argv[i]);
    if (!(rate > 0)) continue;
    threads.emplace_back([rate] {
      const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(1.0 / rate));
      std::mutex mutex;
      std::condition_variable never;
      std::unique_lock<std::mutex> lock(mutex);
      for (auto due = std::chrono::steady_clock::now();;) {
        due += period;
        never.wait_until(lock, due, [] { return false; });
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return argc > 1 ? 0 : 2;
}
