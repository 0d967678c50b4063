// Wall-clock timing for the benchmark: the performance counter, medians, and rounds
// that interleave the variants of one comparison, so that a change in the machine's
// load during the run falls on all of them alike.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceCounter(&start_); }
  double Seconds() const {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER start_;
};

double Median(std::vector<double> samples);

// One variant of a comparison, under the name its median is read by.
template <typename Measure>
struct Variant {
  std::string name;
  Measure measure;
};

// The medians of a comparison's variants, read by their names, so that reordering the
// variants cannot mix up their figures. A name no variant has stops the run.
class Medians {
 public:
  void Add(const std::string& name, double median);
  double operator[](const std::string& name) const;

 private:
  std::map<std::string, double> byName_;
};

// One sample of a variant: does its work (untimed preparation included) and returns
// the seconds that the measured part took, per unit of work.
using Sample = std::function<double()>;

// Runs every sample once to warm up, then `rounds` rounds of all of them, each round
// starting one variant further on. Returns each variant's median.
Medians InterleavedMedians(const std::vector<Variant<Sample>>& variants, int rounds);

// One call of a variant, timed by the variant itself (untimed preparation may surround
// it): makes call number `index` and returns the seconds the call took.
using TimedCall = std::function<double(int index)>;

// The finest interleaving, for calls long enough to time one by one: `warmUp` rounds,
// then `calls` rounds, in each of which every variant makes one call, each round
// starting one variant further on. A call that the machine interrupts stands out
// alone instead of slowing a whole batch. Returns each variant's median call.
Medians InterleavedCallMedians(const std::vector<Variant<TimedCall>>& variants, int calls, int warmUp);

// When set, the two functions above print what they measured ("#" lines): every sample,
// or the 10th, 50th and 90th percentile of the calls.
void ShowSamples(bool show);

}  // namespace bench
