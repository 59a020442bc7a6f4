// distribution's histogram: the entries of a count file put into
// buckets of their count divided by the bucket size, and the histogram file
// of how many entries each bucket holds.
//
// Histogram file: one line per non-empty bucket, "index;number" and CR LF,
// in ascending order of the (signed) index.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The bucket size argument, read as atoi reads it; nothing when it is 0
// (also what a text without digits gives) or does not fit in 64 bits.
std::optional<std::int64_t> parseBucketSize(const char* text);

// Adds one entry to the bucket of that index in BucketCountTable.
void countBucket(std::int64_t index);

// Counts every entry of the count file in the bucket of count / bucketSize
// (truncated toward zero). Throws IoError naming the path when the file
// cannot be read or a count or a bucket index does not fit in 64 bits.
void bucketCounts(const std::string& path, std::int64_t bucketSize);

// Writes BucketCountTable to the path, in ascending order of index; the old
// file there stays until the new one is complete. Throws IoError on any
// failure to create, write or close it.
void writeHistogramFile(const std::string& path);

// What the tests see of the table.
void forEachBucket(const std::function<void(std::int64_t index, std::int64_t number)>& visit);
void clearBucketCountTable();
