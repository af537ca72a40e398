#include "support/TestSupport.h"

// Under the sanitizers, an allocation that cannot be had must fail the way it
// does in the product (a null result or std::bad_alloc), not end the program.
// (Visible, so that the sanitizer runtime finds them.)
#define SANITIZER_OPTIONS extern "C" __attribute__((visibility("default"))) const char*
SANITIZER_OPTIONS __asan_default_options() { return "allocator_may_return_null=1"; }
SANITIZER_OPTIONS __tsan_default_options() { return "allocator_may_return_null=1:halt_on_error=1"; }
SANITIZER_OPTIONS __ubsan_default_options() { return "print_stacktrace=1"; }

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    lftest::PrepareProcess();
    int result = RUN_ALL_TESTS();
    lftest::CleanUpProcess();
    return result;
}
