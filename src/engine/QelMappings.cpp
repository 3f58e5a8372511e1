// Mapping lines ("destination=source") and DatasetKeys into the run tables MappingEntries and
// KeyEntries.
#include <string_view>

#include "core/TextUtil.h"
#include "engine/QelBase.h"

namespace qel {

namespace {

// The destination text of a line: everything before its first "=", empty without one.
std::string_view DestinationOf(std::string_view line) {
    std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view{} : line.substr(0, eq);
}

// The source text for a destination: what follows the first "=" of the first line (that has
// one) whose destination text equals `destination` without regard to letter case; trimmed.
std::string SourceFor(const TQelStrings& lines, std::string_view destination) {
    for (const std::string& line : lines) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (SameText(std::string_view(line).substr(0, eq), destination)) {
            return Trim(std::string_view(line).substr(eq + 1));
        }
    }
    return {};
}

Variant Entry(std::string name, std::string source) {
    return Variant(Variant::Array{Variant(std::move(name)), Variant(std::move(source)), Variant(),
                                  Variant(std::int32_t{-1})});
}

}  // namespace

void TQelBaseComponent::PrepareMappings() {
    entriesPending_ = false;  // the entries are built afresh
    const bool shortNames = ShortSourceNames();
    auto shorten = [shortNames](std::string source) {
        return shortNames && source.size() > 10 ? Trim(std::string_view(source).substr(0, 10))
                                                : source;
    };

    // Key entries: one per key name that some mapping line names.
    keyEntries_ = Variant();
    Variant::Array keys;
    if (!datasetKeys_.empty() && ModeUsesKeys(mode_)) {
        const std::string names = UpperCase(datasetKeys_) + ";";
        std::size_t start = 0;
        for (std::size_t semi = names.find(';'); semi != std::string::npos;
             semi = names.find(';', start)) {
            const std::string key = names.substr(start, semi - start);  // not trimmed
            start = semi + 1;
            for (const std::string& line : mappings_) {
                const std::string_view destination = DestinationOf(line);
                if (UpperCase(Trim(destination)) != key) continue;
                keys.push_back(Entry(key, shorten(SourceFor(mappings_, destination))));
                break;
            }
        }
    }
    if (!keys.empty()) keyEntries_ = Variant(std::move(keys));

    // Mapping entries: one per line with a usable source, in line order.
    mappingEntries_ = Variant();
    Variant::Array entries;
    for (const std::string& line : mappings_) {
        const std::string_view destination = DestinationOf(line);
        std::string source = SourceFor(mappings_, destination);
        if (source.empty()) continue;
        entries.push_back(Entry(UpperCase(Trim(destination)), shorten(std::move(source))));
    }
    if (!entries.empty()) mappingEntries_ = Variant(std::move(entries));
}

}  // namespace qel
