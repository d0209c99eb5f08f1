// OwnedHandle: the one owner type of a handle that must be closed (a file,
// a socket). Handles live in owners; the plain handle values that Get()
// lends are borrowed and never closed by whoever holds them.
//
// Move-only, so no path can close a handle twice or leak it: the owner
// closes it when it goes, or early with Close, which returns what the close
// says (a file just written must hear whether its close failed). The Closer
// says what "invalid" is and how to close; it may carry state (the
// component a socket closes through).
//
//   struct FileCloser {
//       using Handle = HANDLE;
//       using Result = DWORD;
//       static Handle Invalid() { return INVALID_HANDLE_VALUE; }
//       Result Close(Handle h) const;   // 0, or the error
//   };
//   using OwnedFile = OwnedHandle<FileCloser>;
#pragma once

#include <utility>

namespace qv {

template <class Closer>
class OwnedHandle {
public:
    using Handle = typename Closer::Handle;
    using Result = typename Closer::Result;

    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle, Closer closer = Closer()) : closer_(std::move(closer)), handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : closer_(other.closer_), handle_(other.Release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            Close();
            closer_ = other.closer_;
            handle_ = other.Release();
        }
        return *this;
    }
    ~OwnedHandle() {
        try {
            Close();
        } catch (...) {
            // A destructor lets nothing through (a failed close is the
            // closer's to report).
        }
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    Handle Get() const { return handle_; }
    bool Valid() const { return handle_ != Closer::Invalid(); }
    explicit operator bool() const { return Valid(); }
    // Closes now; when there is nothing to close, the default result.
    Result Close() {
        Handle h = Release();
        return h == Closer::Invalid() ? Result() : closer_.Close(h);
    }
    // Gives the handle up without closing it.
    Handle Release() { return std::exchange(handle_, Closer::Invalid()); }

private:
    Closer closer_{};
    Handle handle_ = Closer::Invalid();
};

}  // namespace qv
