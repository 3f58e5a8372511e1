#include "dataset/PgTable.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/DateTime.h"
#include "core/Errors.h"
#include "core/TextUtil.h"
#include "dataset/SqliteTable.h"

namespace qel {

namespace {

// Ids handed out for records posted into the stream, before the server has given them theirs.
constexpr TRecordId kProvisionalBase = INT64_MIN + 1;
constexpr std::size_t kMaxAliases = 8;
// A physical neighbour is looked for within this many blocks first (a TID range scan), and
// only then in the rest of the table.
constexpr std::int64_t kSeekWindowBlocks = 8;

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Whether a byte of the word equals c.
inline std::uint64_t HasByte(std::uint64_t w, unsigned char c) {
    const std::uint64_t x = w ^ (kOnes * c);
    return (x - kOnes) & ~x & kHighs;
}

// Whether all eight bytes of the word are in 14..127 and none is a backslash: bytes that need
// neither an escape in COPY text nor a closer look as UTF-8.
inline bool PlainWord(std::uint64_t w) {
    return (((w - kOnes * 14) | w | HasByte(w, '\\')) & kHighs) == 0;
}

// Skips plain bytes (see PlainWord) 16 at a time: returns the first byte of the first block that
// is not all plain, or where fewer than 16 bytes remain.
inline const unsigned char* SkipPlainBlocks(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(14);
    const __m128i backslash = _mm_set1_epi8('\\');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // As signed bytes, 0x80..0xFF are below 14 too.
        const int odd =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(v, low), _mm_cmpeq_epi8(v, backslash)));
        if (odd != 0) return p + __builtin_ctz(static_cast<unsigned>(odd));
        p += 16;
    }
#else
    (void)end;
#endif
    return p;
}

// Checks that `s` is UTF-8 without NUL (the server takes no other text) and counts its
// characters; with `out`, appends it in COPY's text format as well (backslash, tab, line feed
// and carriage return escaped). One pass, 16 or 8 bytes at a time while they are plain.
bool AppendCopyText(std::string* out, std::string_view s, std::size_t& characters) {
    characters = s.size();
    const auto* begin = reinterpret_cast<const unsigned char*>(s.data());
    const auto* p = begin;
    const auto* end = p + s.size();
    const auto* run = p;  // start of the bytes not yet appended
    auto flush = [&](const unsigned char* upTo) {
        out->append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(upTo - run));
    };
    while (p < end) {
        p = SkipPlainBlocks(p, end);
        if (p == end) break;
        std::uint64_t w;
        if (end - p >= 8) {
            std::memcpy(&w, p, 8);
            if (PlainWord(w)) {
                p += 8;
                continue;
            }
        } else if (end - begin >= 8) {
            // The last bytes, as the word that ends the text (bytes before p were checked).
            std::memcpy(&w, end - 8, 8);
            if (PlainWord(w)) break;
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            char esc = 0;
            switch (c) {
                case 0:
                    return false;
                case '\\':
                    esc = '\\';
                    break;
                case '\t':
                    esc = 't';
                    break;
                case '\n':
                    esc = 'n';
                    break;
                case '\r':
                    esc = 'r';
                    break;
                default:
                    break;
            }
            if (esc != 0 && out != nullptr) {
                flush(p);
                *out += '\\';
                *out += esc;
                run = p + 1;
            }
            ++p;
            continue;
        }
        int extra = 0;
        std::uint32_t cp = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra) return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += extra + 1;
        characters -= static_cast<std::size_t>(extra);
    }
    if (out != nullptr) flush(end);
    return true;
}

template <typename T>
void AppendNumber(std::string& out, T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

Variant IntegerVariant(long long v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<std::int32_t>(v));
    return Variant(static_cast<double>(v));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A tid "(block,offset)" as one ordered number, and back.
TRecordId TidToId(const char* text) {
    unsigned long long block = 0, offset = 0;
    const char* p = text;
    if (*p == '(') ++p;
    block = std::strtoull(p, const_cast<char**>(&p), 10);
    if (*p == ',') ++p;
    offset = std::strtoull(p, nullptr, 10);
    return static_cast<TRecordId>((block << 16) | (offset & 0xFFFF));
}

std::string TidText(TRecordId id) {
    auto u = static_cast<unsigned long long>(id);
    return "(" + std::to_string(u >> 16) + "," + std::to_string(u & 0xFFFF) + ")";
}

std::string BlockTid(std::int64_t block) {
    return "(" + std::to_string(std::max<std::int64_t>(block, 0)) + ",0)";
}

std::string FirstLine(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Connects, with the session settings the text of values depends on.
PGconn* Connect(const std::string& conninfo, std::string& error) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (conn == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        error = FirstLine(PQerrorMessage(conn));
        PQfinish(conn);
        return nullptr;
    }
    PGresult* r = PQexec(conn,
                         "SET DateStyle = 'ISO, YMD'; SET TimeZone = 'UTC'; "
                         "SET client_encoding = 'UTF8'; SET extra_float_digits = 3; "
                         "SET bytea_output = 'hex'");
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok) error = FirstLine(PQerrorMessage(conn));
    PQclear(r);
    if (!ok) {
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

std::string ResultError(const PGresult* r, PGconn* conn) {
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string text = primary ? primary : FirstLine(conn ? PQerrorMessage(conn) : "");
    if (text.empty()) text = "no answer from the server";
    if (const char* detail = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL) : nullptr)
        text += Format(" (%s)", std::string(detail));
    return text;
}

// Runs one statement on a connection of its own, for creating a table.
void RunStatement(const std::string& conninfo, const std::string& tableName,
                  const std::string& sql) {
    std::string error;
    PGconn* conn = Connect(conninfo, error);
    if (conn != nullptr) {
        // The extended protocol takes one statement only, so a column list cannot carry more.
        PGresult* r = PQexecParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
        if (PQresultStatus(r) != PGRES_COMMAND_OK) error = ResultError(r, conn);
        PQclear(r);
        PQfinish(conn);
    }
    if (!error.empty()) {
        throw EDatabaseError(Format("Cannot create table '%s': %s", tableName, error));
    }
}

}  // namespace

void TPgTable::ResultDeleter::operator()(pg_result* r) const {
    PQclear(r);
}

TPgTable::TPgTable(TComponent* owner) : TDataSet(owner) {}

