#include "tcomponent.h"

TComponent::TComponent(QObject* owner) : TPersistent(owner) {
  if (auto* o = qobject_cast<TComponent*>(owner); o && o->IsDesigning()) state_ |= csDesigning;
}

TComponent::~TComponent() = default;

TComponent* TComponent::Owner() const { return qobject_cast<TComponent*>(parent()); }

int TComponent::ComponentCount() const {
  int n = 0;
  for (QObject* child : children())
    if (qobject_cast<TComponent*>(child)) ++n;
  return n;
}

TComponent* TComponent::Components(int index) const {
  int n = 0;
  for (QObject* child : children())
    if (auto* c = qobject_cast<TComponent*>(child); c && n++ == index) return c;
  return nullptr;
}

TComponent* TComponent::FindComponent(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  for (QObject* child : children())
    if (auto* c = qobject_cast<TComponent*>(child);
        c && c->Name().compare(name, Qt::CaseInsensitive) == 0)
      return c;
  return nullptr;
}

void TComponent::SetLoading(bool loading) { state_.setFlag(csLoading, loading); }

void TComponent::SetDesigning(bool designing, bool children) {
  state_.setFlag(csDesigning, designing);
  if (!children) return;
  for (QObject* child : this->children())
    if (auto* c = qobject_cast<TComponent*>(child)) c->SetDesigning(designing, true);
}

void TComponent::Destroying() { state_ |= csDestroying; }

void TComponent::Loaded() { state_.setFlag(csLoading, false); }
