// Small move-only owners for Win32 resources: a handle (null and INVALID_HANDLE_VALUE
// both mean none) and a loaded module. Locks are the standard library's.
#pragma once

#include <windows.h>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr) {
        if (Valid()) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

class UniqueModule {
public:
    UniqueModule() = default;
    explicit UniqueModule(HMODULE module) : module_(module) {}
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;
    UniqueModule(UniqueModule&& other) noexcept : module_(other.Release()) {}
    UniqueModule& operator=(UniqueModule&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueModule() { Reset(); }

    explicit operator bool() const { return module_ != nullptr; }
    HMODULE Get() const { return module_; }
    HMODULE Release() {
        HMODULE module = module_;
        module_ = nullptr;
        return module;
    }
    void Reset(HMODULE module = nullptr) {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
        module_ = module;
    }
    // Typed export lookup; null when the module lacks it.
    template <typename Fn>
    Fn Find(const char* name) const {
        return module_
                   ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
                   : nullptr;
    }

private:
    HMODULE module_ = nullptr;
};