TPgTable::~TPgTable() {
    CloseQuietly();
    ReleaseConnection();
}

void TPgTable::SetDatabaseName(const std::string& conninfo) {
    CheckInactive();
    databaseName_ = conninfo;
}

void TPgTable::SetTableName(const std::string& name) {
    CheckInactive();
    tableName_ = name;
}

void TPgTable::SetReadOnly(bool readOnly) {
    CheckInactive();
    readOnly_ = readOnly;
}

std::string TPgTable::QuoteName(const std::string& name) {
    return TSqliteTable::QuoteName(name);  // the same SQL rule: double quotes, inner ones doubled
}

std::string TPgTable::QuoteQualifiedName(const std::string& name) {
    std::string out;
    std::size_t i = 0;
    while (true) {
        std::string part;
        if (i < name.size() && name[i] == '"') {
            ++i;
            while (i < name.size()) {
                if (name[i] == '"') {
                    if (i + 1 < name.size() && name[i + 1] == '"') {
                        part += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                part += name[i++];
            }
        } else {
            while (i < name.size() && name[i] != '.') part += name[i++];
            part = LowerCase(Trim(part));
        }
        out += QuoteName(part);
        if (i < name.size() && name[i] == '.') {
            out += '.';
            ++i;
            continue;
        }
        break;
    }
    return out;
}

TFieldType TPgTable::FieldTypeOf(const std::string& typeName, int typmod, int& size) {
    size = 0;
    struct Entry {
        const char* name;
        TFieldType type;
    };
    static const Entry kTypes[] = {
        {"int2", ftSmallint},  {"int4", ftInteger},       {"int8", ftLargeint},
        {"float4", ftFloat},   {"float8", ftFloat},       {"numeric", ftBCD},
        {"bool", ftBoolean},   {"date", ftDate},          {"time", ftTime},
        {"timetz", ftTime},    {"timestamp", ftDateTime}, {"timestamptz", ftDateTime},
        {"varchar", ftString}, {"bpchar", ftString},      {"text", ftString},
        {"name", ftString},    {"bytea", ftBlob},
    };
    for (const Entry& e : kTypes) {
        if (typeName == e.name) {
            if ((typeName == "varchar" || typeName == "bpchar") && typmod >= 4) size = typmod - 4;
            return e.type;
        }
    }
    return ftUnknown;  // read and written as text; the server judges the values
}

// ---------------------------------------------------------------------------------------------
// Statements and errors

TPgTable::Result TPgTable::RunPlain(const std::string& sql, const char* action) {
    AwaitCommit();
    Result r(PQexec(conn_, sql.c_str()));
    ExecStatusType st = PQresultStatus(r.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) Fail(action, r.get());
    return r;
}

TPgTable::Result TPgTable::Run(const std::string& sql,
                               const std::vector<const std::string*>& params,
                               const TFieldFlags* nulls, const char* action) {
    AwaitCommit();
    auto it = prepared_.find(sql);
    const int n = static_cast<int>(params.size());
    if (it == prepared_.end()) {
        std::string name = "qel" + std::to_string(prepared_.size() + 1);
        Result p(PQprepare(conn_, name.c_str(), sql.c_str(), n, nullptr));
        if (PQresultStatus(p.get()) != PGRES_COMMAND_OK) Fail(action, p.get());
        it = prepared_.emplace(sql, std::move(name)).first;
    }
    const char* values[64];
    int lengths[64];
    std::vector<const char*> manyValues;
    std::vector<int> manyLengths;
    const char** v = values;
    int* l = lengths;
    if (n > 64) {
        manyValues.resize(static_cast<std::size_t>(n));
        manyLengths.resize(static_cast<std::size_t>(n));
        v = manyValues.data();
        l = manyLengths.data();
    }
    for (int i = 0; i < n; ++i) {
        const bool isNull = nulls != nullptr && (*nulls)[static_cast<std::size_t>(i)];
        v[i] = isNull ? nullptr : params[static_cast<std::size_t>(i)]->c_str();
        l[i] = isNull ? 0 : static_cast<int>(params[static_cast<std::size_t>(i)]->size());
    }
    Result r(PQexecPrepared(conn_, it->second.c_str(), n, v, l, nullptr, 0));
    ExecStatusType st = PQresultStatus(r.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) Fail(action, r.get());
    return r;
}

void TPgTable::Fail(const char* action, const pg_result* r) {
    FailText(action, ResultError(r, conn_));
}

void TPgTable::FailText(const char* action, std::string detail) {
    std::string text = Format("Cannot %s table '%s': %s", action, tableName_, detail);
    LoseTransaction(text);
    throw EDatabaseError(text);
}

void TPgTable::LoseTransaction(std::string& text) {
    if (conn_ == nullptr) return;
    if (committing_) {
        // A commit still on its way is given up with the rest; its writes count as lost.
        committing_ = false;
        while (PGresult* r = PQgetResult(conn_)) PQclear(r);
        pendingRows_ += committingRows_;
        pendingAdded_ += committingAdded_;
        pendingDeleted_ += committingDeleted_;
        committingRows_ = committingAdded_ = committingDeleted_ = 0;
        inTransaction_ = true;
    }
    // A failed COPY has to be ended before anything else can be said on the connection.
    if (copying_ && PQstatus(conn_) == CONNECTION_OK) {
        PQputCopyEnd(conn_, "the load was abandoned");
        while (PGresult* r = PQgetResult(conn_)) PQclear(r);
    }
    DropStream();
    if (!inTransaction_) return;
    // Any error inside a PostgreSQL transaction ends it: everything posted in it is gone.
    inTransaction_ = false;
    if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE) {
        PQclear(PQexec(conn_, "ROLLBACK"));
    }
    count_ += pendingDeleted_ - pendingAdded_;
    if (PQstatus(conn_) == CONNECTION_OK) {
        PGresult* r = PQexec(conn_, ("SELECT count(*) FROM " + quotedTable_).c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
            count_ = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
        PQclear(r);
    }
    if (pendingRows_ > 0) {
        text +=
            Format("; the write transaction was rolled back and %lld posted record(s) were lost",
                   static_cast<long long>(pendingRows_));
    }
    lostRecords_ += pendingRows_;
    pendingRows_ = pendingAdded_ = pendingDeleted_ = 0;
    aliases_.clear();
    if (ControlsDisabled()) failure_ = text;
}

// ---------------------------------------------------------------------------------------------
// Values

void TPgTable::ValueText(std::size_t field, const Variant& v, std::string& out,
                         char& isNull) const {
    isNull = 0;
    if (v.IsNullOrEmpty()) {
        isNull = 1;
        return;
    }
    const TFieldType type = defs_[field].DataType;
    const Column& c = columns_[field];
    auto invalid = [&](const char* why) {
        std::string text =
            Format(msg::kInvalidFieldValue, Fields(static_cast<int>(field))->DisplayLabel());
        if (why != nullptr) text += Format(" (%s)", std::string(why));
        throw EDatabaseError(text);
    };
    if (v.IsArray()) invalid(nullptr);
    if (IsIntegerFieldType(type)) {
        long long x = 0;
        if (v.kind() == Variant::vkInteger) {
            x = v.IntegerValue();
        } else if (v.kind() == Variant::vkReal) {
            x = std::llround(v.RealValue());
        } else if (v.kind() == Variant::vkBoolean) {
            x = v.BooleanValue() ? -1 : 0;
        } else {
            invalid(nullptr);
        }
        if (c.Int2 && (x < -32768 || x > 32767)) invalid("out of range for smallint");
        if (c.Int4 && (x < INT32_MIN || x > INT32_MAX)) invalid("out of range for integer");
        AppendNumber(out, x);
        return;
    }
    switch (type) {
        case ftFloat:
        case ftCurrency:
        case ftBCD: {
            double d = 0;
            if (v.kind() == Variant::vkInteger) {
                d = v.IntegerValue();
            } else if (v.kind() == Variant::vkReal) {
                d = v.RealValue();
            } else {
                invalid(nullptr);
            }
            if (!std::isfinite(d)) invalid(nullptr);
            if (c.Real4) {
                const auto f = static_cast<float>(d);
                if (std::isinf(f) || (f == 0.0f && d != 0.0)) invalid("out of range for real");
                AppendNumber(out, f);
                return;
            }
            if (c.Precision > 0) {
                // numeric(p, s) keeps s digits after the point and p - s before it; a negative
                // s rounds to tens, hundreds... before the point.
                const double scaled = c.Scale >= 0
                                          ? std::round(std::fabs(d) * std::pow(10.0, c.Scale))
                                          : std::round(std::fabs(d) / std::pow(10.0, -c.Scale));
                if (scaled >= std::pow(10.0, c.Precision))
                    invalid(
                        Format("out of range for numeric(%d, %d)", c.Precision, c.Scale).c_str());
            }
            AppendNumber(out, d);
            return;
        }
        case ftBoolean:
            out += v.AsBoolean() ? 't' : 'f';
            return;
        case ftDate:
        case ftTime:
        case ftDateTime:
            if (v.kind() != Variant::vkDateTime && v.kind() != Variant::vkReal) invalid(nullptr);
            out += DateTimeToIso(v.RealValue(), type != ftTime, type != ftDate);
            return;
        default:
            break;
    }
    if (IsBinaryFieldType(type)) {
        if (!v.IsText()) invalid(nullptr);
        static const char kHex[] = "0123456789abcdef";
        const std::string& bytes = v.TextValue();
        out.reserve(out.size() + 2 + bytes.size() * 2);
        out += "\\x";
        for (unsigned char b : bytes) {
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        return;
    }
    // Text of every other type.
    const std::size_t start = out.size();
    if (v.IsText()) {
        out += v.TextValue();
    } else {
        out += VarToStr(v);
    }
    AppendText(field, std::string_view(out).substr(start), nullptr);
}

void TPgTable::AppendText(std::size_t field, std::string_view text, std::string* out) const {
    const Column& c = columns_[field];
    auto invalid = [&](const std::string& why) {
        throw EDatabaseError(
            Format(msg::kInvalidFieldValue, Fields(static_cast<int>(field))->DisplayLabel()) +
            Format(" (%s)", why));
    };
    std::size_t characters = 0;
    if (!AppendCopyText(out, text, characters)) invalid("not UTF-8 text");
    if (c.Size > 0 && characters > static_cast<std::size_t>(c.Size)) {
        // The server drops trailing blanks beyond the length and refuses anything else.
        std::size_t cut = text.size();
        while (cut > 0 && text[cut - 1] == ' ' && characters > static_cast<std::size_t>(c.Size)) {
            --cut;
            --characters;
        }
        if (characters > static_cast<std::size_t>(c.Size))
            invalid(Format("longer than %d characters", c.Size));
    }
}

void TPgTable::RowToLine(const std::vector<Variant>& values, const TFieldFlags& assigned,
                         std::string& line) {
    bool first = true;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        if (!first) line += '\t';
        first = false;
        const Variant& v = values[i];
        if (columns_[i].Generated) ComputedField(i);
        if (v.IsNullOrEmpty()) {
            if (columns_[i].NotNull) RequiredField(i);
            line += "\\N";
        } else if (v.IsText() && columns_[i].Text) {
            // Text goes into the line in one pass: checked and escaped.
            AppendText(i, v.TextValue(), &line);
        } else if (v.kind() == Variant::vkInteger && columns_[i].Integer && !columns_[i].Int2) {
            AppendNumber(line, v.IntegerValue());  // any 32-bit integer fits the column
        } else if (columns_[i].Plain) {
            // Numbers, truth values and dates have nothing to escape.
            char isNull = 0;
            ValueText(i, v, line, isNull);
        } else {
            char isNull = 0;
            scratch_.clear();
            ValueText(i, v, scratch_, isNull);
            std::size_t characters = 0;
            AppendCopyText(&line, scratch_, characters);
        }
    }
    line += '\n';
}

void TPgTable::LineToText(std::string_view line, const TFieldFlags& assigned, RowText& out) {
    const std::size_t n = defs_.size();
    out.Text.resize(n);
    out.Null.assign(n, 0);
    out.Assigned = assigned;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!assigned[i]) continue;
        std::string& t = out.Text[i];
        t.clear();
        if (line.compare(pos, 2, "\\N") == 0 && (line[pos + 2] == '\t' || line[pos + 2] == '\n')) {
            out.Null[i] = 1;
            pos += 3;
            continue;
        }
        for (; line[pos] != '\t' && line[pos] != '\n'; ++pos) {
            char c = line[pos];
            if (c == '\\') {
                c = line[++pos];
                c = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
            }
            t += c;
        }
        ++pos;
    }
}

