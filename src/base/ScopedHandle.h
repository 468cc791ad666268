#pragma once
// Close-on-scope ownership of a Windows handle (process, thread, event, mutex, file): the handle
// is closed when the owner goes out of scope, on every return path.
#include <windows.h>

class ScopedHandle {
public:
    ScopedHandle() = default;
    // Takes ownership; null and INVALID_HANDLE_VALUE both mean "no handle".
    explicit ScopedHandle(HANDLE handle) : m_handle(Normal(handle)) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : m_handle(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Gives the handle up without closing it.
    HANDLE release() {
        HANDLE h = m_handle;
        m_handle = nullptr;
        return h;
    }
    // Closes the handle held (if any) and takes the new one.
    void reset(HANDLE handle = nullptr) {
        if (m_handle) CloseHandle(m_handle);
        m_handle = Normal(handle);
    }

private:
    static HANDLE Normal(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
    HANDLE m_handle = nullptr;
};
