#include "histogram.h"

int main(int argc, char** argv) { return runDistribution(argc, argv); }
