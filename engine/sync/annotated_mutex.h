// Mutexes that clang's thread-safety analysis (-Wthread-safety) follows.
// Declare shared data GUARDED_BY(itsMutex) and functions that expect a lock
// held REQUIRES(itsMutex); the analysis then reports every touch of the data
// without the lock. Other compilers see plain mutexes and no attributes.
//
// AnnotatedMutex wraps a native mutex (std::mutex, or boost::mutex where the
// engine's threads are Boost's); AnnotatedLock holds one for a scope.
#pragma once

#if defined(__clang__)
#define NASSCOUT_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define NASSCOUT_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) NASSCOUT_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY NASSCOUT_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) NASSCOUT_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) NASSCOUT_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) NASSCOUT_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) NASSCOUT_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) NASSCOUT_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) NASSCOUT_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) NASSCOUT_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) NASSCOUT_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) NASSCOUT_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) NASSCOUT_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS NASSCOUT_THREAD_ANNOTATION(no_thread_safety_analysis)

template <class Native>
class CAPABILITY("mutex") AnnotatedMutex {
public:
    AnnotatedMutex() = default;
    AnnotatedMutex(const AnnotatedMutex&) = delete;
    AnnotatedMutex& operator=(const AnnotatedMutex&) = delete;

    void lock() ACQUIRE() { native_.lock(); }
    void unlock() RELEASE() { native_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return native_.try_lock(); }

    // For a condition variable, which waits on the native mutex; the caller
    // holds this mutex around the wait, as the analysis sees it.
    Native& native() { return native_; }

private:
    Native native_;
};

template <class Mutex>
class SCOPED_CAPABILITY AnnotatedLock {
public:
    explicit AnnotatedLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~AnnotatedLock() RELEASE() { mutex_.unlock(); }
    AnnotatedLock(const AnnotatedLock&) = delete;
    AnnotatedLock& operator=(const AnnotatedLock&) = delete;

private:
    Mutex& mutex_;
};
