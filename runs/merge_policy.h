// The one rule for how wide a merge may be and what each source reads
// through, for the merges of tallomer's runs (runs/run_store) and of
// tallomer-merge's sources (runs/group_merge): the descriptors they may
// hold open, and the share of memory each open source's buffer gets.
#pragma once

#include <cstddef>
#include <cstdint>

// Descriptors kept free for the output, its folder, the console, a list
// file and the C++ runtime.
inline constexpr std::size_t DescriptorMargin = 16;
// The most descriptors counted on, whatever the limit.
inline constexpr std::size_t MostOpenFiles = 1 << 16;
// A source's buffer: a smaller one costs a read call per few records, a
// larger one gains nothing.
inline constexpr std::size_t SmallestReadBuffer = 4 << 10, LargestReadBuffer = 1 << 20;

// What RLIMIT_NOFILE (at most MostOpenFiles) leaves beside the
// descriptors open now and the margin; at least 2.
std::size_t openFilesLeft();

// Each of `readers` buffers' share of `bytes`, within the smallest and
// largest buffer.
std::size_t readBufferShare(std::int64_t bytes, std::size_t readers);
