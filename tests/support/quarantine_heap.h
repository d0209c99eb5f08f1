// The quarantine heap of the Windows test programs (see its source): the
// global operator new and delete stop the program on a block deleted twice,
// and objects made while a GuardedAllocations scope is open fault when they
// are used after being deleted.
#pragma once

namespace qv::test {

// While one is alive, every new block gets pages of its own that become
// inaccessible when it is deleted. Open it around making the objects whose
// lifetime a test is about (each such block costs a page or more).
class GuardedAllocations {
public:
    GuardedAllocations();
    ~GuardedAllocations();
    GuardedAllocations(const GuardedAllocations&) = delete;
    GuardedAllocations& operator=(const GuardedAllocations&) = delete;
};

}  // namespace qv::test
