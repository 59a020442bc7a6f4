#include "counting/counting_session.h"

#include "common/cpu_count.h"
#include "common/replacement_file.h"

CountingSession::CountingSession() : limits_(currentMemoryLimits()), cpus_(usableCpus()) {
    shareAllocatorArenas(limits_);
    budget_ = budgetWithin(limits_);
}

MemoryCheck CountingSession::checkMemoryFor(const std::string& input) const {
    return memoryCheckWithin(limits_, budget_, input);
}

NGramCountTable CountingSession::table(const std::string& output, const std::string& temporaryFolder) const {
    ReplacementFile::checkCanBeMade(output);
    return NGramCountTable({.budget = budget_, .temporaryFolder = temporaryFolder, .threads = cpus_});
}
