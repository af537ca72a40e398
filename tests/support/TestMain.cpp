#include "support/TestSupport.h"

// Under the sanitizers, an allocation that cannot be had must fail the way it
// does in the product (a null result or std::bad_alloc), not end the program.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1:halt_on_error=1"; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    lftest::PrepareProcess();
    int result = RUN_ALL_TESTS();
    lftest::CleanUpProcess();
    return result;
}
