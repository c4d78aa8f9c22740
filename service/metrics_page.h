#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tertulia {

// A page of metrics in Prometheus's text format, version 0.0.4: each family's HELP and TYPE
// lines, then its samples, one a line.
class MetricsPage {
  public:
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";
    using Labels = std::vector<std::pair<std::string_view, std::string_view>>;

    // Starts the family `name`, of `type` ("counter", "gauge" or "histogram").
    void Family(std::string_view name, std::string_view type, std::string_view help);
    // One sample; `name` is its family's, with "_bucket", "_sum" or "_count" for a histogram.
    void Sample(std::string_view name, const Labels& labels, double value);
    void Sample(std::string_view name, double value) { Sample(name, {}, value); }

    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

// The number as the format writes it: whole numbers without a fraction or an exponent, "+Inf"
// for infinity.
std::string MetricNumber(double value);

}  // namespace tertulia
