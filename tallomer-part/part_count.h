// One part counted and written: a plain file's byte range read at its
// offsets, or a compressed file or a stream read once and counted whole,
// with the input's identity taken before and after, so that an input
// changed meanwhile gives no part.
#pragma once

#include "counting/arguments.h"
#include "counting/counting_session.h"
#include "tallomer-part/input_cuts.h"

// Counts the n-grams that start in `range` of the input into the part file
// `arguments.output`, replaced only when complete, with a progress line on
// a terminal, and prints the part's line. Throws IoError or bad_alloc.
void countPartAndWrite(const Arguments& arguments, const PartRange& range, const CountingSession& session);
