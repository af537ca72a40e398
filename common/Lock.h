#pragma once

// A non-recursive lock: a critical section on Windows, a mutex elsewhere.
// The native object lives in opaque storage so that this header does not
// pull the platform's headers into every user.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Enter();
    void Leave();
    // Takes the lock only if it is free at once; never waits.
    bool TryEnter();

private:
    alignas(void*) unsigned char storage[64];
};

// Holds a Lock for the lifetime of a scope.
class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock(lock) { lock.Enter(); }
    ~LockGuard() { lock.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock;
};
