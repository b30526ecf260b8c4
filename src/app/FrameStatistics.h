#pragma once

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

// Per-stage frame times collected while the frame loop runs and printed as one table at
// shutdown (median, 95th percentile, mean and maximum, in milliseconds).
class FrameStatistics
{
public:
    void add(const std::string& stage, double milliseconds);
    // Gives the stage its row even when no sample comes (shown with 0 frames).
    void declare(const std::string& stage);
    std::string table() const;
    size_t sampleCount(const std::string& stage) const;

private:
    std::vector<std::string> _order;
    std::map<std::string, std::vector<double>> _samples;
};

} // namespace Novaro
