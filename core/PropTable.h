// Published properties without language reflection: every class that can be stored in a form description
// registers, in an explicit registration function, its class name, parent class, a factory (components
// only) and a table of property setters, event setters, component fields and handler methods. The form
// reader looks names up here, walking from a class to its parents.
//
//   void RegisterMyClasses() {
//     RegisterClass<TDXTimer>("TCustomDXTimer")
//         .Bool("Enabled", &TDXTimer::SetEnabled)
//         .Int("Interval", [](TDXTimer& t, std::int32_t v) { t.SetInterval(v); })
//         .Event<TDXTimerEvent>("OnTimer", [](TDXTimer& t, TDXTimerEvent e) { t.OnTimer = e; });
//   }
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/Classes.h"
#include "core/Components.h"
#include "core/Types.h"

// One value as the form description wrote it.
struct TReadItem;
struct TReadValue {
  enum class Kind { Integer, Float, String, Ident, Boolean, Set, Binary, Collection, Nil };
  Kind kind = Kind::Nil;
  int line = 0;
  std::int64_t intValue = 0;
  double floatValue = 0;
  bool boolValue = false;
  std::string text;                   // String and Ident
  std::vector<std::string> setItems;  // Set
  std::vector<std::uint8_t> data;     // Binary
  std::vector<TReadItem> items;       // Collection
};

struct TReadProperty {
  int line = 0;
  std::string name;  // possibly dotted: Display.Width
  TReadValue value;
};

struct TReadItem {
  int line = 0;
  std::vector<TReadProperty> props;
};

// Raised for a value that does not fit its property; the reader adds the line.
DS_DECLARE_EXCEPTION(EPropertyError, Exception);

class TClassInfo;
class TReadContext;

struct TPropInfo {
  enum class Kind { Value, Object, Reference, Event };
  Kind kind = Kind::Value;
  // Value: convert and store.
  std::function<void(TPersistent&, const TReadValue&)> setValue;
  // Object: the nested object (for dotted names and collections).
  std::function<TPersistent*(TPersistent&)> getObject;
  // Reference: the named component, resolved after the whole description was read; null for nil.
  std::function<void(TPersistent&, TComponent*)> setReference;
  std::function<bool(TComponent*)> acceptsReference;
  // Event: the bound handler (a std::function of the event's type inside std::any).
  std::function<void(TPersistent&, const std::any&)> setEvent;
};

class TClassInfo {
 public:
  using TFactory = std::function<TComponent*(TComponent* Owner)>;
  using TMethodBinder = std::function<std::any(TComponent* Root)>;
  using TFieldSetter = std::function<bool(TComponent* Root, TComponent* Value)>;

  std::string Name;
  const TClassInfo* Parent = nullptr;
  TFactory Factory;

  const TPropInfo* FindProp(const std::string& name) const;
  const TMethodBinder* FindMethod(const std::string& name) const;
  const TFieldSetter* FindField(const std::string& name) const;
  bool InheritsFrom(const std::string& className) const;

  void AddProp(const std::string& name, TPropInfo info);
  void AddMethod(const std::string& name, TMethodBinder binder);
  void AddField(const std::string& name, TFieldSetter setter);

 private:
  struct Less {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::map<std::string, TPropInfo, Less> props_;
  std::map<std::string, TMethodBinder, Less> methods_;
  std::map<std::string, TFieldSetter, Less> fields_;
};

// Registers (or returns the already registered) class; the parent must be registered first (empty: none).
TClassInfo& RegisterClassInfo(const std::string& name, const std::string& parent);
const TClassInfo* FindClassInfo(const std::string& name);
// Table of an object's class, or of its nearest registered ancestor known by name; null when none.
const TClassInfo* ClassInfoOf(const TPersistent& obj);

namespace detail {
[[noreturn]] void RaiseInvalidValue(const TReadValue& v);
std::int32_t ToInt32(const TReadValue& v);
std::uint32_t ToSet(const TReadValue& v, const std::vector<std::string>& names);
int ToEnum(const TReadValue& v, const std::vector<std::string>& names);
TColor ToColor(const TReadValue& v);
}  // namespace detail

// Typed front end of a class table.
template <typename T>
class TClassBuilder {
 public:
  explicit TClassBuilder(TClassInfo& info) : info_(info) {}
  TClassInfo& Info() { return info_; }

