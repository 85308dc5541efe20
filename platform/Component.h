#pragma once
// The named-component base: the name is the prefix of the archiver's messages.
#include <string>

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& n) { name_ = n; }
    TComponent* Owner() const { return owner_; }

private:
    TComponent* owner_;
    std::string name_;
};

#include "platform/Exception.h"

// Objects whose values can be copied from another of the same class.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    // The inherited assignment: fails for an unrelated source.
    virtual void Assign(const TPersistent& source);
    virtual const char* ClassName() const { return "TPersistent"; }
};
