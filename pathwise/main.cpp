#include "pathwise/driver.h"

int main(int argc, char** argv) { return pathwise_main(argc, argv); }
