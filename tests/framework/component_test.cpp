#include "framework/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

// Records every notification it receives, and counts destructions.
class Probe : public Component {
public:
    Probe(Component* owner, std::string name, std::vector<std::string>* log)
        : Component(owner), log_(log) {
        SetName(name);
    }
    ~Probe() override { log_->push_back("destroy " + Name()); }
    void Notification(Component* c, Operation op) override {
        log_->push_back(Name() + (op == Operation::opInsert ? " +" : " -") + (c ? c->Name() : "?"));
        Component::Notification(c, op);
    }
    void Loaded() override {
        log_->push_back("loaded " + Name());
        Component::Loaded();
    }

private:
    std::vector<std::string>* log_;
};

TEST(Component, OwnerDestroysOwnedComponentsLastFirst) {
    std::vector<std::string> log;
    auto* form = new Component();
    new Probe(form, "A", &log);
    new Probe(form, "B", &log);
    log.clear();
    delete form;
    // A, still alive, hears that B went.
    EXPECT_EQ(log, (std::vector<std::string>{"destroy B", "A -B", "destroy A"}));
}

TEST(Component, InsertAndRemoveAreToldToTheOwnersComponents) {
    std::vector<std::string> log;
    Component form;
    new Probe(&form, "A", &log);
    auto* b = new Probe(&form, "B", &log);
    // Constructing B told A (and B itself) of the insertion; the name is set
    // after insertion, so the new one is still nameless then.
    EXPECT_EQ(log[0], "A +");
    log.clear();
    delete b;
    // A hears of B's removal; B is told before it leaves the list.
    EXPECT_NE(std::find(log.begin(), log.end(), "A -B"), log.end());
    EXPECT_EQ(form.ComponentCount(), 1);
}

TEST(Component, FindComponentIgnoresCaseAndNamesAreUnique) {
    std::vector<std::string> log;
    Component form;
    auto* a = new Probe(&form, "btnCancel", &log);
    EXPECT_EQ(form.FindComponent("BTNCANCEL"), a);
    EXPECT_EQ(form.FindComponent("other"), nullptr);
    auto* b = new Probe(&form, "x", &log);
    EXPECT_THROW(b->SetName("BtnCancel"), EComponentError);
    EXPECT_EQ(b->Name(), "x");
}

TEST(Component, FreeNotificationReportsTheEndOfAComponentOwnedElsewhere) {
    std::vector<std::string> log;
    Component formA, formB;
    auto* watcher = new Probe(&formA, "watcher", &log);
    auto* target = new Probe(&formB, "target", &log);
    watcher->FreeNotification(target);
    log.clear();
    delete target;
    EXPECT_NE(std::find(log.begin(), log.end(), "watcher -target"), log.end());
    // And a watcher that goes first leaves nothing dangling behind.
    auto* t2 = new Probe(&formB, "t2", &log);
    watcher->FreeNotification(t2);
    delete watcher;
    log.clear();
    delete t2;
    EXPECT_EQ(log, (std::vector<std::string>{"destroy t2"}));
}

TEST(Component, LoadedClearsTheLoadingFlag) {
    std::vector<std::string> log;
    Component form;
    auto* a = new Probe(&form, "A", &log);
    a->SetLoading(true);
    EXPECT_TRUE(a->Loading());
    a->Loaded();
    EXPECT_FALSE(a->Loading());
}

}  // namespace
}  // namespace qv
