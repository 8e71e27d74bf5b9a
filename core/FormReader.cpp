#include "core/FormReader.h"

#include <cctype>
#include <cstdlib>
#include <limits>
#include <map>

#include "core/Consts.h"
#include "platform/Text.h"

namespace {

using plat::AppendUtf8;
using plat::HexDigit;

constexpr int kMaxDepth = 64;

// The reader's own errors already name their line.
DS_DECLARE_EXCEPTION(EFormLineError, EReadError);

[[noreturn]] void Fail(int line, const std::string& msg) {
  throw EFormLineError(Format(SLineError, line, msg));
}

// Objects without a table of their own still offer their defined properties (binary data and the like).
const TClassInfo& InfoOrEmpty(const TPersistent& obj) {
  static const TClassInfo empty;
  const TClassInfo* info = ClassInfoOf(obj);
  return info ? *info : empty;
}

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  TReadObject ParseRoot() {
    SkipSpace();
    TReadObject root = ParseObject(0);
    SkipSpace();
    if (pos_ < s_.size()) Fail(line_, "Text after the final end");
    return root;
  }

 private:
  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek(std::size_t ahead = 0) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }

  void SkipSpace() {
    while (!AtEnd()) {
      char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++pos_;
      } else {
        break;
      }
    }
  }

  std::string Ident() {
    if (!IsIdentStart(Peek())) Fail(line_, Describe("Identifier expected"));
    std::size_t start = pos_;
    while (IsIdentChar(Peek())) ++pos_;
    return s_.substr(start, pos_ - start);
  }

  std::string DottedIdent() {
    std::string r = Ident();
    while (Peek() == '.' && IsIdentStart(Peek(1))) {
      ++pos_;
      r += '.';
      r += Ident();
    }
    return r;
  }

  std::string Describe(const std::string& what) const {
    if (AtEnd()) return what + " but the text ended";
    char c = s_[pos_];
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return Format("%s but found character #%d", what, static_cast<int>(static_cast<unsigned char>(c)));
    return Format("%s but found '%c'", what, c);
  }

  bool PeekKeyword(const char* kw) const {
    std::size_t n = std::char_traits<char>::length(kw);
    if (pos_ + n > s_.size()) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(s_[pos_ + i])) != kw[i]) return false;
    return !IsIdentChar(Peek(n));
  }

  void Expect(char c) {
    if (Peek() != c) Fail(line_, Describe(Format("'%c' expected", c)));
    ++pos_;
  }

  TReadObject ParseObject(int depth) {
    if (depth > kMaxDepth) Fail(line_, "Objects nested too deeply");
    TReadObject obj;
    obj.line = line_;
    if (!PeekKeyword("object")) Fail(line_, Describe("'object' expected"));
    pos_ += 6;
    SkipSpace();
    std::string first = Ident();
    SkipSpace();
    if (Peek() == ':') {
      ++pos_;
      SkipSpace();
      obj.name = first;
      obj.className = Ident();
    } else {
      obj.className = first;
    }
    for (;;) {
      SkipSpace();
      if (AtEnd()) Fail(line_, Format("'end' of object %s expected but the text ended", obj.className));
      if (PeekKeyword("end")) {
        pos_ += 3;
        return obj;
      }
      if (PeekKeyword("object")) {
        obj.children.push_back(ParseObject(depth + 1));
        continue;
      }
      obj.props.push_back(ParseProperty(depth));
    }
  }

  TReadProperty ParseProperty(int depth) {
    TReadProperty p;
    p.line = line_;
    p.name = DottedIdent();
    SkipSpace();
    Expect('=');
    SkipSpace();
    p.value = ParseValue(depth);
    return p;
  }

  TReadValue ParseValue(int depth) {
    TReadValue v;
    v.line = line_;
    char c = Peek();
    if (c == '\'' || c == '#') {
      v.kind = TReadValue::Kind::String;
      v.text = ParseString();
    } else if (c == '-' || c == '+' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) {
      ParseNumber(v);
    } else if (c == '[') {
      v.kind = TReadValue::Kind::Set;
      ++pos_;
      SkipSpace();
      if (Peek() != ']') {
        for (;;) {
          SkipSpace();
          v.setItems.push_back(Ident());
          SkipSpace();
          if (Peek() == ',') {
            ++pos_;
            continue;
          }
          break;
        }
      }
      Expect(']');
    } else if (c == '{') {
      v.kind = TReadValue::Kind::Binary;
      ParseBinary(v.data);
    } else if (c == '<') {
      v.kind = TReadValue::Kind::Collection;
      ++pos_;
      for (;;) {
        SkipSpace();
        if (Peek() == '>') {
          ++pos_;
          break;
        }
        if (!PeekKeyword("item")) Fail(line_, Describe("'item' or '>' expected"));
        if (depth + 1 > kMaxDepth) Fail(line_, "Objects nested too deeply");
        TReadItem item;
        item.line = line_;
        pos_ += 4;
        for (;;) {
          SkipSpace();
          if (AtEnd()) Fail(line_, "'end' of item expected but the text ended");
          if (PeekKeyword("end")) {
            pos_ += 3;
            break;
          }
          item.props.push_back(ParseProperty(depth + 1));
        }
        v.items.push_back(std::move(item));
      }
    } else if (IsIdentStart(c)) {
      std::string id = DottedIdent();
      if (SameText(id, "True") || SameText(id, "False")) {
        v.kind = TReadValue::Kind::Boolean;
        v.boolValue = SameText(id, "True");
      } else if (SameText(id, "nil")) {
        v.kind = TReadValue::Kind::Nil;
      } else {
        v.kind = TReadValue::Kind::Ident;
        v.text = id;
      }
    } else {
      Fail(line_, Describe("Value expected"));
    }
    return v;
  }

  // One string: quoted parts and #char codes side by side, joined by + across lines.
  std::string ParseString() {
    std::string out;
    for (;;) {
      char c = Peek();
      if (c == '\'') {
        ++pos_;
        for (;;) {
          if (AtEnd() || Peek() == '\n' || Peek() == '\r') Fail(line_, "Unterminated string");
          char d = s_[pos_++];
          if (d == '\'') {
            if (Peek() == '\'') {
              out += '\'';
              ++pos_;
              continue;
            }
            break;
          }
          out += d;
        }
      } else if (c == '#') {
        ++pos_;
        std::uint32_t code = 0;
        bool any = false;
        if (Peek() == '$') {
          ++pos_;
          while (HexDigit(Peek()) >= 0) {
            code = code * 16 + static_cast<std::uint32_t>(HexDigit(Peek()));
            ++pos_;
            any = true;
            if (code > 0x10FFFF) Fail(line_, "Character code out of range");
          }
        } else {
          while (std::isdigit(static_cast<unsigned char>(Peek()))) {
            code = code * 10 + static_cast<std::uint32_t>(Peek() - '0');
            ++pos_;
            any = true;
            if (code > 0x10FFFF) Fail(line_, "Character code out of range");
          }
        }
        if (!any) Fail(line_, Describe("Character code expected"));
        AppendUtf8(out, code);
      } else {
        // Continuation: optional spaces, '+', spaces or line breaks, then the next part.
        std::size_t savePos = pos_;
        int saveLine = line_;
        SkipSpace();
        if (Peek() == '+') {
          ++pos_;
          SkipSpace();
          if (Peek() != '\'' && Peek() != '#') Fail(line_, Describe("String expected after '+'"));
          continue;
        }
        pos_ = savePos;
        line_ = saveLine;
        return out;
      }
    }
  }

  void ParseNumber(TReadValue& v) {
    bool negative = false;
    if (Peek() == '-' || Peek() == '+') {
      negative = Peek() == '-';
      ++pos_;
    }
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t value = 0;
    if (Peek() == '$') {
      ++pos_;
      if (HexDigit(Peek()) < 0) Fail(line_, Describe("Hexadecimal digit expected"));
      while (HexDigit(Peek()) >= 0) {
        value = value * 16 + static_cast<std::uint64_t>(HexDigit(Peek()));
        if (value > limit) Fail(line_, "Number too large");
        ++pos_;
      }
    } else {
      if (!std::isdigit(static_cast<unsigned char>(Peek()))) Fail(line_, Describe("Digit expected"));
      std::size_t start = pos_;
      while (std::isdigit(static_cast<unsigned char>(Peek()))) {
        value = value * 10 + static_cast<std::uint64_t>(Peek() - '0');
        if (value > limit) Fail(line_, "Number too large");
        ++pos_;
      }
      if (Peek() == '.' && std::isdigit(static_cast<unsigned char>(Peek(1)))) {
        ++pos_;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
        if ((Peek() == 'e' || Peek() == 'E') &&
            (std::isdigit(static_cast<unsigned char>(Peek(1))) ||
             ((Peek(1) == '+' || Peek(1) == '-') && std::isdigit(static_cast<unsigned char>(Peek(2)))))) {
          pos_ += 2;
          while (std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
        }
        v.kind = TReadValue::Kind::Float;
        v.floatValue = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        if (negative) v.floatValue = -v.floatValue;
        return;
      }
    }
    if (IsIdentChar(Peek())) Fail(line_, Describe("Number expected"));
    v.kind = TReadValue::Kind::Integer;
    v.intValue = negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
  }

  void ParseBinary(std::vector<std::uint8_t>& out) {
    ++pos_;  // '{'
    int high = -1;
    for (;;) {
      SkipSpace();
      if (AtEnd()) Fail(line_, "'}' expected but the text ended");
      char c = Peek();
      if (c == '}') {
        if (high >= 0) Fail(line_, "Odd number of hexadecimal digits");
        ++pos_;
        return;
      }
      int d = HexDigit(c);
      if (d < 0) Fail(line_, Describe("Hexadecimal digit expected"));
      ++pos_;
      if (high < 0) {
        high = d;
      } else {
        out.push_back(static_cast<std::uint8_t>(high * 16 + d));
        high = -1;
      }
    }
  }

  const std::string& s_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

// Applies a parsed tree to a root component.
class Applier {
 public:
  explicit Applier(TComponent* root) : root_(root) {}

  void Run(const TReadObject& desc) {
    rootInfo_ = ClassInfoOf(*root_);
    if (!rootInfo_) Fail(desc.line, Format(SClassNotFound, std::string(root_->ClassName())));
    Begin(root_);
    try {
      if (!desc.name.empty()) Guard(desc.line, [&] { root_->SetName(desc.name); });
      ReadProps(*root_, *rootInfo_, desc.props);
      for (const TReadObject& child : desc.children) ReadChild(child, root_);
      ResolveFixups();
    } catch (...) {
      for (TComponent* c : created_) c->ClearComponentState(csLoading | csReading);
      throw;
    }
    for (TComponent* c : created_) c->ClearComponentState(csReading);
    // Every component gets its after-loading step even when an earlier one fails; the first error wins.
    std::exception_ptr first;
    for (TComponent* c : created_) {
      try {
        c->Loaded();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
      c->ClearComponentState(csLoading);
    }
    if (first) std::rethrow_exception(first);
  }

 private:
  struct Fixup {
    TPersistent* obj;
    const TPropInfo* prop;
    std::string target;
    std::string propName;
    int line;
  };

  void Begin(TComponent* c) {
    c->SetComponentState(csLoading | csReading);
    created_.push_back(c);
  }

  // Rewraps conversion, naming and stored-data read errors with the line; other errors of setters pass
  // unchanged.
  template <typename F>
  void Guard(int line, F&& f) {
    try {
      f();
    } catch (const EFormLineError&) {
      throw;
    } catch (const EReadError& e) {
      Fail(line, e.Message);
    } catch (const EPropertyError& e) {
      Fail(line, e.Message);
    } catch (const EComponentError& e) {
      Fail(line, e.Message);
    }
  }

  void ReadChild(const TReadObject& desc, TComponent* parent) {
    const TClassInfo* info = FindClassInfo(desc.className);
    if (!info || !info->Factory) Fail(desc.line, Format(SClassNotFound, desc.className));
    TComponent* comp = info->Factory(root_);
    Begin(comp);
    Guard(desc.line, [&] { comp->SetName(desc.name); });
    if (comp->HasParent()) comp->SetParentComponent(parent);
    if (!desc.name.empty()) {
      if (const auto* field = rootInfo_->FindField(desc.name)) {
        if (!(*field)(root_, comp)) Fail(desc.line, Format(SFieldMismatch, desc.name, desc.className));
      }
    }
    ReadProps(*comp, *info, desc.props);
    for (const TReadObject& child : desc.children) ReadChild(child, comp);
  }

  void ReadProps(TPersistent& obj, const TClassInfo& info, const std::vector<TReadProperty>& props) {
    for (const TReadProperty& p : props) SetProp(obj, info, p.name, p.name, p.value, p.line);
  }

  void SetProp(TPersistent& obj, const TClassInfo& info, const std::string& path, const std::string& fullName,
               const TReadValue& value, int line) {
    std::size_t dot = path.find('.');
    if (dot != std::string::npos) {
      std::string head = path.substr(0, dot);
      const TPropInfo* p = info.FindProp(head);
      if (!p || p->kind != TPropInfo::Kind::Object) Fail(line, Format(SUnknownProperty, fullName));
      TPersistent* sub = p->getObject(obj);
      if (!sub) Fail(line, Format(SUnknownProperty, fullName));
      SetProp(*sub, InfoOrEmpty(*sub), path.substr(dot + 1), fullName, value, line);
      return;
    }
    const TPropInfo* p = info.FindProp(path);
    if (!p) {
      TFiler filer;
      obj.DefineProperties(filer);
      if (value.kind == TReadValue::Kind::Binary) {
        if (const auto* r = filer.FindBinaryReader(path)) {
          TReadOnlyMemoryStream s(value.data.data(), value.data.size());
          Guard(line, [&] { (*r)(s); });
          return;
        }
      }
      if (const auto* r = filer.FindValueReader(path)) {
        Guard(line, [&] { (*r)(value); });
        return;
      }
      Fail(line, Format(SUnknownProperty, fullName));
    }
    switch (p->kind) {
      case TPropInfo::Kind::Value:
        Guard(line, [&] { p->setValue(obj, value); });
        return;
      case TPropInfo::Kind::Object:
        ReadObjectValue(obj, *p, fullName, value, line);
        return;
      case TPropInfo::Kind::Reference:
        if (value.kind == TReadValue::Kind::Nil) {
          p->setReference(obj, nullptr);
        } else if (value.kind == TReadValue::Kind::Ident) {
          fixups_.push_back({&obj, p, value.text, fullName, line});
        } else {
          Fail(line, SInvalidPropertyValue);
        }
        return;
      case TPropInfo::Kind::Event:
        if (value.kind == TReadValue::Kind::Nil) return;
        if (value.kind != TReadValue::Kind::Ident) Fail(line, SInvalidPropertyValue);
        {
          const auto* binder = rootInfo_->FindMethod(value.text);
          if (!binder) Fail(line, Format(SUnknownHandler, value.text));
          std::any handler = (*binder)(root_);
          if (!handler.has_value()) Fail(line, Format(SUnknownHandler, value.text));
          try {
            p->setEvent(obj, handler);
          } catch (const EPropertyError&) {
            Fail(line, Format(SHandlerMismatch, value.text, fullName));
          }
        }
        return;
    }
  }

  void ReadObjectValue(TPersistent& obj, const TPropInfo& p, const std::string& fullName,
                       const TReadValue& value, int line) {
    if (value.kind != TReadValue::Kind::Collection) Fail(line, SInvalidPropertyValue);
    auto* col = dynamic_cast<TCollection*>(p.getObject(obj));
    if (!col) Fail(line, Format(SNotCollection, fullName));
    col->BeginUpdate();
    try {
      col->Clear();
      for (const TReadItem& item : value.items) {
        TCollectionItem* it = col->Add();
        ReadProps(*it, InfoOrEmpty(*it), item.props);
      }
    } catch (...) {
      col->EndUpdate();
      throw;
    }
    col->EndUpdate();
  }

  void ResolveFixups() {
    for (const Fixup& f : fixups_) {
      TComponent* target = nullptr;
      if (SameText(f.target, root_->Name()))
        target = root_;
      else
        target = root_->FindComponent(f.target);
      if (!target) Fail(f.line, Format(SUnresolvedReference, f.target));
      if (!f.prop->acceptsReference(target)) Fail(f.line, Format(SWrongReference, f.target, f.propName));
      f.prop->setReference(*f.obj, target);
    }
  }

  TComponent* root_;
  const TClassInfo* rootInfo_ = nullptr;
  std::vector<TComponent*> created_;
  std::vector<Fixup> fixups_;
};

std::map<std::string, std::string>& FormTexts() {
  static std::map<std::string, std::string> m;
  return m;
}

}  // namespace

TReadObject ParseFormText(const std::string& text) {
  return Parser(text).ParseRoot();
}

void ReadComponent(TComponent* Root, const TReadObject& Desc) {
  Applier(Root).Run(Desc);
}

void ReadComponentFromText(TComponent* Root, const std::string& Text) {
  ReadComponent(Root, ParseFormText(Text));
}

void RegisterFormText(const std::string& ClassName, const std::string& Text) {
  FormTexts()[ClassName] = Text;
}

const std::string* FindFormText(const std::string& ClassName) {
  auto it = FormTexts().find(ClassName);
  return it == FormTexts().end() ? nullptr : &it->second;
}
