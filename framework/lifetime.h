// Deferred destruction: the one way an object that can be asked to go away
// while its own code is on the stack goes away.
//
// Handlers may close a port from its error event, free a packet from its
// own packet event, or close the dispatcher that is delivering to them. The
// object whose code called the handler is then still running further up
// the stack. Such an object derives from Lifetime and:
//
//  - takes a Use (a scope guard) around every call that can reach user code
//    (events, handlers, window messages it sends, anything that can run a
//    nested message loop), and around every stretch of code that touches the
//    object after such a call;
//  - is asked to go with Retire() (components: Free, see component.h),
//    which sets the closing flag (Retiring) and runs the endgame at once
//    when no use is held, otherwise when the last use ends;
//  - does in Endgame() whatever going away means for it: free itself
//    (`delete this`, the last thing it does), or release what it holds and
//    tell its owner.
//
//   void Dispatcher::Poll() {
//       Lifetime::Use use(*this);
//       ReadDevice();
//       Deliver();       // a handler may call d->Retire(): nothing happens yet
//       if (Retiring()) return;
//       RunTimers();
//   }                    // the last use ends: the endgame runs here
//
// A use is strictly scoped (uses nest on one thread; no locks: everything
// runs on the thread that owns the object). Code that holds no use must not
// touch the object after a call that can reach user code.
//
// A plain `delete` cannot be deferred. When one happens anyway while uses
// are held (a handler deleting its sender), the object's destructor marks
// them: Use::Alive() is then false, and the code holding the use must leave
// without touching the object; the use itself then touches nothing.
#pragma once

namespace qv {

class Lifetime {
public:
    class Use {
    public:
        // The object keeps the address of this (stack) use until the use
        // ends; the compiler cannot see that a use outlived by a plain
        // delete (Alive() false) has nothing left to unlink.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
        explicit Use(Lifetime& object) noexcept : object_(&object), outer_(object.innermost_) {
            object.innermost_ = this;
        }
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif
        ~Use() {
            Lifetime* object = object_;
            if (!object) return;  // destroyed meanwhile (see above)
            object->innermost_ = outer_;
            if (!outer_ && object->retiring_ && !object->ended_) object->RunEndgame();
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

        // False once the object has been destroyed by a plain delete while
        // this use was held.
        bool Alive() const noexcept { return object_ != nullptr; }

    private:
        friend class Lifetime;
        Lifetime* object_;
        Use* outer_;
    };

    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    // Some use is held: code of the object is on the stack.
    bool InUse() const noexcept { return innermost_ != nullptr; }
    // Retire() has been called (the closing flag).
    bool Retiring() const noexcept { return retiring_; }
    // The endgame has run (or is running).
    bool Ended() const noexcept { return ended_; }

    // Asks the object to go: the endgame runs now when no use is held,
    // otherwise when the last use ends. Only the first call counts. The
    // caller must not touch the object afterwards unless it holds a use.
    void Retire() {
        if (retiring_) return;
        retiring_ = true;
        if (!innermost_) RunEndgame();
    }

protected:
    Lifetime() = default;
    virtual ~Lifetime() {
        for (Use* use = innermost_; use; use = use->outer_) use->object_ = nullptr;
    }

    // Runs once, with no use held. May free the object (as its last act).
    virtual void Endgame() = 0;

private:
    void RunEndgame() {
        ended_ = true;
        Endgame();
    }

    Use* innermost_ = nullptr;
    bool retiring_ = false;
    bool ended_ = false;
};

}  // namespace qv