void TPgTable::ComputedField(std::size_t field) const {
    throw EDatabaseError(Format("Field '%s' is computed by the database and cannot be written",
                                Fields(static_cast<int>(field))->DisplayLabel()));
}

void TPgTable::RequiredField(std::size_t field) const {
    throw EDatabaseError(
        Format(msg::kFieldRequired, Fields(static_cast<int>(field))->DisplayLabel()));
}

void TPgTable::RowToText(const std::vector<Variant>& values, const TFieldFlags& assigned,
                         RowText& out) {
    const std::size_t n = defs_.size();
    out.Text.resize(n);
    out.Null.assign(n, 0);
    out.Assigned = assigned;
    for (std::size_t i = 0; i < n; ++i) {
        if (!assigned[i]) continue;
        if (columns_[i].Generated) ComputedField(i);
        out.Text[i].clear();
        ValueText(i, values[i], out.Text[i], out.Null[i]);
        if (out.Null[i] && columns_[i].NotNull) RequiredField(i);
    }
}

Variant TPgTable::ReadValue(std::size_t field, const char* text, int length, bool isNull) const {
    if (isNull) return Variant::Null();
    const TFieldType type = defs_[field].DataType;
    std::string_view s(text, static_cast<std::size_t>(length));
    if (IsIntegerFieldType(type)) return IntegerVariant(std::strtoll(text, nullptr, 10));
    switch (type) {
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            return Variant(std::strtod(text, nullptr));
        case ftBoolean:
            return Variant(s == "t");
        case ftDate:
        case ftTime:
        case ftDateTime: {
            // Zoned types come in UTC (the session's time zone): the offset is dropped.
            std::string t(s);
            const std::string& pgType = columns_[field].TypeName;
            if (pgType == "timestamptz" || pgType == "timetz") {
                const std::size_t colon = t.find(':');
                const std::size_t zone =
                    t.find_first_of("+-", colon == std::string::npos ? 0 : colon);
                if (colon != std::string::npos && zone != std::string::npos) t.erase(zone);
            }
            TDateTime dt;
            if (TryIsoToDateTime(t, dt)) return Variant::FromDateTime(dt);
            return Variant(std::string(s));  // infinity, BC dates: shown as they are
        }
        default:
            break;
    }
    if (IsBinaryFieldType(type) && s.size() >= 2 && s[0] == '\\' && s[1] == 'x') {
        std::string bytes;
        bytes.reserve((s.size() - 2) / 2);
        for (std::size_t i = 2; i + 1 < s.size(); i += 2)
            bytes += static_cast<char>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1]));
        return Variant(std::move(bytes));
    }
    return Variant(s);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

