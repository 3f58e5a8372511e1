// The component framework: TPersistent (an object with Assign), TComponent (owner, name, the
// owned component list, free-notification) and the application object that owns forms.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace qel {

class TPersistent {
  public:
    virtual ~TPersistent() = default;
    virtual const char* ClassName() const { return "TPersistent"; }
    // Copies what the class knows how to copy from Source. The default (and the fallback of
    // every override for an unrelated Source) fails with "Cannot assign a %s to a %s".
    virtual void Assign(const TPersistent& source);

  protected:
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

enum TOperation : std::uint8_t { opInsert, opRemove };

class TComponent : public TPersistent {
  public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const char* ClassName() const override { return "TComponent"; }

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    // Names are unique among the owner's components without regard to letter case; setting a
    // taken name fails with "A component named %s already exists".
    void SetName(const std::string& name);

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const;  // "List index out of bounds (%d)"
    // The owned component with this name (letter case ignored), or nullptr.
    TComponent* FindComponent(const std::string& name) const;

    // Asks for a Notification(this, opRemove) on `other` when this component is destroyed.
    // Registration is mutual bookkeeping: whichever of the two dies first unregisters itself.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    // Creates a component of type T owned by this one; it is destroyed with its owner.
    template <typename T, typename... Args>
    T& Create(Args&&... args) {
        static_assert(std::is_base_of_v<TComponent, T>);
        auto p = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& ref = *p;
        owned_.push_back(std::move(p));
        return ref;
    }
    // Destroys a component created with Create (no-op for others).
    void DestroyOwned(TComponent* c);

    bool IsDestroying() const { return destroying_; }

  protected:
    // Called when a component this one is notified about (an owned one, or one registered with
    // FreeNotification) is inserted or removed. The base does nothing.
    virtual void Notification(TComponent* component, TOperation operation);

  private:
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> components_;             // owned, in insertion order
    std::vector<std::unique_ptr<TComponent>> owned_;  // those whose lifetime we hold
    std::vector<TComponent*> freeNotifies_;           // mutual free-notification partners
    bool destroying_ = false;
};

// The application object: the owner of the forms (top-level components). LOOKUP finds
// "Form.Component" through it.
class TApplication : public TComponent {
  public:
    TApplication() : TComponent(nullptr) {}
    const char* ClassName() const override { return "TApplication"; }
};

TApplication& Application();

}  // namespace qel
