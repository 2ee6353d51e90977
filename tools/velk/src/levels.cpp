#include "levels.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "velk/core/text.hpp"

namespace velk::tool {

Levels measure(const std::vector<std::vector<float>>& channels, std::size_t begin,
               std::size_t end) {
    double peak = 0.0;
    double sum = 0.0;
    std::size_t count = 0;
    for (const std::vector<float>& channel : channels) {
        const std::size_t stop = std::min(end, channel.size());
        for (std::size_t i = begin; i < stop; ++i) {
            const auto x = static_cast<double>(channel[i]);
            peak = std::max(peak, std::fabs(x));
            sum += x * x;
            ++count;
        }
    }
    return {peak, count == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(count))};
}

double to_db(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

std::string format_db(double db) {
    if (!(db > -999.0))
        return "-inf";
    return format_fixed(db, 2);
}

std::vector<double> envelope_db(const std::vector<std::vector<float>>& channels, std::size_t window,
                                double floor_db) {
    std::vector<double> out;
    if (channels.empty() || window == 0)
        return out;
    const std::size_t frames = channels[0].size();
    for (std::size_t at = 0; at < frames; at += window)
        out.push_back(std::max(floor_db, to_db(measure(channels, at, at + window).peak)));
    return out;
}

} // namespace velk::tool