  TClassBuilder& Value(const std::string& name, std::function<void(T&, const TReadValue&)> fn) {
    TPropInfo p;
    p.setValue = [fn](TPersistent& o, const TReadValue& v) { fn(static_cast<T&>(o), v); };
    info_.AddProp(name, std::move(p));
    return *this;
  }
  TClassBuilder& Int(const std::string& name, std::function<void(T&, std::int32_t)> fn) {
    return Value(name, [fn](T& o, const TReadValue& v) { fn(o, detail::ToInt32(v)); });
  }
  TClassBuilder& Float(const std::string& name, std::function<void(T&, double)> fn) {
    return Value(name, [fn](T& o, const TReadValue& v) {
      if (v.kind == TReadValue::Kind::Float)
        fn(o, v.floatValue);
      else if (v.kind == TReadValue::Kind::Integer)
        fn(o, static_cast<double>(v.intValue));
      else
        detail::RaiseInvalidValue(v);
    });
  }
  TClassBuilder& Str(const std::string& name, std::function<void(T&, const std::string&)> fn) {
    return Value(name, [fn](T& o, const TReadValue& v) {
      if (v.kind != TReadValue::Kind::String) detail::RaiseInvalidValue(v);
      fn(o, v.text);
    });
  }
  TClassBuilder& Bool(const std::string& name, std::function<void(T&, bool)> fn) {
    return Value(name, [fn](T& o, const TReadValue& v) {
      if (v.kind != TReadValue::Kind::Boolean) detail::RaiseInvalidValue(v);
      fn(o, v.boolValue);
    });
  }
  // An enumeration stored by its element names, ordinal = index in names.
  TClassBuilder& Enum(const std::string& name, std::vector<std::string> names,
                      std::function<void(T&, int)> fn) {
    return Value(name, [fn, names](T& o, const TReadValue& v) { fn(o, detail::ToEnum(v, names)); });
  }
  // A set stored as [a, b]; bit n stands for names[n].
  TClassBuilder& Set(const std::string& name, std::vector<std::string> names,
                     std::function<void(T&, std::uint32_t)> fn) {
    return Value(name, [fn, names](T& o, const TReadValue& v) { fn(o, detail::ToSet(v, names)); });
  }
  TClassBuilder& Color(const std::string& name, std::function<void(T&, TColor)> fn) {
    return Value(name, [fn](T& o, const TReadValue& v) { fn(o, detail::ToColor(v)); });
  }
  // Binary data { hex bytes }, offered as a stream positioned at its start.
  TClassBuilder& Binary(const std::string& name, std::function<void(T&, TStream&)> fn) {
    return Value(name, [fn](T& o, const TReadValue& v) {
      if (v.kind != TReadValue::Kind::Binary) detail::RaiseInvalidValue(v);
      TReadOnlyMemoryStream s(v.data.data(), v.data.size());
      fn(o, s);
    });
  }
  // A nested object (Display.Width) or a collection (Items = < ... >).
  TClassBuilder& Object(const std::string& name, std::function<TPersistent*(T&)> fn) {
    TPropInfo p;
    p.kind = TPropInfo::Kind::Object;
    p.getObject = [fn](TPersistent& o) { return fn(static_cast<T&>(o)); };
    info_.AddProp(name, std::move(p));
    return *this;
  }
  // A reference to another component by name, resolved when the whole description has been read.
  template <typename C>
  TClassBuilder& Reference(const std::string& name, std::function<void(T&, C*)> fn) {
    TPropInfo p;
    p.kind = TPropInfo::Kind::Reference;
    p.setReference = [fn](TPersistent& o, TComponent* c) { fn(static_cast<T&>(o), dynamic_cast<C*>(c)); };
    p.acceptsReference = [](TComponent* c) { return c == nullptr || dynamic_cast<C*>(c) != nullptr; };
    info_.AddProp(name, std::move(p));
    return *this;
  }
  // An event; E is the handler's std::function type. Handlers come from the root's method table.
  template <typename E>
  TClassBuilder& Event(const std::string& name, std::function<void(T&, E)> fn) {
    TPropInfo p;
    p.kind = TPropInfo::Kind::Event;
    p.setEvent = [fn](TPersistent& o, const std::any& h) {
      const E* e = std::any_cast<E>(&h);
      if (!e) throw EPropertyError("Handler does not fit the event");
      fn(static_cast<T&>(o), *e);
    };
    info_.AddProp(name, std::move(p));
    return *this;
  }
  // A handler the stored description can name: a method of the root class.
  template <typename R, typename... A>
  TClassBuilder& Method(const std::string& name, R (T::*m)(A...)) {
    info_.AddMethod(name, [m](TComponent* root) -> std::any {
      T* self = dynamic_cast<T*>(root);
      if (!self) return std::any();
      return std::function<R(A...)>([self, m](A... a) { return (self->*m)(std::forward<A>(a)...); });
    });
    return *this;
  }
  // A member pointer of the root class that receives the component of that name after reading.
  template <typename C>
  TClassBuilder& Field(const std::string& name, C* T::*member) {
    info_.AddField(name, [member](TComponent* root, TComponent* value) {
      T* self = dynamic_cast<T*>(root);
      C* v = dynamic_cast<C*>(value);
      if (!self || (value && !v)) return false;
      self->*member = v;
      return true;
    });
    return *this;
  }

 private:
  TClassInfo& info_;
};

// Registers T under its StaticClassName with the given parent; components that can be constructed from an
// owner get a factory, so the reader can create them by class name.
template <typename T>
TClassBuilder<T> RegisterClass(const std::string& parent) {
  TClassInfo& info = RegisterClassInfo(T::StaticClassName(), parent);
  if constexpr (std::is_base_of<TComponent, T>::value && !std::is_abstract<T>::value &&
                std::is_constructible<T, TComponent*>::value) {
    info.Factory = [](TComponent* owner) -> TComponent* { return new T(owner); };
  }
  return TClassBuilder<T>(info);
}

// Registers TPersistent and TComponent; called by every framework registration function.
void RegisterCoreClasses();