std::vector<TFieldDef> TPgTable::InternalOpen() {
    std::string error;
    conn_ = Connect(databaseName_, error);
    auto fail = [&](const std::string& why) {
        ReleaseConnection();
        throw EDatabaseError(Format("Cannot open table '%s': %s", tableName_, why));
    };
    if (conn_ == nullptr) fail(error);

    // The table: the one named, or the only one the search path shows.
    {
        Result r;
        if (!tableName_.empty()) {
            const std::string quoted = QuoteQualifiedName(tableName_);
            const char* p[] = {quoted.c_str()};
            r.reset(PQexecParams(conn_,
                                 "SELECT c.oid, c.oid::regclass::text, c.relkind, "
                                 "has_table_privilege(c.oid, 'INSERT'), "
                                 "current_setting('transaction_read_only') "
                                 "FROM pg_class c WHERE c.oid = to_regclass($1)",
                                 1, nullptr, p, nullptr, nullptr, 0));
        } else {
            r.reset(PQexec(conn_,
                           "SELECT c.oid, c.oid::regclass::text, c.relkind, "
                           "has_table_privilege(c.oid, 'INSERT'), "
                           "current_setting('transaction_read_only') "
                           "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                           "WHERE c.relkind IN ('r', 'p') AND pg_table_is_visible(c.oid) "
                           "AND n.nspname NOT IN ('pg_catalog', 'information_schema')"));
        }
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(ResultError(r.get(), conn_));
        if (PQntuples(r.get()) == 0) {
            fail(tableName_.empty() ? "the database has no table" : "the table does not exist");
        }
        if (PQntuples(r.get()) > 1) {
            fail(Format("the database has %d tables; name one", PQntuples(r.get())));
        }
        const std::string kind = PQgetvalue(r.get(), 0, 2);
        if (kind != "r" && kind != "p") fail("it is not a table");
        tableOid_ = PQgetvalue(r.get(), 0, 0);
        if (tableName_.empty()) tableName_ = PQgetvalue(r.get(), 0, 1);
        if (!readOnly_ && std::string(PQgetvalue(r.get(), 0, 4)) == "on")
            fail("the database is read-only");
        if (!readOnly_ && std::string(PQgetvalue(r.get(), 0, 3)) != "t")
            fail("no permission to write to it");
    }
    {
        const char* p[] = {tableOid_.c_str()};
        Result r(PQexecParams(conn_,
                              "SELECT quote_ident(n.nspname) || '.' || quote_ident(c.relname) "
                              "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                              "WHERE c.oid = $1::oid",
                              1, nullptr, p, nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1)
            fail(ResultError(r.get(), conn_));
        quotedTable_ = PQgetvalue(r.get(), 0, 0);
    }

    // The columns, with the base type of a domain.
    defs_.clear();
    columns_.clear();
    {
        const char* p[] = {tableOid_.c_str()};
        Result r(PQexecParams(
            conn_,
            "SELECT a.attname, t.typname, "
            "CASE WHEN t0.typtype = 'd' THEN t0.typtypmod ELSE a.atttypmod END, "
            "a.attnotnull, (a.atthasdef OR a.attidentity <> '' OR a.attgenerated <> ''), "
            "a.attgenerated <> '', a.attnum "
            "FROM pg_attribute a JOIN pg_type t0 ON t0.oid = a.atttypid "
            "JOIN pg_type t ON t.oid = CASE WHEN t0.typtype = 'd' THEN t0.typbasetype "
            "ELSE t0.oid END "
            "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped "
            "ORDER BY a.attnum",
            1, nullptr, p, nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(ResultError(r.get(), conn_));
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            TFieldDef def;
            Column col;
            def.Name = PQgetvalue(r.get(), i, 0);
            col.TypeName = PQgetvalue(r.get(), i, 1);
            const int typmod = std::atoi(PQgetvalue(r.get(), i, 2));
            def.DataType = FieldTypeOf(col.TypeName, typmod, def.Size);
            col.Quoted = QuoteName(def.Name);
            col.Size = def.Size;
            col.NotNull = std::string(PQgetvalue(r.get(), i, 3)) == "t";
            const bool hasDefault = std::string(PQgetvalue(r.get(), i, 4)) == "t";
            col.Generated = std::string(PQgetvalue(r.get(), i, 5)) == "t";
            col.Real4 = col.TypeName == "float4";
            col.Int2 = col.TypeName == "int2";
            col.Text = def.DataType == ftString || def.DataType == ftUnknown;
            col.Integer = IsIntegerFieldType(def.DataType);
            col.Plain = col.Integer || def.DataType == ftFloat || def.DataType == ftCurrency ||
                        def.DataType == ftBCD || def.DataType == ftBoolean ||
                        def.DataType == ftDate || def.DataType == ftTime ||
                        def.DataType == ftDateTime;
            col.Int4 = col.TypeName == "int4";
            if (col.TypeName == "numeric" && typmod >= 4) {
                col.Precision = ((typmod - 4) >> 16) & 0xFFFF;
                // The scale is a signed 11-bit number (negative: rounded before the point).
                col.Scale = (((typmod - 4) & 0x7FF) ^ 0x400) - 0x400;
            }
            def.Required = col.NotNull && !hasDefault;
            defs_.push_back(std::move(def));
            columns_.push_back(std::move(col));
        }
    }
    // The record id: a one-column integer primary key, else the physical place.
    idExpr_ = "ctid";
    idField_ = -1;
    {
        const char* p[] = {tableOid_.c_str()};
        Result r(PQexecParams(conn_,
                              "SELECT a.attname FROM pg_index i JOIN pg_attribute a "
                              "ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
                              "JOIN pg_type t ON t.oid = a.atttypid "
                              "WHERE i.indrelid = $1::oid AND i.indisprimary AND i.indnatts = 1 "
                              "AND t.typname IN ('int2', 'int4', 'int8')",
                              1, nullptr, p, nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(ResultError(r.get(), conn_));
        if (PQntuples(r.get()) == 1) {
            const std::string key = PQgetvalue(r.get(), 0, 0);
            for (std::size_t i = 0; i < defs_.size(); ++i) {
                if (defs_[i].Name == key) {
                    idField_ = static_cast<int>(i);
                    idExpr_ = columns_[i].Quoted;
                }
            }
        }
    }
    {
        Result r(PQexec(conn_, ("SELECT count(*) FROM " + quotedTable_).c_str()));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(ResultError(r.get(), conn_));
        count_ = std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
    }
    if (readOnly_) {
        Result r(PQexec(conn_, "SET default_transaction_read_only = on"));
    }
    inTransaction_ = false;
    committing_ = false;
    pendingRows_ = pendingAdded_ = pendingDeleted_ = 0;
    failure_.clear();
    DropStream();
    aliases_.clear();
    return defs_;
}

void TPgTable::DropStream() noexcept {
    copying_ = false;
    copyBuffer_.clear();
    streamEnd_ = 0;
    sendAt_ = kCopyChunkBytes;
    held_ = false;
}

void TPgTable::ReleaseConnection() noexcept {
    prepared_.clear();
    DropStream();
    inTransaction_ = false;
    committing_ = false;
    committingRows_ = committingAdded_ = committingDeleted_ = 0;
    if (conn_ != nullptr) {
        PQfinish(conn_);
        conn_ = nullptr;
    }
}

void TPgTable::InternalClose() {
    if (conn_ == nullptr) return;
    // The connection is released whatever happens; a commit that fails is reported after.
    std::string failure;
    try {
        Commit();
    } catch (const Exception& e) {
        failure = e.Message();
    }
    failure_.clear();
    ReleaseConnection();
    if (!failure.empty()) throw EDatabaseError(failure);
}

// ---------------------------------------------------------------------------------------------
// Transactions and the record stream

void TPgTable::CheckWritable() const {
    if (readOnly_) throw EDatabaseError(msg::kDataSetReadOnly);
    if (!failure_.empty()) {
        throw EDatabaseError(
            Format("Cannot post a record to table '%s': this run's write transaction failed "
                   "earlier (%s)",
                   tableName_, failure_));
    }
}

void TPgTable::BeginWrite() {
    CheckWritable();
    if (!ControlsDisabled()) {
        // Outside a stretch every write commits at once; what a stretch left open is
        // committed first.
        Commit();
        return;
    }
    if (inTransaction_) {
        if (static_cast<std::size_t>(pendingRows_) < kMaxPendingWrites) return;
        // A long stretch commits on its own before its next write, without waiting: the next
        // transaction begins with it.
        CommitAhead();
        return;
    }
    RunPlain("BEGIN", "start writing to");
    inTransaction_ = true;
    pendingRows_ = pendingAdded_ = pendingDeleted_ = 0;
}

void TPgTable::EndWrite() {
    if (inTransaction_) ++pendingRows_;
}

// Raises unless the server's transaction is still open: COMMIT of a transaction the server has
// already failed answers ROLLBACK.
void TPgTable::CheckTransaction() {
    if (PQtransactionStatus(conn_) != PQTRANS_INTRANS) {
        FailText("commit the records of", PQstatus(conn_) == CONNECTION_OK
                                              ? "the transaction was aborted by an error"
                                              : FirstLine(PQerrorMessage(conn_)));
    }
}

void TPgTable::Commit() {
    if (conn_ == nullptr || !inTransaction_) return;
    Sync();
    CheckTransaction();
    Result r(PQexec(conn_, "COMMIT"));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK ||
        std::strcmp(PQcmdStatus(r.get()), "COMMIT") != 0) {
        Fail("commit the records of", r.get());
    }
    inTransaction_ = false;
    pendingRows_ = pendingAdded_ = pendingDeleted_ = 0;
}

void TPgTable::CommitAhead() {
    Sync();
    CheckTransaction();
    // One query, so that the server begins the next transaction as soon as this one is
    // committed; a failed COMMIT skips the BEGIN.
    if (PQsendQuery(conn_, "COMMIT; BEGIN") != 1)
        FailText("commit the records of", FirstLine(PQerrorMessage(conn_)));
    committing_ = true;
    committingRows_ = pendingRows_;
    committingAdded_ = pendingAdded_;
    committingDeleted_ = pendingDeleted_;
    pendingRows_ = pendingAdded_ = pendingDeleted_ = 0;
}

void TPgTable::AwaitCommit() {
    if (!committing_) return;
    std::string failure;
    bool committed = false;
    while (PGresult* r = PQgetResult(conn_)) {
        if (failure.empty()) {
            if (PQresultStatus(r) != PGRES_COMMAND_OK) {
                failure = ResultError(r, conn_);
            } else if (!committed) {
                committed = std::strcmp(PQcmdStatus(r), "COMMIT") == 0;
                if (!committed) failure = "the transaction was aborted by an error";
            }
        }
        PQclear(r);
    }
    if (failure.empty() && PQtransactionStatus(conn_) != PQTRANS_INTRANS)
        failure = PQstatus(conn_) == CONNECTION_OK ? "the transaction was not begun"
                                                   : FirstLine(PQerrorMessage(conn_));
    if (!failure.empty()) {
        // The writes of a failed commit are lost with those posted since; a commit that went
        // through keeps its own.
        if (committed) committingRows_ = committingAdded_ = committingDeleted_ = 0;
        FailText("commit the records of", failure);
    }
    committing_ = false;
    committingRows_ = committingAdded_ = committingDeleted_ = 0;
}

void TPgTable::InternalFlush() {
    if (!failure_.empty()) {
        std::string failure = failure_;
        if (!ControlsDisabled()) failure_.clear();  // the end of the stretch reports it once
        throw EDatabaseError(failure);
    }
    Commit();
}

std::string TPgTable::ColumnList() const {
    std::string out;
    for (const Column& c : columns_) out += (out.empty() ? "" : ", ") + c.Quoted;
    return out;
}

std::string TPgTable::InsertSql(const TFieldFlags& assigned) const {
    std::string cols, params;
    int n = 0;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        cols += (n ? ", " : "") + columns_[i].Quoted;
        params += n ? ", $" : "$";
        params += std::to_string(++n);
    }
    std::string sql =
        n == 0 ? "INSERT INTO " + quotedTable_ + " DEFAULT VALUES"
               : "INSERT INTO " + quotedTable_ + " (" + cols + ") VALUES (" + params + ")";
    return sql + " RETURNING " + idExpr_;
}

void TPgTable::StartCopy(const TFieldFlags& pattern) {
    std::string cols;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i]) cols += (cols.empty() ? "" : ", ") + columns_[i].Quoted;
    }
    AwaitCommit();
    Result r(PQexec(conn_, ("COPY " + quotedTable_ + " (" + cols + ") FROM STDIN").c_str()));
    if (PQresultStatus(r.get()) != PGRES_COPY_IN) Fail("post a record to", r.get());
    copying_ = true;
}

