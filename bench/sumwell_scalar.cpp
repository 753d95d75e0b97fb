// sumwell with the scalar compression kernel forced, to measure that kernel alone through the
// whole program; the program itself always takes the automatic choice.
#include <cstdio>

#include "md5/md5_dispatch.h"

int sumwell_main(int argc, char** argv);

int main(int argc, char** argv) {
    if (md5_force_kernel(MD5_SINGLE_STREAM, "scalar") != 0) {
        std::fprintf(stderr, "Error! no scalar kernel\n");
        return 1;
    }
    return sumwell_main(argc, argv);
}
