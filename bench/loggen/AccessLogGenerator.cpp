#include "AccessLogGenerator.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string_view>

namespace qel {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::array<std::string_view, 12> kHostNames = {
    "crawl-66-249-66-1.googlebot.com", "proxy.example.net",           "gw1.isp-north.co.uk",
    "dsl-88-12.home.example.org",      "lb-3.cdn.example.com",        "mail.university.edu",
    "ws12.office.example.de",          "client.mobile.example.fr",    "bastion.corp.example.com",
    "vpn-exit-7.example.io",           "host-203-0-113-9.example.jp", "static.kpn.example.nl"};

constexpr std::array<std::string_view, 14> kDirs = {
    "images", "css",    "js",      "blog", "products", "api/v1", "downloads",
    "docs",   "static", "catalog", "news", "user",     "search", "assets/fonts"};

constexpr std::array<std::string_view, 16> kFiles = {
    "index.html",  "logo.png",  "style.css",     "app.js",     "favicon.ico", "feed.xml",
    "report.pdf",  "photo.jpg", "banner.gif",    "about.html", "items.json",  "robots.txt",
    "main.min.js", "setup.exe", "manual-2.html", "font.woff2"};

constexpr std::array<std::string_view, 10> kSites = {"https://www.google.com/search?q=",
                                                     "https://www.bing.com/search?q=",
                                                     "http://www.example.com/",
                                                     "https://news.example.org/articles/",
                                                     "https://duckduckgo.com/?q=",
                                                     "http://forum.example.net/thread/",
                                                     "https://t.co/",
                                                     "https://www.example.com/blog/",
                                                     "http://partner.example.de/links/",
                                                     "https://mail.example.com/inbox/"};

constexpr std::array<std::string_view, 10> kAgents = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) Chrome/120.0 Safari/537.36",
    "Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 Mobile/15E148",
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
    "curl/8.4.0",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) Version/17.1 Safari",
    "Wget/1.21.4 (linux-gnu)",
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)",
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 Chrome/120.0 Mobile",
    "python-requests/2.31.0"};

constexpr std::array<std::string_view, 6> kWords = {"qel",     "log+import", "cheap+flights",
                                                    "weather", "c%2B%2B",    "access+log+format"};

struct Status {
    int code;
    std::uint32_t weight;
};
constexpr std::array<Status, 8> kStatuses = {
    {{200, 70}, {304, 12}, {404, 7}, {301, 4}, {302, 3}, {206, 2}, {500, 1}, {403, 1}}};
constexpr std::uint32_t kStatusWeights = 100;

void AppendNumber(std::string& out, std::uint64_t v) {
    char buf[24];
    int n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
    out.append(buf, static_cast<std::size_t>(n));
}

void AppendTwo(std::string& out, unsigned v) {
    out += static_cast<char>('0' + v / 10);
    out += static_cast<char>('0' + v % 10);
}

}  // namespace

AccessLogGenerator::AccessLogGenerator(std::uint64_t seed)
    : state_(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL),
      seconds_(1700000000 + static_cast<std::int64_t>(seed % 86400)) {}

// splitmix64: small, fast and the same everywhere.
std::uint64_t AccessLogGenerator::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint32_t AccessLogGenerator::Below(std::uint32_t n) {
    return static_cast<std::uint32_t>(((Next() >> 32) * n) >> 32);
}

void AccessLogGenerator::AppendHost(std::string& out) {
    if (Below(5) == 0) {
        out += kHostNames[Below(kHostNames.size())];
        return;
    }
    // Addresses cluster: a few busy clients and a long tail.
    std::uint32_t a = Below(3) == 0 ? 10 + Below(8) : 60 + Below(160);
    AppendNumber(out, a);
    out += '.';
    AppendNumber(out, Below(256));
    out += '.';
    AppendNumber(out, Below(256));
    out += '.';
    AppendNumber(out, 1 + Below(254));
}

void AccessLogGenerator::AppendTime(std::string& out) {
    using namespace std::chrono;
    seconds_ += Below(3);  // a busy server: zero to two seconds between requests
    const sys_seconds t{seconds{seconds_}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{t - day};
    out += '[';
    AppendTwo(out, static_cast<unsigned>(ymd.day()));
    out += '/';
    out += kMonths[static_cast<unsigned>(ymd.month()) - 1];
    out += '/';
    AppendNumber(out, static_cast<std::uint64_t>(static_cast<int>(ymd.year())));
    out += ':';
    AppendTwo(out, static_cast<unsigned>(hms.hours().count()));
    out += ':';
    AppendTwo(out, static_cast<unsigned>(hms.minutes().count()));
    out += ':';
    AppendTwo(out, static_cast<unsigned>(hms.seconds().count()));
    out += " +0000]";
}

void AccessLogGenerator::AppendPath(std::string& out) {
    out += '/';
    std::uint32_t depth = Below(3);
    for (std::uint32_t i = 0; i < depth; ++i) {
        out += kDirs[Below(kDirs.size())];
        out += '/';
    }
    if (Below(8) == 0) {
        // A numbered item page.
        out += "item-";
        AppendNumber(out, Below(100000));
        out += ".html";
    } else {
        out += kFiles[Below(kFiles.size())];
    }
    if (Below(6) == 0) {
        out += "?id=";
        AppendNumber(out, Below(1000000));
        if (Below(2) == 0) out += "&lang=en";
    }
}

void AccessLogGenerator::AppendReferer(std::string& out) {
    if (Below(2) == 0) {
        out += '-';
        return;
    }
    std::string_view site = kSites[Below(kSites.size())];
    out += site;
    if (site.back() == '=') {
        out += kWords[Below(kWords.size())];
    } else {
        AppendNumber(out, Below(50000));
    }
}

void AccessLogGenerator::AppendLine(std::string& out) {
    AppendHost(out);
    out += " - - ";
    AppendTime(out);
    out += " \"";
    std::uint32_t m = Below(20);
    out += m < 16 ? "GET " : m < 19 ? "POST " : "HEAD ";
    AppendPath(out);
    out += " HTTP/1.1\" ";

    std::uint32_t pick = Below(kStatusWeights);
    int code = kStatuses.back().code;
    for (const Status& s : kStatuses) {
        if (pick < s.weight) {
            code = s.code;
            break;
        }
        pick -= s.weight;
    }
    AppendNumber(out, static_cast<std::uint64_t>(code));
    out += ' ';
    if (code == 304) {
        out += '-';
    } else {
        AppendNumber(out, code == 200 ? 200 + Below(250000) : Below(2000));
    }
    out += " \"";
    AppendReferer(out);
    out += "\" \"";
    out += kAgents[Below(kAgents.size())];
    out += "\"\n";
}

std::string AccessLogGenerator::Generate(std::size_t lines) {
    std::string out;
    out.reserve(lines * 176);
    for (std::size_t i = 0; i < lines; ++i) AppendLine(out);
    return out;
}

}  // namespace qel