void TPgTable::SendCopy() {
    if (streamEnd_ == 0) return;
    if (committing_ && streamEnd_ < kCommitAheadBytes) {
        // The stream waits for the commit before it while the commit is not answered yet.
        if (PQconsumeInput(conn_) == 1 && PQisBusy(conn_) == 1) {
            sendAt_ = streamEnd_ + kCopyChunkBytes;
            return;
        }
    }
    sendAt_ = kCopyChunkBytes;
    if (!copying_) StartCopy(copyPattern_);
    if (PQputCopyData(conn_, copyBuffer_.data(), static_cast<int>(streamEnd_)) != 1)
        FailText("post a record to", FirstLine(PQerrorMessage(conn_)));
    // What follows the stream (the held record) moves to the front.
    copyBuffer_.erase(0, streamEnd_);
    streamEnd_ = 0;
}

void TPgTable::EndCopy() {
    AwaitCommit();
    SendCopy();
    if (!copying_) return;
    if (PQputCopyEnd(conn_, nullptr) != 1)
        FailText("post the records to", FirstLine(PQerrorMessage(conn_)));
    copying_ = false;
    Result r(PQgetResult(conn_));
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) Fail("post the records to", r.get());
}

void TPgTable::PushHeld(std::size_t heldEnd) {
    // What follows the held record stays where it is from the end when the stream before is
    // sent (and taken out of the buffer).
    const std::size_t after = copyBuffer_.size() - heldEnd;
    // A stream of another column list is ended first.
    if ((copying_ || streamEnd_ > 0) && heldPattern_ != copyPattern_) EndCopy();
    if (!copying_ && streamEnd_ == 0) copyPattern_ = heldPattern_;
    streamEnd_ = copyBuffer_.size() - after;
    held_ = false;
    if (streamEnd_ >= sendAt_) SendCopy();
}

