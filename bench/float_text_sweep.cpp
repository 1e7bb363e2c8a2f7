// Proof that the device's float texts did not change: every one of the 2^32
// float bit patterns written by aikorvane::FloatText and by
// boost::lexical_cast<std::string>(float), the device's former path, compared
// byte for byte, on every core. Run once after a change of the formatter; it
// takes minutes, so it is no unit test.
//   aikorvane_float_sweep [first-pattern last-pattern]   (hexadecimal, inclusive)
// Prints the mismatches (at most 20), the count of patterns the quick path
// left to the C library, and the time taken; exits 1 on any mismatch.

#include <atomic>
#include <boost/lexical_cast.hpp>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/float_text.h"

namespace {

struct Totals {
  std::atomic<uint64_t> checked{0};
  std::atomic<uint64_t> mismatches{0};
  std::atomic<uint64_t> undecided{0};
  std::mutex report_mutex;
};

void Sweep(uint64_t first, uint64_t last, Totals& totals) {
  uint64_t checked = 0, mismatches = 0, undecided = 0;
  char text[aikorvane::kFloatTextCapacity];
  char quick[aikorvane::kFloatTextCapacity];
  for (uint64_t pattern = first; pattern <= last; ++pattern) {
    const auto bits = static_cast<uint32_t>(pattern);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    const std::size_t length = aikorvane::FloatText(value, text);
    const std::string expected = boost::lexical_cast<std::string>(value);
    if (aikorvane::QuickFloatText(value, quick) == 0) ++undecided;
    ++checked;
    if (expected.size() != length || std::memcmp(expected.data(), text, length) != 0) {
      if (++mismatches <= 20) {
        std::lock_guard<std::mutex> lock(totals.report_mutex);
        std::printf("mismatch 0x%08" PRIx32 ": cast \"%s\", new \"%s\"\n", bits, expected.c_str(),
                    text);
      }
    }
  }
  totals.checked += checked;
  totals.mismatches += mismatches;
  totals.undecided += undecided;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t first = 0, last = 0xFFFFFFFFu;
  if (argc == 3) {
    first = std::strtoull(argv[1], nullptr, 16);
    last = std::strtoull(argv[2], nullptr, 16);
  } else if (argc != 1 || first > last) {
    std::fprintf(stderr, "usage: %s [first-pattern last-pattern]\n", argv[0]);
    return 2;
  }
  const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
  const auto began = std::chrono::steady_clock::now();
  Totals totals;
  std::vector<std::thread> threads;
  const uint64_t count = last - first + 1;
  for (unsigned i = 0; i < workers; ++i) {
    const uint64_t from = first + count * i / workers;
    const uint64_t to = first + count * (i + 1) / workers - 1;
    if (from <= to) threads.emplace_back(Sweep, from, to, std::ref(totals));
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("%" PRIu64 " patterns on %u threads in %.1f s: %" PRIu64 " mismatches, %" PRIu64
              " left by the quick path to the C library\n",
              totals.checked.load(), workers, seconds, totals.mismatches.load(),
              totals.undecided.load());
  return totals.mismatches == 0 ? 0 : 1;
}
