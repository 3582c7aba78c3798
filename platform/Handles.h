// Move-only owners for Win32 handles. Closing keeps the thread's last error, so
// a caller can still read the code of the call that failed after its handles
// have been released on the way out.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <bcrypt.h>

#include <functional>
#include <utility>

// Keeps the thread's last error across a scope: for cleanup and questions that
// run after a failed call whose code the caller is still to read.
class TLastErrorKeeper {
public:
    TLastErrorKeeper() : FError(::GetLastError()) {}
    TLastErrorKeeper(const TLastErrorKeeper&) = delete;
    TLastErrorKeeper& operator=(const TLastErrorKeeper&) = delete;
    ~TLastErrorKeeper() { ::SetLastError(FError); }

private:
    DWORD FError;
};

// Traits for handle kinds whose "no handle" value is null.
template <typename T, auto CloseFunction> struct TNullHandleTraits {
    using pointer = T;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { CloseFunction(h); }
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE, not null.
struct TFileHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};

template <typename Traits> class TUniqueHandle {
public:
    using pointer = typename Traits::pointer;

    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(pointer h) noexcept : FHandle(h) {}
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    TUniqueHandle(TUniqueHandle&& other) noexcept : FHandle(other.release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~TUniqueHandle() { reset(); }

    explicit operator bool() const noexcept { return FHandle != Traits::Invalid(); }
    pointer get() const noexcept { return FHandle; }

    pointer release() noexcept { return std::exchange(FHandle, Traits::Invalid()); }

    void reset(pointer h = Traits::Invalid()) noexcept {
        pointer old = std::exchange(FHandle, h);
        if (old != Traits::Invalid()) {
            const TLastErrorKeeper keeper;
            Traits::Close(old);
        }
    }

    // For out-parameters of creating calls: releases what is held first.
    pointer* addressof() noexcept {
        reset();
        return &FHandle;
    }

private:
    pointer FHandle = Traits::Invalid();
};

using TKernelHandle = TUniqueHandle<TNullHandleTraits<HANDLE, &::CloseHandle>>;
using TFileHandle = TUniqueHandle<TFileHandleTraits>;
using TServiceHandle = TUniqueHandle<TNullHandleTraits<SC_HANDLE, &::CloseServiceHandle>>;
using TRegKey = TUniqueHandle<TNullHandleTraits<HKEY, &::RegCloseKey>>;
using TModuleHandle = TUniqueHandle<TNullHandleTraits<HMODULE, &::FreeLibrary>>;
using TMappedView = TUniqueHandle<TNullHandleTraits<LPCVOID, &::UnmapViewOfFile>>;
using TFontHandle = TUniqueHandle<TNullHandleTraits<HFONT, &::DeleteObject>>;
using TLocalMemory = TUniqueHandle<TNullHandleTraits<HLOCAL, &::LocalFree>>;
using TVectoredHandler = TUniqueHandle<TNullHandleTraits<PVOID, &::RemoveVectoredExceptionHandler>>;
using TEnvironmentStrings = TUniqueHandle<TNullHandleTraits<LPWCH, &::FreeEnvironmentStringsW>>;

// The ownership of a mutex this thread has waited for: released once, before
// the mutex's own handle (a TKernelHandle) is closed.
struct TMutexOwnershipTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::ReleaseMutex(h); }
};
using TMutexOwnership = TUniqueHandle<TMutexOwnershipTraits>;

// FindFirstFileW reports failure with INVALID_HANDLE_VALUE; FindClose ends the search.
struct TFindHandleTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { ::FindClose(h); }
};
using TFindHandle = TUniqueHandle<TFindHandleTraits>;

// Memory of the process heap, such as a routine hands out for its caller to free.
struct TProcessHeapMemoryTraits {
    using pointer = LPVOID;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::HeapFree(::GetProcessHeap(), 0, h); }
};
using TProcessHeapMemory = TUniqueHandle<TProcessHeapMemoryTraits>;

