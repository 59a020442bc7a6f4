// Console conventions the three programs share: the usage block for a wrong
// argument count, and the closing pause.
#pragma once

#include <iostream>
#include <string_view>

// The note on the input's encoding is for programs that read text; a
// program that reads only part files leaves it out.
inline void printUsageBlock(std::string_view synopsis, bool readsText = true) {
    std::cout << "Wrong Arguments." << std::endl << "Usage:" << std::endl << synopsis << std::endl;
    if (readsText) std::cout << "Input file needs to be one byte encoded ISO8592" << std::endl;
}

// The closing pause keeps a console window open until a number is typed;
// end of input, closed input or a non-number ends it as well.
inline void waitForNumber() {
    long long ignored;
    std::cin >> ignored;
}
