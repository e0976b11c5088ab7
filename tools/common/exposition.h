// Metrics in the Prometheus text exposition format (version 0.0.4), as
// node_exporter's textfile collector reads them: for each metric its HELP
// and TYPE lines, then its samples, each carrying the labels common to the
// whole file (such as the site) before its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using metriclabels = std::vector<std::pair<std::string, std::string>>;

class exposition {
 public:
  // Labels on every sample; one with an empty value is left out.
  explicit exposition(metriclabels common = {});

  // Starts a metric: type "counter" or "gauge"; a counter's name ends in
  // "_total".
  void metric(const std::string& name, const char* type, const std::string& help);

  // A sample of the metric begun last.
  void sample(uint64_t value, const metriclabels& labels = {});
  void sample(double value, const metriclabels& labels = {});

  const std::string& text() const { return text_; }

 private:
  void line(const std::string& value, const metriclabels& labels);

  metriclabels common_;
  std::string name_;  // of the metric begun last
  std::string text_;
};
