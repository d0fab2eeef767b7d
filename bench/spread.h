#pragma once

// How a benchmark tells figures that vary from trial to trial: the median,
// with the least and the most, of the ratios of paired trials.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace velmora::bench {

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The smallest, middle and largest of a set of figures.
struct Spread {
  double min, median, max;
};

inline Spread SpreadOf(const std::vector<double>& values) {
  return {*std::min_element(values.begin(), values.end()), Median(values),
          *std::max_element(values.begin(), values.end())};
}

// The ratio of each trial's figures, a[i] / b[i].
inline std::vector<double> Ratios(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) ratios.push_back(a[i] / b[i]);
  return ratios;
}

// "1.02 (0.95-1.10)": the median, then the least and the most.
inline std::string Told(const Spread& spread) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", spread.median, spread.min, spread.max);
  return text;
}

}  // namespace velmora::bench
