// Objects of the window tree known by handle (windows, menus). Each object gets the next number as its
// handle. A destroyed object is only marked dead and stays, so stale handles find nothing and stale pointers
// stay harmless.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace plat::soft {

// T has a std::uintptr_t id (set here) and a bool dead; Handle is a pointer type.
template <class T, class Handle>
class HandleTable {
 public:
  explicit HandleTable(std::uintptr_t first) : next_(first) {}

  // Takes the object and gives it its handle.
  T* Add(std::unique_ptr<T> object) {
    T* p = object.get();
    p->id = next_++;
    objects_[p->id] = std::move(object);
    return p;
  }

  // The live object of a handle; null for none, an unknown handle or a dead object.
  T* Find(Handle h) const {
    if (!h) return nullptr;
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == objects_.end() || it->second->dead) return nullptr;
    return it->second.get();
  }

  static Handle HandleOf(const T* object) { return object ? reinterpret_cast<Handle>(object->id) : nullptr; }

  // Every object, dead ones included, oldest first (entries map the handle number to the object).
  auto begin() const { return objects_.begin(); }
  auto end() const { return objects_.end(); }

 private:
  std::map<std::uintptr_t, std::unique_ptr<T>> objects_;
  std::uintptr_t next_;
};

}  // namespace plat::soft
