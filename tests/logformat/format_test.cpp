// Log formats: reading format strings into columns, and matching lines (the oddities real logs
// carry: IPv6 hosts, escaped quotes, truncated lines, bytes that are no UTF-8, "-" requests).
#include <gtest/gtest.h>

#include <map>

#include "core/DateTime.h"
#include "core/TextUtil.h"
#include "logformat/LogFormat.h"

namespace qel::logformat {
namespace {

std::string ColumnList(const TLogFormat& f) {
    std::string out;
    for (const TLogColumn& c : f.Columns()) {
        if (!out.empty()) out += ' ';
        out += c.Name;
        switch (c.Type) {
            case ftInteger:
                out += ":i";
                break;
            case ftFloat:
                out += ":r";
                break;
            case ftDateTime:
                out += ":t";
                break;
            default:
                break;
        }
    }
    return out;
}

TEST(LogFormatColumns, PresetsAndFormatStrings) {
    struct Case {
        std::string format;
        std::string columns;
    } cases[] = {
        {"common", "host ident user time:t tz method path protocol status:i bytes:i"},
        {"combined",
         "host ident user time:t tz method path protocol status:i bytes:i referer agent"},
        {"nginx", "host user time:t tz method path protocol status:i bytes:i referer agent"},
        // The fields in front of the host still come after the leading columns.
        {"vhost_combined",
         "host ident user time:t tz method path protocol status:i referer agent vhost port:i "
         "bytes_sent:i"},
        {R"L(%h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-agent}i\" %D %{X-Forwarded-For}i)L",
         "host ident user time:t tz method path protocol status:i bytes:i referer agent "
         "duration_us:i x_forwarded_for"},
        {"%h %m %U%q %H %>s %B %T %{Content-Type}o %{HOME}e",
         "host method path protocol status:i bytes:i query duration_s:i content_type home"},
        {R"L($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_referer" "$http_user_agent" "$http_x_forwarded_for" $request_time)L",
         "host user time:t tz method path protocol status:i bytes:i referer agent "
         "x_forwarded_for request_time:r"},
        {"$remote_addr [$time_iso8601] ${host} $server_port", "host time:t tz vhost port:i"},
        // A second field of the same name is numbered and stays with the other fields.
        {"%h %h %>s %s", "host status:i host_2 status_2:i"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(ColumnList(TLogFormat::Parse(c.format)), c.columns);
    }
}

TEST(LogFormatColumns, FormatsThatCannotBeRead) {
    struct Case {
        const char* format;
        const char* message;
    } cases[] = {
        {"squid", "Unknown log format 'squid'"},
        {"%h %Z", "Unknown log format directive %Z"},
        {"%h %{%Y-%m-%d}t", "Unknown log format directive %{%Y-%m-%d}t"},
        {"%h %{Referer", "Unclosed {"},
        {"%h %", "Incomplete log format directive %"},
        {"%h%u", "have no text between them"},
        {"$remote_addr$status", "have no text between them"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        try {
            TLogFormat::Parse(c.format);
            ADD_FAILURE() << "accepted";
        } catch (const ELogFormatError& e) {
            EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
        }
    }
}

// A matched line as "column=value" texts, null as "column=NULL" and times as ISO text.
std::map<std::string, std::string> Values(const TLogFormat& f, const std::vector<Variant>& v) {
    std::map<std::string, std::string> out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        std::string text;
        if (v[i].IsNull()) {
            text = "NULL";
        } else if (v[i].kind() == Variant::vkDateTime) {
            text = DateTimeToIso(v[i].RealValue(), true, true);
        } else if (v[i].kind() == Variant::vkInteger) {
            text = "#" + IntToStr(v[i].IntegerValue());
        } else if (v[i].kind() == Variant::vkReal) {
            text = "#" + FloatToStr(v[i].RealValue(), '.');
        } else {
            text = v[i].TextValue();
        }
        out[f.Columns()[i].Name] = text;
    }
    return out;
}

TEST(LogFormatMatch, LinesThatFit) {
    using Want = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        std::string format;
        std::string line;
        Want want;  // the columns checked
    } cases[] = {
        {"combined, time to UTC",
         "combined",
         R"L(127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] "GET /a.gif HTTP/1.0" 200 2326 "http://x/" "Mozilla/4.08")L",
         {{"host", "127.0.0.1"},
          {"ident", "-"},
          {"user", "frank"},
          {"time", "2000-10-10 20:55:36"},
          {"tz", "-0700"},
          {"method", "GET"},
          {"path", "/a.gif"},
          {"protocol", "HTTP/1.0"},
          {"status", "#200"},
          {"bytes", "#2326"},
          {"referer", "http://x/"},
          {"agent", "Mozilla/4.08"}}},
        {"half-hour zone east, over midnight and a year's end",
         "common",
         R"L(::1 - - [01/Jan/2019:02:10:05 +0330] "GET / HTTP/1.1" 304 -)L",
         {{"host", "::1"}, {"time", "2018-12-31 22:40:05"}, {"tz", "+0330"}, {"bytes", "NULL"}}},
        {"leap day, CRLF line end",
         "common",
         "h - - [29/Feb/2024:23:59:59 -0100] \"GET / HTTP/1.1\" 200 5\r",
         {{"time", "2024-03-01 00:59:59"}, {"bytes", "#5"}}},
        {"IPv6 host, empty request",
         "combined",
         R"L(2001:db8::ff00:42:8329 - - [22/Jan/2019:03:56:14 +0330] "-" 400 0 "-" "-")L",
         {{"host", "2001:db8::ff00:42:8329"},
          {"method", "NULL"},
          {"path", "NULL"},
          {"protocol", "NULL"},
          {"status", "#400"},
          {"bytes", "#0"},
          {"referer", "-"}}},
        {"request without protocol; blank inside the path",
         "common",
         R"L(h - - [10/Oct/2000:13:55:36 +0000] "GET /a b" 404 12)L",
         {{"method", "GET"}, {"path", "/a b"}, {"protocol", "NULL"}}},
        {"a junk request is a path alone",
         "common",
         R"L(h - - [10/Oct/2000:13:55:36 +0000] "\x16\x03\x01" 400 -)L",
         {{"method", "NULL"}, {"path", R"L(\x16\x03\x01)L"}, {"protocol", "NULL"}}},
        {"escaped quotes and backslashes; other escapes kept",
         "combined",
         R"L(h - - [10/Oct/2000:13:55:36 +0000] "GET /q?s=\"x\" HTTP/1.1" 200 1 "-" "A \\ B \"C\" \x41")L",
         {{"path", R"L(/q?s="x")L"}, {"agent", R"L(A \ B "C" \x41)L"}}},
        {"an unescaped quote inside a field stays in it",
         "combined",
         R"L(h - - [10/Oct/2000:13:55:36 +0000] "GET / HTTP/1.1" 200 1 "a "b" c" "Bot")L",
         {{"referer", R"L(a "b" c)L"}, {"agent", "Bot"}}},
        {"bytes that are no UTF-8 pass as they are",
         "common",
         "h\xff - u\xc3 [10/Oct/2000:13:55:36 +0000] \"GET /\xe9 HTTP/1.1\" 200 1",
         {{"host", "h\xff"}, {"user", "u\xc3"}, {"path", "/\xe9"}}},
        {"nginx with an extra field and a request time",
         R"L($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_referer" "$http_user_agent" "$http_x_forwarded_for" $request_time)L",
         R"L(54.36.149.41 - - [22/Jan/2019:03:56:14 +0330] "GET /f HTTP/1.1" 200 30577 "-" "Bot" "-" 0.125)L",
         {{"time", "2019-01-22 00:26:14"},
          {"x_forwarded_for", "-"},
          {"request_time", "#0.125"},
          {"bytes", "#30577"}}},
        {"nginx ISO time",
         "$remote_addr [$time_iso8601] $status",
         "h [2019-01-22T03:56:14+03:30] 200",
         {{"time", "2019-01-22 00:26:14"}, {"tz", "+03:30"}}},
        {"path and query string",
         "%h \"%m %U%q %H\" %>s",
         R"L(h "GET /a?x=1 HTTP/1.1" 200)L",
         {{"path", "/a"}, {"query", "?x=1"}, {"protocol", "HTTP/1.1"}}},
        {"path without query string",
         "%h \"%m %U%q %H\" %>s",
         R"L(h "GET /a HTTP/1.1" 200)L",
         {{"path", "/a"}, {"query", ""}}},
        {"sizes beyond 32 bits",
         "common",
         R"L(h - - [10/Oct/2000:13:55:36 +0000] "GET / HTTP/1.1" 200 5000000000)L",
         {{"bytes", "#5000000000"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TLogFormat f = TLogFormat::Parse(c.format);
        std::vector<Variant> values;
        std::string reason;
        ASSERT_TRUE(f.Match(c.line, values, reason)) << reason;
        const auto got = Values(f, values);
        for (const auto& [column, want] : c.want) {
            ASSERT_TRUE(got.count(column)) << column;
            EXPECT_EQ(got.at(column), want) << column;
        }
    }
}

TEST(LogFormatMatch, LinesThatDoNotFit) {
    const std::string good =
        R"L(h - - [10/Oct/2000:13:55:36 -0700] "GET / HTTP/1.1" 200 1 "-" "Mozilla/5.0 (X11)")L";
    struct Case {
        const char* name;
        std::string line;
        const char* reason;
    } cases[] = {
        {"empty line", "", "empty line"},
        {"blank line", " \t\r", "empty line"},
        {"comment line", "#Fields: date time", "comment line"},
        {"an unescaped quote in the last field",
         R"L(h - - [10/Oct/2000:13:55:36 -0700] "GET / HTTP/1.1" 200 1 "-" "Bot "v2"")L",
         "unexpected text after the last field: 'v2\"\"'"},
        {"cut inside the agent", good.substr(0, good.size() - 6),
         "the line ends inside the quoted agent field"},
        {"cut inside the time", good.substr(0, 15), "no [time]"},
        {"cut after the status", good.substr(0, good.find(" 1 \"")), "ends inside the status"},
        {"a size that is no number",
         R"L(h - - [10/Oct/2000:13:55:36 -0700] "GET / HTTP/1.1" 200 1k "-" "a")L",
         "'1k' is not a whole number (the bytes field)"},
        {"a status that is no number",
         R"L(h - - [10/Oct/2000:13:55:36 -0700] "GET / HTTP/1.1" OK 1 "-" "a")L",
         "'OK' is not a whole number (the status field)"},
        {"a month that does not exist",
         R"L(h - - [10/Okt/2000:13:55:36 -0700] "GET / HTTP/1.1" 200 1 "-" "a")L", "is not a time"},
        {"a day that does not exist",
         R"L(h - - [30/Feb/2000:13:55:36 -0700] "GET / HTTP/1.1" 200 1 "-" "a")L", "is not a time"},
        {"a time without zone", R"L(h - - [10/Oct/2000:13:55:36] "GET / HTTP/1.1" 200 1 "-" "a")L",
         "is not a time"},
        {"an extra field", good + R"L( "-")L", "unexpected text after the last field"},
        {"the common part only", good.substr(0, good.find(" \"-\"")),
         "the line ends inside the bytes field"},
    };
    const TLogFormat f = TLogFormat::Parse("combined");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Variant> values;
        std::string reason;
        EXPECT_FALSE(f.Match(c.line, values, reason));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

TEST(LogTime, ExactToTheSecondOverManyOffsets) {
    // Every offset and second of a day, checked against plain arithmetic on seconds.
    for (int offset : {-720, -330, -1, 0, 1, 210, 345, 840}) {
        for (int second = 0; second < 86400; second += 61) {
            const int h = second / 3600, m = second / 60 % 60, s = second % 60;
            const std::string sign = offset < 0 ? "-" : "+";
            const int a = offset < 0 ? -offset : offset;
            const std::string text =
                Format("15/Mar/2021:%02d:%02d:%02d %s%02d%02d", h, m, s, sign, a / 60, a % 60);
            TDateTime utc = 0;
            std::string zone;
            ASSERT_TRUE(ParseLocalTime(text, utc, zone)) << text;
            const int expected = 86400 * 10 + second - offset * 60;  // from 5 March 2021
            const TDateTime base = EncodeDate(2021, 3, 5);
            const TDateTime want =
                base + expected / 86400 +
                EncodeTime(expected % 86400 / 3600, expected % 3600 / 60, expected % 60, 0);
            ASSERT_EQ(DateTimeToIso(utc, true, true), DateTimeToIso(want, true, true)) << text;
            ASSERT_EQ(zone, sign + Format("%02d%02d", a / 60, a % 60));
        }
    }
}

TEST(LogRequest, SplitAtFirstAndLastBlank) {
    struct Case {
        const char* request;
        const char* method;  // nullptr: none
        const char* path;
        const char* protocol;
    } cases[] = {
        {"GET /a HTTP/1.1", "GET", "/a", "HTTP/1.1"},
        {"GET /a", "GET", "/a", nullptr},
        {"GET /a b c HTTP/2.0", "GET", "/a b c", "HTTP/2.0"},
        {"GET /a b", "GET", "/a b", nullptr},
        {"OPTIONS * HTTP/1.0", "OPTIONS", "*", "HTTP/1.0"},
        {"garbage", nullptr, "garbage", nullptr},
        {"-", nullptr, nullptr, nullptr},
        {"", nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const TRequestParts p = SplitRequest(c.request);
        EXPECT_EQ(p.HasMethod, c.method != nullptr);
        EXPECT_EQ(p.HasPath, c.path != nullptr);
        EXPECT_EQ(p.HasProtocol, c.protocol != nullptr);
        EXPECT_EQ(p.Method, c.method ? c.method : "");
        EXPECT_EQ(p.Path, c.path ? c.path : "");
        EXPECT_EQ(p.Protocol, c.protocol ? c.protocol : "");
    }
}

}  // namespace
}  // namespace qel::logformat
