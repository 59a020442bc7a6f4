#include "ngram_count_table.h"

#include <unordered_map>

#include "file_io.h"

namespace {

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Heterogeneous lookup: a window is looked up as a view, and a string is
// built only for a text seen for the first time.
std::unordered_map<std::string, std::int64_t, TextHash, std::equal_to<>> NGramCountTable;

}  // namespace

void addNGram(std::string_view text) {
    auto entry = NGramCountTable.find(text);
    if (entry != NGramCountTable.end())
        ++entry->second;
    else
        NGramCountTable.emplace(text, 1);
}

void writeCountFile(const std::string& path) {
    OutputFile file(path);
    for (const auto& [text, count] : NGramCountTable) {
        file.writeText(text);
        file.write(';');
        file.writeDecimal(count);
        file.writeLineEnd();
    }
    file.close();
}

std::int64_t distinctNGrams() { return static_cast<std::int64_t>(NGramCountTable.size()); }

void forEachNGram(const std::function<void(std::string_view, std::int64_t)>& visit) {
    for (const auto& [text, count] : NGramCountTable) visit(text, count);
}

void clearNGramCountTable() { NGramCountTable.clear(); }
