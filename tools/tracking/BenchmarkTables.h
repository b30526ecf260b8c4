#pragma once

#include "ToolSupport.h"

#include <ostream>
#include <string>
#include <vector>

// What the benchmark tables share: seeds and noise levels from the options, and rows summed up
// over seeds.
namespace Novaro
{

/// value with digits decimals; "-" for NaN.
std::string fixedText(double value, int digits);

/// The seeds the tables run over: --seeds 1,2,3; --seed-count N (N seeds from --seed, default 1,
/// on); else --seed alone. Empty, with the reason in error, when malformed.
std::vector<unsigned> seedsFrom(const ToolArguments& arguments, std::string& error);
/// The noise levels of --iso (comma-separated: "none", "default" for 2 grey levels, or an ISO
/// from 50 to 102400), as ComparisonSettings::noiseLevels holds them; empty when not given, or
/// (with the reason in error) when malformed.
std::vector<int> noiseLevelsFrom(const ToolArguments& arguments, std::string& error);

/// A table row's numbers from one seed: per column, one value per detector (a cell "a / b / c");
/// NaN prints as "-".
using RowValues = std::vector<std::vector<double>>;

/// Prints a Markdown row over seeds: one seed gives one row ("seed N" in the seeds column);
/// several give the minimum, median and maximum of each number over the seeds, each on its row,
/// so that the worst seed shows whichever way a column is better. label: the row's first cells,
/// "| a | b" (the seeds column follows); digits: decimals per column.
void printOverSeeds(std::ostream& out, const std::string& label, const std::vector<int>& digits,
                    const std::vector<unsigned>& seeds, const std::vector<RowValues>& perSeed);

/// "seed 1", or "seeds 1,2,3 (min, median and max over them, each on its row)".
std::string seedText(const std::vector<unsigned>& seeds);

/// How the tables name a noise level: "none", "2 grey levels", "ISO 800".
std::string noiseLevelName(int level);

} // namespace Novaro
