// Owners of system handles, one type per kind of "empty" value: a file or a
// device-information list is empty at INVALID_HANDLE_VALUE, an event or a
// notification registration at NULL. The types cannot be mixed up, and each
// closes its handle with the right function exactly once.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <utility>

namespace hk4 {

template <typename Traits>
class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept : handle_(Traits::Empty()) {}
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Empty(); }
    Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }
    void reset(Handle handle = Traits::Empty()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty() && old != handle) Traits::Close(old);
    }

  private:
    Handle handle_;
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct EventHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct DeviceInfoListTraits {
    using Handle = HDEVINFO;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { SetupDiDestroyDeviceInfoList(h); }
};

struct DeviceNotifyTraits {
    using Handle = HDEVNOTIFY;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { UnregisterDeviceNotification(h); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueEvent = UniqueHandle<EventHandleTraits>;
using UniqueDeviceInfoList = UniqueHandle<DeviceInfoListTraits>;
using UniqueDeviceNotify = UniqueHandle<DeviceNotifyTraits>;

}  // namespace hk4
