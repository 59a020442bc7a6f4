#include "entropy_report.h"

int main(int argc, char** argv) { return runEntropy(argc, argv); }
