#include "counting/counting_session.h"

#include "common/cpu_count.h"
#include "common/replacement_file.h"

CountingSession::CountingSession(const std::string& input) : limits_(currentMemoryLimits()) {
    shareAllocatorArenas(limits_);
    budget_ = budgetWithin(limits_);
    checkMemory_ = memoryCheckWithin(limits_, budget_, input);
}

NGramCountTable CountingSession::table(const std::string& output, const std::string& temporaryFolder) const {
    ReplacementFile::checkCanBeMade(output);
    return NGramCountTable({.budget = budget_, .temporaryFolder = temporaryFolder, .threads = usableCpus()});
}
