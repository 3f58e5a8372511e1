// A deterministic generator of web-server access logs in the combined format:
//   host - - [dd/Mon/yyyy:hh:mm:ss +0000] "METHOD /path HTTP/1.1" code size "referer" "agent"
// The same seed always gives the same bytes on every platform (own PRNG and own range
// reduction, no clock, no standard distributions). Lines end with LF and average about
// 170 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qel {

class AccessLogGenerator {
  public:
    explicit AccessLogGenerator(std::uint64_t seed = 1);

    // Appends the next line, with its LF, to out.
    void AppendLine(std::string& out);
    // The next `lines` lines as one text.
    std::string Generate(std::size_t lines);

  private:
    std::uint64_t Next();
    std::uint32_t Below(std::uint32_t n);  // uniform in [0, n)
    void AppendHost(std::string& out);
    void AppendTime(std::string& out);
    void AppendPath(std::string& out);
    void AppendReferer(std::string& out);

    std::uint64_t state_;
    std::int64_t seconds_;  // time of the current line, seconds since 1970-01-01
};

}  // namespace qel
