// qel_loggen LINES [SEED] > file
// Writes LINES lines of a deterministic access log (combined format, LF line ends) to the
// standard output.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AccessLogGenerator.h"

namespace {

bool ParseCount(const char* text, unsigned long long& out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long long lines = 0;
    unsigned long long seed = 1;
    if (argc < 2 || argc > 3 || !ParseCount(argv[1], lines) ||
        (argc == 3 && !ParseCount(argv[2], seed))) {
        std::fprintf(stderr, "usage: qel_loggen LINES [SEED] > file\n");
        return 2;
    }
    qel::AccessLogGenerator gen(seed);
    std::string chunk;
    chunk.reserve(1 << 20);
    for (unsigned long long i = 0; i < lines; ++i) {
        gen.AppendLine(chunk);
        if (chunk.size() >= (1u << 20) - 512 || i + 1 == lines) {
            if (std::fwrite(chunk.data(), 1, chunk.size(), stdout) != chunk.size()) {
                std::perror("qel_loggen");
                return 1;
            }
            chunk.clear();
        }
    }
    if (std::fflush(stdout) != 0) {
        std::perror("qel_loggen");
        return 1;
    }
    return 0;
}
