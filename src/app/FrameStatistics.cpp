#include "app/FrameStatistics.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace Novaro
{

void FrameStatistics::declare(const std::string& stage)
{
    if (_samples.find(stage) != _samples.end())
        return;
    _order.push_back(stage);
    _samples[stage];
}

void FrameStatistics::add(const std::string& stage, double milliseconds)
{
    declare(stage);
    _samples[stage].push_back(milliseconds);
}

size_t FrameStatistics::sampleCount(const std::string& stage) const
{
    std::map<std::string, std::vector<double>>::const_iterator found = _samples.find(stage);
    return found == _samples.end() ? 0 : found->second.size();
}

std::string FrameStatistics::table() const
{
    std::string text = "Frame statistics (ms):\n";
    char line[160];
    std::snprintf(line, sizeof(line), "  %-18s %8s %8s %8s %8s %8s\n", "stage", "frames", "median", "p95",
                  "mean", "max");
    text += line;
    for (const std::string& stage : _order)
    {
        std::vector<double> values = _samples.at(stage);
        if (values.empty())
        {
            std::snprintf(line, sizeof(line), "  %-18s %8d %8s %8s %8s %8s\n", stage.c_str(), 0, "-", "-",
                          "-", "-");
            text += line;
            continue;
        }
        std::sort(values.begin(), values.end());
        const size_t count = values.size();
        const double median =
            count % 2 ? values[count / 2] : 0.5 * (values[count / 2 - 1] + values[count / 2]);
        const double p95 =
            values[std::min(count - 1, static_cast<size_t>(0.95 * static_cast<double>(count)))];
        const double mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(count);
        std::snprintf(line, sizeof(line), "  %-18s %8zu %8.3f %8.3f %8.3f %8.3f\n", stage.c_str(), count,
                      median, p95, mean, values.back());
        text += line;
    }
    return text;
}

} // namespace Novaro
