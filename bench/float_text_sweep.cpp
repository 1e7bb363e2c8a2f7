// Proof that the device's float texts did not change: every one of the 2^32
// float bit patterns written by aikorvane::FloatText and by the device's former
// path, boost::lexical_cast<std::string>(float) (with --cast the cast itself;
// by default its two steps without the stream object it builds and does not
// use for a float: "inf" / "nan" after a minus sign for a set sign bit, else
// sprintf "%.9g" of the value widened to double, which is 3 to 4 times
// faster); with --stream also the quick "%.6g" of aikorvane::WriteFloat and the C
// library's "%.6g" (what a stream in its default state writes), compared byte
// for byte, on every core. Run once after a change of the formatter; it takes
// long, so it is no unit test.
//   aikorvane_float_sweep [--cast] [--stream] [first last]   (hexadecimal bit patterns, inclusive)
// Prints the mismatches (at most 20), the count of patterns the quick path
// left to the C library, and the time taken; exits 1 on any mismatch.

#include <atomic>
#include <boost/lexical_cast.hpp>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/text/float_text.h"

namespace {

struct Options {
  bool cast = false;
  bool stream = false;
};

// The text of boost::lexical_cast<std::string>(float), step by step.
std::size_t CastSteps(float value, char (&out)[aikorvane::kFloatTextCapacity]) {
  if (std::isnan(value) || std::isinf(value)) {
    char* p = out;
    if (std::signbit(value)) *p++ = '-';
    std::memcpy(p, std::isnan(value) ? "nan" : "inf", 4);
    return static_cast<std::size_t>(p - out) + 3;
  }
  return static_cast<std::size_t>(
      std::snprintf(out, sizeof out, "%.9g", static_cast<double>(value)));
}

struct Totals {
  std::atomic<uint64_t> checked{0};
  std::atomic<uint64_t> mismatches{0};
  std::atomic<uint64_t> undecided{0};
  std::atomic<uint64_t> undecided_stream{0};
  std::mutex report_mutex;
};

void Sweep(uint64_t first, uint64_t last, Options options, Totals& totals) {
  uint64_t checked = 0, mismatches = 0, undecided = 0, undecided_stream = 0;
  char text[aikorvane::kFloatTextCapacity];
  char quick[aikorvane::kFloatTextCapacity];
  char stream_text[aikorvane::kFloatTextCapacity];
  char steps[aikorvane::kFloatTextCapacity];
  for (uint64_t pattern = first; pattern <= last; ++pattern) {
    const auto bits = static_cast<uint32_t>(pattern);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    const std::size_t length = aikorvane::FloatText(value, text);
    const std::string expected = options.cast ? boost::lexical_cast<std::string>(value)
                                              : std::string(steps, CastSteps(value, steps));
    if (aikorvane::QuickFloatText(value, quick) == 0) ++undecided;
    ++checked;
    if (expected.size() != length || std::memcmp(expected.data(), text, length) != 0) {
      if (++mismatches <= 20) {
        std::lock_guard<std::mutex> lock(totals.report_mutex);
        std::printf("mismatch 0x%08" PRIx32 ": cast \"%s\", new \"%s\"\n", bits, expected.c_str(),
                    text);
      }
    }
    if (!options.stream) continue;
    const std::size_t quick_length = aikorvane::QuickStreamFloatText(value, quick);
    if (quick_length == 0) {
      ++undecided_stream;
      continue;
    }
    const int stream_length =
        std::snprintf(stream_text, sizeof stream_text, "%.6g", static_cast<double>(value));
    if (static_cast<std::size_t>(stream_length) != quick_length ||
        std::memcmp(stream_text, quick, quick_length) != 0) {
      if (++mismatches <= 20) {
        std::lock_guard<std::mutex> lock(totals.report_mutex);
        std::printf("mismatch 0x%08" PRIx32 ": %%.6g \"%s\", new \"%s\"\n", bits, stream_text,
                    quick);
      }
    }
  }
  totals.checked += checked;
  totals.mismatches += mismatches;
  totals.undecided += undecided;
  totals.undecided_stream += undecided_stream;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t first = 0, last = 0xFFFFFFFFu;
  Options options;
  for (; argc > 1 && argv[1][0] == '-' && argv[1][1] == '-'; --argc, ++argv) {
    if (std::strcmp(argv[1], "--cast") == 0) {
      options.cast = true;
    } else if (std::strcmp(argv[1], "--stream") == 0) {
      options.stream = true;
    } else {
      argc = 0;
      break;
    }
  }
  if (argc == 3) {
    first = std::strtoull(argv[1], nullptr, 16);
    last = std::strtoull(argv[2], nullptr, 16);
  }
  if ((argc != 1 && argc != 3) || first > last || last > 0xFFFFFFFFu) {
    std::fprintf(stderr, "usage: aikorvane_float_sweep [--cast] [--stream] [first last]\n");
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
    if (from <= to) threads.emplace_back(Sweep, from, to, options, std::ref(totals));
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("%" PRIu64 " patterns on %u threads in %.1f s: %" PRIu64
              " mismatches; left by the "
              "quick paths to the C library: %" PRIu64 " (%%.9g), %" PRIu64 " (%%.6g)\n",
              totals.checked.load(), workers, seconds, totals.mismatches.load(),
              totals.undecided.load(), totals.undecided_stream.load());
  return totals.mismatches == 0 ? 0 : 1;
}