// A certificate store, closed without forcing: contexts still held keep it alive.
struct TCertStoreTraits {
    using pointer = HCERTSTORE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::CertCloseStore(h, 0); }
};
using TCertStore = TUniqueHandle<TCertStoreTraits>;
using TCertContext =
    TUniqueHandle<TNullHandleTraits<PCCERT_CONTEXT, &::CertFreeCertificateContext>>;

// Memory of VirtualAlloc, released whole.
struct TVirtualMemoryTraits {
    using pointer = LPVOID;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::VirtualFree(h, 0, MEM_RELEASE); }
};
using TVirtualMemory = TUniqueHandle<TVirtualMemoryTraits>;

// Memory of VirtualAllocEx in another process, released whole. Leave() gives
// it up unreleased: memory a thread in that process may still read must stay.
class TRemoteMemory {
public:
    TRemoteMemory() noexcept = default;
    TRemoteMemory(HANDLE AProcess, SIZE_T ASize) noexcept
        : FProcess(AProcess), FAddress(::VirtualAllocEx(AProcess, nullptr, ASize,
                                                        MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {
    }
    TRemoteMemory(const TRemoteMemory&) = delete;
    TRemoteMemory& operator=(const TRemoteMemory&) = delete;
    TRemoteMemory(TRemoteMemory&& other) noexcept
        : FProcess(other.FProcess), FAddress(std::exchange(other.FAddress, nullptr)) {}
    TRemoteMemory& operator=(TRemoteMemory&& other) noexcept {
        if (this != &other) {
            reset();
            FProcess = other.FProcess;
            FAddress = std::exchange(other.FAddress, nullptr);
        }
        return *this;
    }
    ~TRemoteMemory() { reset(); }

    explicit operator bool() const noexcept { return FAddress != nullptr; }
    LPVOID get() const noexcept { return FAddress; }
    void Leave() noexcept { FAddress = nullptr; }
    void reset() noexcept {
        if (LPVOID address = std::exchange(FAddress, nullptr)) {
            const TLastErrorKeeper keeper;
            ::VirtualFreeEx(FProcess, address, 0, MEM_RELEASE);
        }
    }

private:
    HANDLE FProcess = nullptr;
    LPVOID FAddress = nullptr;
};

// CNG: an algorithm provider closes with a flags argument; a hash object is
// destroyed by itself.
struct TAlgorithmProviderTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using TAlgorithmProvider = TUniqueHandle<TAlgorithmProviderTraits>;
using THashObject = TUniqueHandle<TNullHandleTraits<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>>;

// A COM interface pointer, released once.
template <typename T> struct TComInterfaceTraits {
    using pointer = T*;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { h->Release(); }
};
template <typename T> using TComInterface = TUniqueHandle<TComInterfaceTraits<T>>;

// For handles whose release needs more than the handle: an entry point loaded
// at run time, a second handle, a record to hand back. The release step is
// kept with the handle; move-only, it runs once and keeps the last error.
template <typename T> class TBoundHandle {
public:
    using TRelease = std::function<void(T)>;

    TBoundHandle() noexcept = default;
    TBoundHandle(T AHandle, TRelease ARelease) : FHandle(AHandle), FRelease(std::move(ARelease)) {}
    TBoundHandle(const TBoundHandle&) = delete;
    TBoundHandle& operator=(const TBoundHandle&) = delete;
    TBoundHandle(TBoundHandle&& other) noexcept
        : FHandle(std::exchange(other.FHandle, T{})), FRelease(std::move(other.FRelease)) {}
    TBoundHandle& operator=(TBoundHandle&& other) noexcept {
        if (this != &other) {
            reset();
            FHandle = std::exchange(other.FHandle, T{});
            FRelease = std::move(other.FRelease);
        }
        return *this;
    }
    ~TBoundHandle() { reset(); }

    explicit operator bool() const noexcept { return FHandle != T{}; }
    T get() const noexcept { return FHandle; }

    void reset() noexcept {
        const T old = std::exchange(FHandle, T{});
        TRelease release = std::move(FRelease);
        FRelease = nullptr;
        if (old != T{} && release) {
            const TLastErrorKeeper keeper;
            release(old);
        }
    }

private:
    T FHandle{};
    TRelease FRelease;
};
