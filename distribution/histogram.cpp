#include "distribution/histogram.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/file_io.h"
#include "common/number_text.h"
#include "common/output_file.h"
#include "formats/count_file_reader.h"

namespace {

// Buckets are few, so a plain hash map costs nothing worth measuring.
std::unordered_map<std::int64_t, std::int64_t> BucketCountTable;

}  // namespace

std::optional<std::int64_t> parseBucketSize(const char* text) {
    auto size = parseLeadingInteger(text);
    if (!size || *size == 0) return std::nullopt;
    return size;
}

void countBucket(std::int64_t index) { ++BucketCountTable[index]; }

void bucketCounts(const std::string& path, std::int64_t bucketSize) {
    forEachCountInFile(path, [&](std::int64_t count) {
        // The one quotient that leaves 64 bits.
        if (bucketSize == -1 && count == INT64_MIN)
            throw IoError(path, "the count " + std::to_string(count) +
                                    " divided by the bucket size -1 does not fit in 64 bits");
        countBucket(count / bucketSize);
    });
}

void writeHistogramFile(const std::string& path) {
    // In index order, so that the same count file and bucket size always
    // give the same bytes; buckets are few, so the sort costs nothing.
    std::vector<std::pair<std::int64_t, std::int64_t>> buckets(BucketCountTable.begin(),
                                                               BucketCountTable.end());
    std::sort(buckets.begin(), buckets.end());
    OutputFile file(path);
    for (const auto& [index, number] : buckets) {
        file.writeDecimal(index);
        file.write(';');
        file.writeDecimal(number);
        file.writeLineEnd();
    }
    file.close();
}

void forEachBucket(const std::function<void(std::int64_t, std::int64_t)>& visit) {
    for (const auto& [index, number] : BucketCountTable) visit(index, number);
}

void clearBucketCountTable() { BucketCountTable.clear(); }
