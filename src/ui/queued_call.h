// Calls queued to the window thread from another thread.
#pragma once
#include <QMetaObject>
#include <QObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#define TWPRINTER_RACE_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TWPRINTER_RACE_CHECKED 1
#endif
#endif
#ifdef TWPRINTER_RACE_CHECKED
#include <sanitizer/tsan_interface.h>
#endif

namespace ui {

// Qt's event queue hands a queued call over under a lock of its own, which a race
// checker cannot see in a Qt not built for it; the hand-over is announced to the
// checker here (one address: the window thread takes calls in the order posted).
inline char gQueuedCallHandOver;
inline void HandOverPosted() {
#ifdef TWPRINTER_RACE_CHECKED
    __tsan_release(&gQueuedCallHandOver);
#endif
}
inline void HandOverTaken() {
#ifdef TWPRINTER_RACE_CHECKED
    __tsan_acquire(&gQueuedCallHandOver);
#endif
}

template <class F> struct QueuedCall {
    explicit QueuedCall(F fn) : f(std::move(fn)) {}
    // Qt moves the call into the block it queues; what was written to that block
    // up to here is handed over.
    QueuedCall(QueuedCall&& other) noexcept : f(std::move(other.f)) { HandOverPosted(); }
    QueuedCall(const QueuedCall&) = delete;
    QueuedCall& operator=(const QueuedCall&) = delete;
    QueuedCall& operator=(QueuedCall&&) = delete;
    F f;
    void operator()() {
        HandOverTaken();
        f();
    }
    // A call dropped unrun (its receiver went first) is freed on the window thread.
    ~QueuedCall() { HandOverTaken(); }
};

// Runs f on target's thread, later.
template <class F> void PostQueued(QObject* target, F f) {
    QMetaObject::invokeMethod(target, QueuedCall<F>(std::move(f)), Qt::QueuedConnection);
}

} // namespace ui
