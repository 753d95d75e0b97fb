// The reading of a decimal argument that both programs share.
#include "common/common.h"

#include <gtest/gtest.h>

namespace {

TEST(DecimalNumber, ReadsTheStartAndHoldsTo32Bits) {
    struct {
        const char* text;
        int32_t number;
    } cases[] = {
        {nullptr, 0},
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {" -34", -34},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483649", INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decimal_int32(c.text), c.number) << (c.text ? c.text : "(null)");
    }
}

} // namespace
