#include "BenchmarkTables.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <sstream>

namespace Novaro
{

std::string fixedText(double value, int digits)
{
    if (std::isnan(value))
        return "-";
    std::ostringstream out;
    out << std::fixed << std::setprecision(digits) << value;
    return out.str();
}

namespace
{

std::vector<std::string> commaSeparated(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ','))
        items.push_back(item);
    // getline drops an empty last item: "800," names an empty level too.
    if (!text.empty() && text.back() == ',')
        items.emplace_back();
    return items;
}

// A whole decimal number from first to last, within [lowest, highest].
bool wholeNumber(const std::string& text, long lowest, long highest, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && end && *end == '\0' && value >= lowest && value <= highest;
}

} // namespace

// Rows over seeds: one seed gives one row ("seed N"); several give the minimum, median and
// maximum of each number over the seeds, each on its row, so that the worst seed shows whichever
// way a column is better. label: the row's first cells, "| ... |" without the last bar.
void printOverSeeds(std::ostream& out, const std::string& label, const std::vector<int>& digits,
                    const std::vector<unsigned>& seeds, const std::vector<RowValues>& perSeed)
{
    if (perSeed.empty())
        return;
    auto print = [&](const std::string& statistic, const std::function<double(std::vector<double>)>& of)
    {
        out << label << " | " << statistic;
        for (size_t column = 0; column < digits.size(); ++column)
        {
            out << " | ";
            for (size_t d = 0; d < perSeed.front()[column].size(); ++d)
            {
                std::vector<double> values;
                for (const RowValues& row : perSeed)
                    if (!std::isnan(row[column][d]))
                        values.push_back(row[column][d]);
                out << (d ? " / " : "")
                    << fixedText(values.empty() ? std::nan("") : of(values), digits[column]);
            }
        }
        out << " |" << std::endl;
    };
    if (perSeed.size() == 1)
    {
        print("seed " + std::to_string(seeds.front()), [](std::vector<double> v) { return v.front(); });
        return;
    }
    print("min", [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); });
    print("median",
          [](std::vector<double> v)
          {
              std::sort(v.begin(), v.end());
              const size_t n = v.size();
              return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
          });
    print("max", [](std::vector<double> v) { return *std::max_element(v.begin(), v.end()); });
}

std::string seedText(const std::vector<unsigned>& seeds)
{
    std::string text;
    for (unsigned seed : seeds)
        text += (text.empty() ? "" : ",") + std::to_string(seed);
    return (seeds.size() > 1 ? "seeds " : "seed ") + text +
           (seeds.size() > 1 ? " (min, median and max over them, each on its row)" : "");
}

std::vector<unsigned> seedsFrom(const ToolArguments& arguments, std::string& error)
{
    std::vector<unsigned> seeds;
    long value = 0;
    if (arguments.has("seeds"))
    {
        for (const std::string& item : commaSeparated(arguments.get("seeds")))
        {
            if (!wholeNumber(item, 0, 4294967295L, value))
            {
                error = "--seeds: \"" + item + "\" is not a seed (a whole number from 0)";
                return {};
            }
            seeds.push_back(unsigned(value));
        }
        if (seeds.empty())
            error = "--seeds: no seed given";
        return seeds;
    }
    if (!wholeNumber(arguments.get("seed", "1"), 0, 4294967295L, value))
    {
        error = "--seed: \"" + arguments.get("seed") + "\" is not a seed";
        return {};
    }
    const unsigned first = unsigned(value);
    if (!wholeNumber(arguments.get("seed-count", "1"), 1, 1000, value))
    {
        error = "--seed-count: \"" + arguments.get("seed-count") + "\" is not a count from 1 to 1000";
        return {};
    }
    for (long k = 0; k < value; ++k)
        seeds.push_back(first + unsigned(k));
    return seeds;
}

std::vector<int> noiseLevelsFrom(const ToolArguments& arguments, std::string& error)
{
    std::vector<int> levels;
    if (!arguments.has("iso"))
        return levels;
    for (const std::string& item : commaSeparated(arguments.get("iso")))
    {
        long value = 0;
        if (item == "none")
            levels.push_back(-1);
        else if (item == "default")
            levels.push_back(0);
        else if (wholeNumber(item, 50, 102400, value))
            levels.push_back(int(value));
        else
        {
            error =
                "--iso: \"" + item + "\" is not a noise level (none, default, or an ISO from 50 to 102400)";
            return {};
        }
    }
    if (levels.empty())
        error = "--iso: no noise level given";
    return levels;
}

std::string noiseLevelName(int level)
{
    if (level < 0)
        return "none";
    if (level == 0)
        return "2 grey levels";
    return "ISO " + std::to_string(level);
}

} // namespace Novaro
