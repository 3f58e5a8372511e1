#include "Component.h"

#include <algorithm>

#include "Errors.h"
#include "TextUtil.h"

namespace qel {

void TPersistent::Assign(const TPersistent& source) {
    AssignError(&source);
}

void TPersistent::AssignError(const TPersistent* source) const {
    throw EComponentError(
        Format(msg::kAssignError, source ? source->ClassName() : "nil", ClassName()));
}

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Tell every partner that we go, then forget them (they forget us in return).
    std::vector<TComponent*> partners;
    partners.swap(freeNotifies_);
    for (TComponent* p : partners) {
        auto& theirs = p->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        p->Notification(this, opRemove);
    }
    // Destroy what we own (last created first), then release the rest of our list.
    while (!owned_.empty()) {
        std::unique_ptr<TComponent> last = std::move(owned_.back());
        owned_.pop_back();
        last.reset();
    }
    for (TComponent* c : components_) c->owner_ = nullptr;
    components_.clear();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name) {
    if (SameText(name, name_) && name == name_) return;
    if (owner_ && !name.empty()) {
        TComponent* other = owner_->FindComponent(name);
        if (other && other != this) throw EComponentError(Format(msg::kDuplicateName, name));
    }
    name_ = name;
}

TComponent* TComponent::Components(int index) const {
    CheckListIndex(index, ComponentCount());
    return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_) {
        if (SameText(c->name_, name)) return c;
    }
    return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
        freeNotifies_.push_back(other);
        other->freeNotifies_.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other),
                        freeNotifies_.end());
    auto& theirs = other->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::DestroyOwned(TComponent* c) {
    auto it =
        std::find_if(owned_.begin(), owned_.end(), [c](const auto& p) { return p.get() == c; });
    if (it == owned_.end()) return;
    std::unique_ptr<TComponent> doomed = std::move(*it);
    owned_.erase(it);
    doomed.reset();
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertComponent(TComponent* c) {
    components_.push_back(c);
    c->owner_ = this;
    Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    c->owner_ = nullptr;
    if (!destroying_) Notification(c, opRemove);
}

TApplication& Application() {
    static TApplication app;
    return app;
}

}  // namespace qel
