#pragma once

// Runs work. If a failure leaves it, cleanup runs first and the failure then
// passes on to the caller unchanged. A failure is a C++ exception of this
// library's compiler and, in the 32-bit Windows build, also a structured
// exception, which is how code built by Microsoft's compiler (the game)
// raises its C++ exceptions; this compiler's catch never sees those. A
// failure that work catches itself is none.
void RunWithCleanup(void (*work)(void* context), void (*cleanup)(void* context), void* context);

template <class Work, class Cleanup>
void RunWithCleanup(Work work, Cleanup cleanup)
{
    struct Both {
        Work& work;
        Cleanup& cleanup;
    } both{work, cleanup};
    RunWithCleanup([](void* context) { static_cast<Both*>(context)->work(); },
                   [](void* context) { static_cast<Both*>(context)->cleanup(); }, &both);
}
