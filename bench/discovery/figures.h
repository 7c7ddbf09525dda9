// The benchmark's figures: medians over the rounds of every (N, W) and
// program, their ratios to the floor of the same rounds, and the goals.
#pragma once

#include "run_result.h"

#include <string>
#include <vector>

namespace discovery {

// The report as Markdown: the table per (N, W), the idle costs (N = 0) and
// the goals at the largest N, after `machine` (a few lines saying where and
// from which commit the figures came).
std::string FormatFigures(const std::vector<RunResult>& runs, const std::string& machine);

}  // namespace discovery