void TPgTable::Sync() {
    if (held_) {
        if (heldKeyKnown_) {
            // The record carries its key: it goes into the stream like the others.
            const TRecordId provisional = heldId_;
            PushHeld(copyBuffer_.size());
            EndCopy();
            Alias(provisional, heldKey_);
            return;
        }
        EndCopy();
        LineToText(copyBuffer_, heldPattern_, nextRow_);
        copyBuffer_.clear();
        std::vector<const std::string*> params;
        TFieldFlags nulls;
        for (std::size_t i = 0; i < heldPattern_.size(); ++i) {
            if (!heldPattern_[i]) continue;
            params.push_back(&nextRow_.Text[i]);
            nulls.push_back(nextRow_.Null[i]);
        }
        Result r = Run(InsertSql(heldPattern_), params, &nulls, "post a record to");
        held_ = false;
        Alias(heldId_, IdOf(PQgetvalue(r.get(), 0, 0)));
        return;
    }
    EndCopy();
}

void TPgTable::Alias(TRecordId from, TRecordId to) {
    if (from == to) return;
    for (auto& a : aliases_) {
        if (a.second == from) a.second = to;
    }
    aliases_.emplace_back(from, to);
    if (aliases_.size() > kMaxAliases) aliases_.erase(aliases_.begin());
}

TRecordId TPgTable::Resolve(TRecordId id) {
    if (held_ && id == heldId_) Sync();
    for (const auto& a : aliases_) {
        if (a.first == id) return a.second;
    }
    return id;
}

