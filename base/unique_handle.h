#pragma once
// Move-only owner of a Win32 handle: whatever path leaves a scope closes what it opened.
// A traits type names the handle type, its "empty" value and how it is closed.

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() : handle(Traits::Invalid()) {}
    explicit UniqueHandle(Type h) : handle(h) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const { return handle; }
    bool Valid() const { return handle != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    void Reset(Type h = Traits::Invalid()) {
        if (Valid()) Traits::Close(handle);
        handle = h;
    }
    Type Release() {
        Type h = handle;
        handle = Traits::Invalid();
        return h;
    }
    // For out-parameters: closes the current handle and hands out the slot.
    Type* Put() {
        Reset();
        return &handle;
    }

private:
    Type handle;
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

// Process, thread and snapshot handles use null as "none".
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueSnapshot = UniqueHandle<FileHandleTraits>;  // Tool Help also fails with INVALID_HANDLE_VALUE
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
