#include "bench/timing.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

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

void Medians::Add(const std::string& name, double median) {
  if (!byName_.emplace(name, median).second) throw std::logic_error("two variants named " + name);
}

double Medians::operator[](const std::string& name) const {
  const auto found = byName_.find(name);
  if (found == byName_.end()) throw std::logic_error("no variant named " + name);
  return found->second;
}

Medians InterleavedMedians(const std::vector<Variant<Sample>>& variants, int rounds) {
  for (const Variant<Sample>& variant : variants) variant.measure();  // warm-up: caches, first-use loading
  std::vector<std::vector<double>> samples(variants.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t step = 0; step < variants.size(); ++step) {
      const size_t which = (round + step) % variants.size();
      samples[which].push_back(variants[which].measure());
    }
  }
  Medians medians;
  for (size_t variant = 0; variant < samples.size(); ++variant) {
    medians.Add(variants[variant].name, Median(samples[variant]));
    if (!showSamples) continue;
    std::printf("# samples of %s:", variants[variant].name.c_str());
    for (double seconds : samples[variant]) std::printf(" %.6f", seconds);
    std::printf("\n");
  }
  return medians;
}

Medians InterleavedCallMedians(const std::vector<Variant<TimedCall>>& variants, int calls, int warmUp) {
  std::vector<std::vector<double>> samples(variants.size());
  for (int round = 0; round < warmUp + calls; ++round) {
    for (size_t step = 0; step < variants.size(); ++step) {
      const size_t which = (round + step) % variants.size();
      const double seconds = variants[which].measure(round);
      if (round >= warmUp) samples[which].push_back(seconds);
    }
  }
  Medians medians;
  for (size_t variant = 0; variant < samples.size(); ++variant) {
    std::vector<double>& taken = samples[variant];
    const double median = Median(taken);
    medians.Add(variants[variant].name, median);
    if (!showSamples) continue;
    std::sort(taken.begin(), taken.end());
    std::printf("# calls of %s: %u, 10th percentile %.7f, median %.7f, 90th percentile %.7f\n",
                variants[variant].name.c_str(), static_cast<unsigned>(taken.size()), taken[taken.size() / 10], median,
                taken[taken.size() * 9 / 10]);
  }
  return medians;
}

}  // namespace bench