std::string TPgTable::IdText(TRecordId id) const {
    return idField_ < 0 ? TidText(id) : std::to_string(id);
}

TRecordId TPgTable::IdOf(const char* text) const {
    return idField_ < 0 ? TidToId(text) : std::strtoll(text, nullptr, 10);
}

// ---------------------------------------------------------------------------------------------
// Records

bool TPgTable::InternalSeek(TSeek how, TRecordId& id) {
    Sync();
    const std::string from = " FROM " + quotedTable_;
    const std::string sel = "SELECT " + idExpr_ + from;
    std::string sql;
    std::vector<std::string> args;
    if (idField_ >= 0) {
        switch (how) {
            case skFirst:
                sql = sel + " ORDER BY 1 LIMIT 1";
                break;
            case skLast:
                sql = sel + " ORDER BY 1 DESC LIMIT 1";
                break;
            case skNext:
                sql = sel + " WHERE " + idExpr_ + " > $1 ORDER BY 1 LIMIT 1";
                args.push_back(IdText(Resolve(id)));
                break;
            case skPrior:
                sql = sel + " WHERE " + idExpr_ + " < $1 ORDER BY 1 DESC LIMIT 1";
                args.push_back(IdText(Resolve(id)));
                break;
        }
    } else {
        // The physical order: the neighbour is looked for in a few blocks around first, which
        // a TID range scan reads without touching the rest of the table.
        const TRecordId at = how == skFirst ? 0 : how == skLast ? 0 : Resolve(id);
        const auto block = static_cast<std::int64_t>(static_cast<std::uint64_t>(at) >> 16);
        switch (how) {
            case skLast:
                sql = sel + " ORDER BY 1 DESC LIMIT 1";
                break;
            case skFirst:
            case skNext:
                sql = "(" + sel + " WHERE ctid > $1::tid AND ctid < $2::tid ORDER BY 1 LIMIT 1)" +
                      " UNION ALL (" + sel + " WHERE ctid >= $2::tid ORDER BY 1 LIMIT 1) LIMIT 1";
                args.push_back(TidText(at));
                args.push_back(BlockTid(block + kSeekWindowBlocks));
                break;
            case skPrior:
                sql = "(" + sel +
                      " WHERE ctid < $1::tid AND ctid >= $2::tid ORDER BY 1 DESC LIMIT 1)" +
                      " UNION ALL (" + sel +
                      " WHERE ctid < $2::tid ORDER BY 1 DESC LIMIT 1) LIMIT 1";
                args.push_back(TidText(at));
                args.push_back(BlockTid(block - kSeekWindowBlocks));
                break;
        }
    }
    std::vector<const std::string*> params;
    for (const std::string& a : args) params.push_back(&a);
    Result r = Run(sql, params, nullptr, "read");
    if (PQntuples(r.get()) == 0) return false;
    id = IdOf(PQgetvalue(r.get(), 0, 0));
    return true;
}

bool TPgTable::InternalRead(TRecordId id, std::vector<Variant>& values) {
    id = Resolve(id);
    Sync();
    const std::string sql = "SELECT " + ColumnList() + " FROM " + quotedTable_ + " WHERE " +
                            idExpr_ + (idField_ < 0 ? " = $1::tid" : " = $1");
    const std::string arg = IdText(id);
    Result r = Run(sql, {&arg}, nullptr, "read");
    if (PQntuples(r.get()) == 0) return false;
    values.resize(defs_.size());
    for (std::size_t i = 0; i < defs_.size(); ++i) {
        const int col = static_cast<int>(i);
        values[i] = ReadValue(i, PQgetvalue(r.get(), 0, col), PQgetlength(r.get(), 0, col),
                              PQgetisnull(r.get(), 0, col) != 0);
    }
    return true;
}

TRecordId TPgTable::InternalInsert(const std::vector<Variant>& values,
                                   const TFieldFlags& assigned) {
    BeginWrite();
    if (!inTransaction_) {
        RowToText(values, assigned, nextRow_);
        std::vector<const std::string*> params;
        TFieldFlags nulls;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            if (!assigned[i]) continue;
            params.push_back(&nextRow_.Text[i]);
            nulls.push_back(nextRow_.Null[i]);
        }
        Result r = Run(InsertSql(assigned), params, &nulls, "post a record to");
        ++count_;
        return IdOf(PQgetvalue(r.get(), 0, 0));
    }
    // In a stretch: the record is written as COPY text after the held one, which then goes
    // into the stream; this one is held. A value that fails leaves the buffer as it was.
    const std::size_t lineStart = copyBuffer_.size();
    try {
        RowToLine(values, assigned, copyBuffer_);
    } catch (...) {
        copyBuffer_.resize(lineStart);
        throw;
    }
    if (held_) PushHeld(lineStart);
    if (heldPattern_ != assigned) heldPattern_ = assigned;
    heldKeyKnown_ = false;
    if (idField_ >= 0) {
        const Variant& key = values[static_cast<std::size_t>(idField_)];
        if (assigned[static_cast<std::size_t>(idField_)] && !key.IsNullOrEmpty()) {
            heldKeyKnown_ = true;
            heldKey_ = key.kind() == Variant::vkInteger ? key.IntegerValue()
                                                        : std::llround(key.RealValue());
        }
    }
    held_ = true;
    heldId_ = kProvisionalBase + nextProvisional_++;
    ++count_;
    ++pendingAdded_;
    EndWrite();
    return heldId_;
}

void TPgTable::InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                              const TFieldFlags& assigned) {
    BeginWrite();
    RowToText(values, assigned, nextRow_);
    id = Resolve(id);
    Sync();
    std::string sets;
    std::vector<const std::string*> params;
    TFieldFlags nulls;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        params.push_back(&nextRow_.Text[i]);
        nulls.push_back(nextRow_.Null[i]);
        sets += (sets.empty() ? "" : ", ") + columns_[i].Quoted + " = $" +
                std::to_string(params.size());
    }
    if (params.empty()) return;
    const std::string arg = IdText(id);
    params.push_back(&arg);
    nulls.push_back(0);
    const std::string sql = "UPDATE " + quotedTable_ + " SET " + sets + " WHERE " + idExpr_ +
                            " = $" + std::to_string(params.size()) + (idField_ < 0 ? "::tid" : "") +
                            " RETURNING " + idExpr_;
    Result r = Run(sql, params, &nulls, "post a record to");
    // A new version has a new place (or, with the key assigned, a new key).
    if (PQntuples(r.get()) == 1) Alias(id, IdOf(PQgetvalue(r.get(), 0, 0)));
    EndWrite();
}

