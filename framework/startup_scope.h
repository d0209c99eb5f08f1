// StartupScope: the start-up and shut-down of a layer as one object, for
// program entries and test mains. Made, it runs the layer's start-up;
// going (in reverse order of making, as C++ destroys locals), its shut-down.
//
//   using CommsBaseStartup = StartupScope<&InitializeCommsBase, &FinalizeCommsBase>;
//   CommsBaseStartup base;     // then the layers that use it
#pragma once

namespace qv {

template <void (*Start)(), void (*Stop)()>
class StartupScope {
public:
    StartupScope() { Start(); }
    ~StartupScope() { Stop(); }
    StartupScope(const StartupScope&) = delete;
    StartupScope& operator=(const StartupScope&) = delete;
};

}  // namespace qv
