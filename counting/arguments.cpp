#include "counting/arguments.h"

#include "common/number_text.h"

ParsedArguments parseArguments(const char* mode, const char* n, const char* input, const char* output) {
    Mode chosen;
    if (mode[0] == 'c')
        chosen = Mode::Characters;
    else if (mode[0] == 'w')
        chosen = Mode::Words;
    else
        return {std::nullopt, "mode \"" + std::string(mode) +
                                  "\" must begin with c (character n-grams) or w (word n-grams)"};

    std::int64_t largest = chosen == Mode::Characters ? MaxCharacterN : MaxWordN;
    auto value = parseLeadingInteger(n);
    if (!value || *value < 1 || *value > largest)
        return {std::nullopt, "N \"" + std::string(n) + "\" must be a whole number from 1 to " +
                                  std::to_string(largest) +
                                  (chosen == Mode::Characters ? " in character mode" : " in word mode")};
    return {Arguments{chosen, static_cast<std::int32_t>(*value), input, output}, {}};
}
