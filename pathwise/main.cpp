#include "pathwise/driver.h"
#include "pathwise/result_codes.h"
#include "selfcheck/selfcheck.h"

SELFCHECK_GUARD_FROM_START(PW_INTEGRITY_REFUSAL);

int main(int argc, char** argv) {
    return pathwise_main(argc, argv);
}
