#include "bench/timing.h"

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {
bool showSamples = false;
}  // namespace

void ShowSamples(bool show) { showSamples = show; }

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const size_t middle = samples.size() / 2;
  return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

std::vector<double> InterleavedMedians(const std::vector<Sample>& variants, int rounds) {
  for (const Sample& sample : variants) sample();  // warm-up: caches, first-use loading
  std::vector<std::vector<double>> samples(variants.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t step = 0; step < variants.size(); ++step) {
      const size_t which = (round + step) % variants.size();
      samples[which].push_back(variants[which]());
    }
  }
  std::vector<double> medians;
  for (size_t variant = 0; variant < samples.size(); ++variant) {
    medians.push_back(Median(samples[variant]));
    if (!showSamples) continue;
    std::printf("# samples of variant %u:", static_cast<unsigned>(variant));
    for (double seconds : samples[variant]) std::printf(" %.6f", seconds);
    std::printf("\n");
  }
  return medians;
}

std::vector<double> InterleavedCallMedians(const std::vector<TimedCall>& variants, int calls, int warmUp) {
  std::vector<std::vector<double>> samples(variants.size());
  for (int round = 0; round < warmUp + calls; ++round) {
    for (size_t step = 0; step < variants.size(); ++step) {
      const size_t which = (round + step) % variants.size();
      const double seconds = variants[which](round);
      if (round >= warmUp) samples[which].push_back(seconds);
    }
  }
  std::vector<double> medians;
  for (size_t variant = 0; variant < samples.size(); ++variant) {
    std::vector<double>& taken = samples[variant];
    medians.push_back(Median(taken));
    if (!showSamples) continue;
    std::sort(taken.begin(), taken.end());
    std::printf("# calls of variant %u: %u, 10th percentile %.7f, median %.7f, 90th percentile %.7f\n",
                static_cast<unsigned>(variant), static_cast<unsigned>(taken.size()), taken[taken.size() / 10],
                medians.back(), taken[taken.size() * 9 / 10]);
  }
  return medians;
}

}  // namespace bench
