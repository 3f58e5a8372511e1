// What the value evaluation keeps for the length of a row loop (shared by the evaluation and
// the ahead evaluation, which reads which names the run's texts are).
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Variant.h"
#include "engine/QelConvert.h"
#include "expr/QelPars.h"

namespace qel {

// A parser of the run at one position of the row's evaluations.
struct TQelEvalSlot {
    const std::string* text = nullptr;
    TQelParser* parser = nullptr;
    // The name the text consists of when it is one plain name, and the decimal separator
    // that parse was made with: such a text is evaluated by handing the name to
    // ResolveSourceName, which is all its tree would do.
    const std::string* plainName = nullptr;
    char separator = 0;
    // The source's handle for the plain name (brackets or quotes taken off), -1 for none.
    int binding = -1;
};

// What the value evaluation keeps for the length of a row loop: one parser per distinct
// expression text (a parser keeps the tree of its text, so a text is parsed once per run),
// the conversion plans of the destination fields, and the load conditions as values.
struct TQelEvalState {
    // Parsers beyond this many distinct texts are not kept (texts that a handler changes at
    // every row): such evaluations use a parser of their own.
    static constexpr std::size_t kMaxParsers = 4096;

    std::unordered_map<std::string, std::unique_ptr<TQelParser>> parsers;
    // The parsers in the order a row asked for them, so that the next row finds each one by
    // its position instead of by a search.
    std::vector<TQelEvalSlot> slots;
    std::size_t cursor = 0;
    TQelConversionCache conversions;
    // The values GetSourceValue fills, one per nesting level of ResolveSourceName (a deque, so
    // a nested level does not move the outer one's), reused so that their buffers are.
    std::deque<Variant> sourceValues;
    std::size_t sourceDepth = 0;
};

}  // namespace qel
