// Jobs: the steps of an exchange with the controller written as they read (send, wait for
// the reply, take it), yet run by the event loop. A step is a coroutine returning Task<T>;
// where it waits (`co_await`), it returns to the event loop, and it goes on when what it
// waits for comes: a reply, some bytes, the end of a time. Nothing waits by processing
// events inside itself.
//
//   Task<T>    a step with a result, started when awaited; owns its frame
//   Detached   a step that runs by itself from its Start; ends and frees itself
//   Suspended  a step parked until something resumes it (the line's waits use it)
//
// One thread: steps run only from the event loop, never at the same time.
#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace job {

namespace detail {

// The end of a step resumes the step that awaited it.
struct Resumer {
    bool await_ready() const noexcept { return false; }
    template <class Promise>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> ended) noexcept {
        const std::coroutine_handle<> next = ended.promise().continuation;
        return next ? next : std::noop_coroutine();
    }
    void await_resume() const noexcept {}
};

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::suspend_always initial_suspend() const noexcept { return {}; }
    Resumer final_suspend() const noexcept { return {}; }
    // The program builds without exceptions in its steps; one that escapes is a fault.
    void unhandled_exception() const noexcept { std::terminate(); }
};

} // namespace detail

template <class T = void> class [[nodiscard]] Task {
  public:
    struct promise_type : detail::PromiseBase {
        std::optional<T> result;
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        void return_value(T value) { result = std::move(value); }
    };

    Task() = default;
    Task(Task &&other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task &operator=(Task &&other) noexcept {
        Reset();
        handle_ = std::exchange(other.handle_, {});
        return *this;
    }
    ~Task() { Reset(); }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
        return handle_;
    }
    T await_resume() { return std::move(*handle_.promise().result); }

  private:
    explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    void Reset() {
        if (handle_)
            handle_.destroy();
        handle_ = {};
    }
    std::coroutine_handle<promise_type> handle_;
};

template <> class [[nodiscard]] Task<void> {
  public:
    struct promise_type : detail::PromiseBase {
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        void return_void() const noexcept {}
    };

    Task() = default;
    Task(Task &&other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task &operator=(Task &&other) noexcept {
        Reset();
        handle_ = std::exchange(other.handle_, {});
        return *this;
    }
    ~Task() { Reset(); }
    explicit operator bool() const { return static_cast<bool>(handle_); }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
        handle_.promise().continuation = awaiting;
        return handle_;
    }
    void await_resume() const noexcept {}

  private:
    explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    void Reset() {
        if (handle_)
            handle_.destroy();
        handle_ = {};
    }
    std::coroutine_handle<promise_type> handle_;
};

// A step that nobody awaits: started by Start, it runs until its first wait and goes on
// from the event loop; its frame is freed when it ends. Whoever holds it may end it early
// with Destroy while it waits.
class Detached {
  public:
    struct promise_type {
        Detached get_return_object() {
            return Detached(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() const noexcept { return {}; }
        std::suspend_never final_suspend() const noexcept { return {}; }
        void return_void() const noexcept {}
        void unhandled_exception() const noexcept { std::terminate(); }
    };

    Detached() = default;
    void Start() { handle_.resume(); }
    // Only while it waits: a step that ended has freed itself.
    void Destroy() { handle_.destroy(); }

  private:
    explicit Detached(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    std::coroutine_handle<promise_type> handle_;
};

// Where a step is parked: the step that awaits it is resumed by Resume, at most once.
class Suspended {
  public:
    bool Waiting() const { return static_cast<bool>(handle_); }
    void Park(std::coroutine_handle<> handle) { handle_ = handle; }
    // Resumes the parked step, which runs until its next wait or its end.
    void Resume() {
        if (std::coroutine_handle<> handle = std::exchange(handle_, {}))
            handle.resume();
    }
    void Forget() { handle_ = {}; }

  private:
    std::coroutine_handle<> handle_;
};

} // namespace job
