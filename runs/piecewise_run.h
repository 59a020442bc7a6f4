// A sorted run written by several threads at once: the list comes in
// consecutive pieces, each encoded by whichever thread is free into a
// buffer of its own, and the encoded pieces are appended to the run in
// order, so that only the copy into the run is done one piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/count_source.h"
#include "runs/run_storage.h"

// A sorted list of distinct texts in consecutive pieces, each read by a
// reader of its own: every text of a piece follows those of the piece
// before (a piece may be empty).
class PiecewiseSource {
public:
    virtual ~PiecewiseSource() = default;
    virtual std::size_t pieces() const = 0;
    virtual std::unique_ptr<CountSource> piece(std::size_t index) const = 0;
    // A bound on the bytes of the piece in a run.
    virtual std::int64_t largestPieceBytes(std::size_t index) const = 0;
};

// A bound on the bytes of the whole list in a run, added up on `threads`.
std::int64_t largestRunBytes(const PiecewiseSource& source, int threads);

// Appends every piece of `source` to `run`, in order, encoded on up to
// `threads` threads. Each thread holds the encoding of one piece at a time.
// The run's checkpoints are placed as RunWriter places them, give or take
// where a piece begins.
void writePieces(Run& run, const PiecewiseSource& source, int threads);
