// Naming the log format of a few lines: the presets and a few common variants are tried, and the
// one most lines fit is taken.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logformat/LogFormat.h"

namespace qel::logformat {

struct TSniffedFormat {
    std::string Name;      // a preset name, or a description such as "nginx main"
    std::string Argument;  // what --format takes: the preset name or the format string
    int Fitting = 0;       // lines that fit it
    int Lines = 0;         // lines looked at (blank and comment lines not counted)
};

// The format most of `lines` fit (at least half of those that are not blank or comments); an
// earlier candidate wins a tie, so a log both combined and nginx fit is named combined.
std::optional<TSniffedFormat> SniffLogFormat(const std::vector<std::string>& lines);

}  // namespace qel::logformat
