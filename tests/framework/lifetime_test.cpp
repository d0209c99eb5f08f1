// Deferred destruction: the endgame runs once, when no use is held; a use
// outlives a plain delete without touching the object; components freed
// from inside their own uses stay whole until the last use ends.
#include "framework/lifetime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/component.h"

namespace qv {
namespace {

// Records its endgame; frees itself there when asked to.
struct Tracked : Lifetime {
    explicit Tracked(std::vector<std::string>& log, bool freeInEndgame = false)
        : log(log), freeInEndgame(freeInEndgame) {}
    ~Tracked() override { log.push_back("destroyed"); }
    void Endgame() override {
        log.push_back("endgame");
        if (freeInEndgame) delete this;
    }
    std::vector<std::string>& log;
    bool freeInEndgame;
};

TEST(Lifetime, EndgameRunsOnceWhenTheLastUseEnds) {
    std::vector<std::string> log;
    Tracked t(log);
    {
        Lifetime::Use outer(t);
        {
            Lifetime::Use inner(t);
            t.Retire();
            t.Retire();  // only the first counts
            EXPECT_TRUE(t.Retiring());
            EXPECT_TRUE(t.InUse());
        }
        EXPECT_TRUE(log.empty());  // the outer use still holds it
        EXPECT_FALSE(t.Ended());
    }
    EXPECT_EQ(log, std::vector<std::string>{"endgame"});
    EXPECT_TRUE(t.Ended());
    EXPECT_FALSE(t.InUse());
    { Lifetime::Use later(t); }  // a use after the endgame runs nothing again
    EXPECT_EQ(log.size(), 1u);
}

TEST(Lifetime, RetiredWhileUnusedEndsAtOnce) {
    std::vector<std::string> log;
    Tracked t(log);
    t.Retire();
    EXPECT_EQ(log, std::vector<std::string>{"endgame"});
}

TEST(Lifetime, EndgameThatFreesTheObject) {
    std::vector<std::string> log;
    auto* t = new Tracked(log, true);
    {
        Lifetime::Use use(*t);
        t->Retire();
        EXPECT_TRUE(use.Alive());
    }
    EXPECT_EQ(log, (std::vector<std::string>{"endgame", "destroyed"}));
}

TEST(Lifetime, UsesOutliveAPlainDelete) {
    std::vector<std::string> log;
    auto* t = new Tracked(log);
    {
        Lifetime::Use outer(*t);
        Lifetime::Use inner(*t);
        t->Retire();  // deferred ...
        delete t;     // ... but a plain delete cannot be
        EXPECT_FALSE(inner.Alive());
        EXPECT_FALSE(outer.Alive());
    }
    // The uses touched nothing when they ended, and no endgame ran.
    EXPECT_EQ(log, std::vector<std::string>{"destroyed"});
}

// ---- components --------------------------------------------------------

class Closer : public Component {
public:
    Closer(Component* owner, std::string name, std::vector<std::string>& log) : Component(owner), log_(log) {
        SetName(name);
    }
    ~Closer() override { log_.push_back("destroyed " + Name()); }
    void BeforeDestruction() override {
        log_.push_back("close " + Name() + (Destroying() ? " (destroying)" : ""));
        Component::BeforeDestruction();
    }
    void Notification(Component* c, Operation op) override {
        if (op == Operation::opRemove && c) log_.push_back(Name() + " forgets " + c->Name());
        Component::Notification(c, op);
    }

private:
    std::vector<std::string>& log_;
};

TEST(ComponentLifetime, FreeClosesFirstAndOwnersFreeTheirComponents) {
    std::vector<std::string> log;
    auto* owner = new Closer(nullptr, "Owner", log);
    new Closer(owner, "A", log);
    auto* b = new Closer(owner, "B", log);
    auto* watcher = new Closer(nullptr, "Watcher", log);
    watcher->FreeNotification(b);
    log.clear();
    Free(owner);
    // (A destructor's own body runs before the owned components go.)
    EXPECT_EQ(log, (std::vector<std::string>{"close Owner (destroying)", "destroyed Owner", "close B (destroying)",
                                             "Watcher forgets B",  // told while B is still whole
                                             "destroyed B", "A forgets B", "close A (destroying)", "destroyed A"}));
    Free(watcher);
    Free(nullptr);
}

TEST(ComponentLifetime, FreeFromInsideAUseWaitsForItsEnd) {
    std::vector<std::string> log;
    Component owner;
    auto* c = new Closer(&owner, "C", log);
    {
        Lifetime::Use use(*c);
        Free(c);
        // It left its owner at once (the owner's components hear of it).
        EXPECT_EQ(log, (std::vector<std::string>{"close C (destroying)", "C forgets C"}));
        EXPECT_EQ(owner.ComponentCount(), 0);
        EXPECT_EQ(c->Name(), "C");            // still whole
        Free(c);                              // on its way already: nothing
    }
    EXPECT_EQ(log.back(), "destroyed C");
    EXPECT_EQ(log.size(), 3u);
}

}  // namespace
}  // namespace qv