void TPgTable::InternalDelete(TRecordId id) {
    BeginWrite();
    id = Resolve(id);
    Sync();
    const std::string arg = IdText(id);
    Result r = Run("DELETE FROM " + quotedTable_ + " WHERE " + idExpr_ +
                       (idField_ < 0 ? " = $1::tid" : " = $1"),
                   {&arg}, nullptr, "delete a record of");
    if (std::strtoll(PQcmdTuples(r.get()), nullptr, 10) > 0) {
        --count_;
        if (inTransaction_) ++pendingDeleted_;
    }
    EndWrite();
}

bool TPgTable::InternalLocate(const std::vector<int>& fieldIndexes,
                              const std::vector<Variant>& values, TLocateOptions options,
                              TRecordId& found) {
    if (options != 0) return TDataSet::InternalLocate(fieldIndexes, values, options, found);
    // One prepared statement per key list and pattern of null keys; "=" lets an index on the
    // key columns serve it.
    std::vector<std::string> args;
    std::string where;
    for (std::size_t k = 0; k < fieldIndexes.size(); ++k) {
        const auto f = static_cast<std::size_t>(fieldIndexes[k]);
        where += k ? " AND " : "";
        if (values[k].IsNull()) {
            where += columns_[f].Quoted + " IS NULL";
            continue;
        }
        std::string text;
        char isNull = 0;
        try {
            ValueText(f, values[k], text, isNull);
        } catch (const EDatabaseError&) {
            return false;  // no stored value of the column can equal it
        }
        args.push_back(std::move(text));
        const std::string param = "$" + std::to_string(args.size());
        // Values of types this table does not know are compared as text, so that a value
        // the type would refuse matches nothing instead of failing the transaction.
        if (defs_[f].DataType == ftUnknown) {
            where += columns_[f].Quoted + "::text = " + param + "::text";
        } else {
            where += columns_[f].Quoted + " = " + param;
        }
    }
    Sync();
    std::vector<const std::string*> params;
    for (const std::string& a : args) params.push_back(&a);
    Result r = Run(
        "SELECT " + idExpr_ + " FROM " + quotedTable_ + " WHERE " + where + " ORDER BY 1 LIMIT 1",
        params, nullptr, "search");
    if (PQntuples(r.get()) == 0) return false;
    found = IdOf(PQgetvalue(r.get(), 0, 0));
    return true;
}

std::int64_t TPgTable::InternalRecNo(TRecordId id) {
    id = Resolve(id);
    Sync();
    const std::string arg = IdText(id);
    Result r = Run("SELECT count(*) FROM " + quotedTable_ + " WHERE " + idExpr_ +
                       (idField_ < 0 ? " <= $1::tid" : " <= $1"),
                   {&arg}, nullptr, "read");
    return std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

bool TPgTable::HasIndexFor(const std::string& keyFields) const {
    if (conn_ == nullptr) return false;
    std::string names = "{";
    std::size_t start = 0;
    while (start <= keyFields.size()) {
        std::size_t end = keyFields.find(';', start);
        if (end == std::string::npos) end = keyFields.size();
        std::string name = Trim(keyFields.substr(start, end - start));
        if (TField* f = FindField(name)) {
            std::string quoted = "\"";
            for (char c : f->FieldName()) {
                if (c == '"' || c == '\\') quoted += '\\';
                quoted += c;
            }
            names += (names.size() > 1 ? "," : "") + quoted + "\"";
        }
        start = end + 1;
    }
    names += "}";
    const char* p[] = {tableOid_.c_str(), names.c_str()};
    PGresult* r = PQexecParams(conn_,
                               "SELECT 1 FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                               "JOIN pg_am am ON am.oid = c.relam "
                               "JOIN pg_attribute a ON a.attrelid = i.indrelid "
                               "AND a.attnum = i.indkey[0] "
                               "WHERE i.indrelid = $1::oid AND i.indisvalid "
                               "AND am.amname IN ('btree', 'hash') AND a.attname = ANY($2::text[])",
                               2, nullptr, p, nullptr, nullptr, 0);
    const bool found = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0;
    PQclear(r);
    return found;
}

// ---------------------------------------------------------------------------------------------
// Creating a table

void TPgTable::CreateTable(const std::string& conninfo, const std::string& tableName,
                           const std::vector<TFieldDef>& fields) {
    std::string sql = "CREATE TABLE " + QuoteQualifiedName(tableName) + " (";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TFieldDef& f = fields[i];
        std::string type;
        switch (f.DataType) {
            case ftAutoInc:
                type = "integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
                break;
            case ftSmallint:
                type = "smallint";
                break;
            case ftInteger:
            case ftWord:
                type = "integer";
                break;
            case ftLargeint:
                type = "bigint";
                break;
            case ftFloat:
                type = "double precision";
                break;
            case ftCurrency:
            case ftBCD:
                type = "numeric";
                break;
            case ftBoolean:
                type = "boolean";
                break;
            case ftDate:
                type = "date";
                break;
            case ftTime:
                type = "time";
                break;
            case ftDateTime:
                type = "timestamp";
                break;
            case ftString:
            case ftFixedChar:
            case ftWideString:
                type = f.Size > 0 ? "varchar(" + std::to_string(f.Size) + ")" : "text";
                break;
            case ftMemo:
            case ftFmtMemo:
            case ftUnknown:
                type = "text";
                break;
            default:
                type = "bytea";
                break;
        }
        sql += (i ? ", " : "") + QuoteName(f.Name) + " " + type;
        if (f.Required && f.DataType != ftAutoInc) sql += " NOT NULL";
    }
    sql += ")";
    RunStatement(conninfo, tableName, sql);
}

void TPgTable::CreateTableIfMissing(const std::string& conninfo, const std::string& tableName,
                                    const std::string& columnList) {
    RunStatement(
        conninfo, tableName,
        "CREATE TABLE IF NOT EXISTS " + QuoteQualifiedName(tableName) + " (" + columnList + ")");
}

}  // namespace qel
