#include "counter_driver.h"

int main(int argc, char** argv) { return runTallomer(argc, argv); }
