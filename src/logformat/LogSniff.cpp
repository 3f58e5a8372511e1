#include "logformat/LogSniff.h"

#include "core/TextUtil.h"

namespace qel::logformat {

namespace {

struct TCandidate {
    const char* Name;
    std::string Argument;
};

std::vector<TCandidate> Candidates() {
    const std::string nginx = TLogFormat::PresetFormat("nginx");
    return {
        {"combined", "combined"},
        {"common", "common"},
        {"vhost_combined", "vhost_combined"},
        {"nginx", "nginx"},
        // The format of the nginx.conf that nginx ships: combined and the forwarded-for header.
        {"nginx main", nginx + " \"$http_x_forwarded_for\""},
        {"combined with the time taken (%D)", TLogFormat::PresetFormat("combined") + " %D"},
        {"nginx with the request time", nginx + " $request_time"},
        {"nginx main with the request time", nginx + " \"$http_x_forwarded_for\" $request_time"},
    };
}

}  // namespace

std::optional<TSniffedFormat> SniffLogFormat(const std::vector<std::string>& lines) {
    std::optional<TSniffedFormat> best;
    std::vector<Variant> values;
    std::string reason;
    for (const TCandidate& candidate : Candidates()) {
        const TLogFormat format = TLogFormat::Parse(candidate.Argument);
        TSniffedFormat found{candidate.Name, candidate.Argument, 0, 0};
        for (const std::string& line : lines) {
            if (IsBlank(line) || line.front() == '#') continue;
            ++found.Lines;
            if (format.Match(line, values, reason)) ++found.Fitting;
        }
        if (found.Fitting * 2 < found.Lines || found.Fitting == 0) continue;
        if (!best || found.Fitting > best->Fitting) best = found;
    }
    return best;
}

}  // namespace qel::logformat
