#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/FormReader.h"
#include "core/PropTable.h"

namespace {

// --- parsing values

TReadValue ValueOf(const std::string& text) {
  TReadObject o = ParseFormText("object A: TX\n  P = " + text + "\nend\n");
  EXPECT_EQ(o.props.size(), 1u);
  return o.props.at(0).value;
}

TEST(FormTextValues, IntegersDecimalNegativeAndHex) {
  EXPECT_EQ(ValueOf("539").intValue, 539);
  EXPECT_EQ(ValueOf("-15").intValue, -15);
  EXPECT_EQ(ValueOf("$FF").intValue, 255);
  EXPECT_EQ(ValueOf("-$10").intValue, -16);
  EXPECT_EQ(ValueOf("$7FFFFFFFFFFFFFFF").intValue, INT64_MAX);
  EXPECT_EQ(ValueOf("-9223372036854775808").intValue, INT64_MIN);
}

TEST(FormTextValues, StringsWithDoubledQuotesCharCodesAndConcatenationAcrossLines) {
  TReadValue v = ValueOf("'it''s'#13#10'two' +\n    ' lines'#$41");
  EXPECT_EQ(v.kind, TReadValue::Kind::String);
  EXPECT_EQ(v.text, "it's\r\ntwo linesA");
  EXPECT_EQ(ValueOf("''").text, "");
  EXPECT_EQ(ValueOf("#233").text, "\xC3\xA9");  // UTF-8
}

TEST(FormTextValues, LineNumbersCountContinuationLines) {
  TReadObject o = ParseFormText("object A: TX\n  P = 'a' +\n  'b'\n  Q = 1\nend");
  EXPECT_EQ(o.props[0].line, 2);
  EXPECT_EQ(o.props[1].line, 4);
}

TEST(FormTextValues, BooleansIdentifiersNilAndFloats) {
  EXPECT_EQ(ValueOf("True").kind, TReadValue::Kind::Boolean);
  EXPECT_TRUE(ValueOf("true").boolValue);
  EXPECT_FALSE(ValueOf("False").boolValue);
  EXPECT_EQ(ValueOf("clNone").text, "clNone");
  EXPECT_EQ(ValueOf("nil").kind, TReadValue::Kind::Nil);
  EXPECT_DOUBLE_EQ(ValueOf("1.5E2").floatValue, 150.0);
  EXPECT_DOUBLE_EQ(ValueOf("-0.25").floatValue, -0.25);
}

TEST(FormTextValues, SetsEmptyAndListed) {
  EXPECT_TRUE(ValueOf("[]").setItems.empty());
  EXPECT_EQ(ValueOf("[akLeft, akTop,\n akRight]").setItems,
            (std::vector<std::string>{"akLeft", "akTop", "akRight"}));
}

TEST(FormTextValues, BinaryDataOverSeveralLines) {
  TReadValue v = ValueOf("{\n  0A0b FF\n  00}");
  EXPECT_EQ(v.kind, TReadValue::Kind::Binary);
  EXPECT_EQ(v.data, (std::vector<std::uint8_t>{0x0A, 0x0B, 0xFF, 0x00}));
}

TEST(FormTextValues, CollectionsOfItemsWithDottedProperties) {
  TReadValue v = ValueOf("<\n item\n  Name = 'backgr'\n  Picture.Data = {00}\n end\n item\n end>");
  ASSERT_EQ(v.items.size(), 2u);
  ASSERT_EQ(v.items[0].props.size(), 2u);
  EXPECT_EQ(v.items[0].props[1].name, "Picture.Data");
  EXPECT_TRUE(v.items[1].props.empty());
}

TEST(FormTextStructure, NestedObjectsWithAndWithoutNames) {
  TReadObject o = ParseFormText(
      "object Form1: TForm1\n object A: TB\n  object C: TD\n  end\n end\n object TE\n end\nend\n");
  ASSERT_EQ(o.children.size(), 2u);
  EXPECT_EQ(o.children[0].children[0].className, "TD");
  EXPECT_EQ(o.children[1].name, "");
  EXPECT_EQ(o.children[1].className, "TE");
}

// --- syntax errors name their line

std::string ParseError(const std::string& text) {
  try {
    ParseFormText(text);
  } catch (const EReadError& e) {
    return e.Message;
  }
  return "no error";
}

TEST(FormTextErrors, NameTheLine) {
  EXPECT_EQ(ParseError("object A: TX\n  P = 'abc\nend").substr(0, 7), "line 2:");
  EXPECT_EQ(ParseError("object A: TX\n\n  P 5\nend").substr(0, 7), "line 3:");
  EXPECT_EQ(ParseError("object A: TX\n  P = {0A 1}\nend").substr(0, 7), "line 2:");
  EXPECT_EQ(ParseError("object A: TX\nend\nextra").substr(0, 7), "line 3:");
  EXPECT_EQ(ParseError("object A: TX\n  P = 99999999999999999999\nend").substr(0, 7), "line 2:");
  EXPECT_EQ(ParseError("object A: TX\n  P = 'a' +\n\n  5\nend").substr(0, 7), "line 4:");
  EXPECT_NE(ParseError("object A: TX\n  P = 1\n").find("ended"), std::string::npos);
}

TEST(FormTextErrors, RefusesDeepNesting) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "object TX\n";
  for (int i = 0; i < 200; ++i) text += "end\n";
  EXPECT_NE(ParseError(text).find("nested too deeply"), std::string::npos);
}

// --- applying descriptions to components

class TReadRoot;
std::vector<std::string> g_events;

class TReadPart : public TComponent {
  DS_CLASS_NAME(TReadPart)
 public:
  explicit TReadPart(TComponent* owner) : TComponent(owner) {}
  void Loaded() override {
    stateAtLoaded = ComponentState();
    g_events.push_back("Loaded " + Name());
    TComponent::Loaded();
  }
  void SetCount(std::int32_t v) {
    stateAtSet = ComponentState();
    count = v;
  }
  std::int32_t count = 0;
  std::string text;
  std::uint32_t flags = 0;
  std::vector<std::uint8_t> data;
  TReadPart* buddy = nullptr;
  TNotifyEvent OnPing;
  TComponentState stateAtSet = 0, stateAtLoaded = 0;
};

class TReadRoot : public TComponent {
  DS_CLASS_NAME(TReadRoot)
 public:
  explicit TReadRoot(TComponent* owner) : TComponent(owner) {}
  void Loaded() override {
    g_events.push_back("Loaded root");
    TComponent::Loaded();
  }
  void PartPing(TObject*) { g_events.push_back("ping"); }
  void WrongShape(TObject*, int) {}
  TReadPart* Part1 = nullptr;
};

class FormReading : public ::testing::Test {
 protected:
  FormReading() {
    RegisterCoreClasses();
    RegisterClass<TReadPart>(TComponent::StaticClassName())
        .Int("Count", &TReadPart::SetCount)
        .Str("Text", [](TReadPart& p, const std::string& v) { p.text = v; })
        .Set("Flags", {"fA", "fB", "fC"}, [](TReadPart& p, std::uint32_t v) { p.flags = v; })
        .Binary("Data",
                [](TReadPart& p, TStream& s) {
                  p.data.resize(static_cast<std::size_t>(s.GetSize()));
                  s.ReadBuffer(p.data.data(), p.data.size());
                })
        .Reference<TReadPart>("Buddy", [](TReadPart& p, TReadPart* b) { p.buddy = b; })
        .Event<TNotifyEvent>("OnPing", [](TReadPart& p, TNotifyEvent e) { p.OnPing = e; });
    RegisterClass<TReadRoot>(TComponent::StaticClassName())
        .Method("PartPing", &TReadRoot::PartPing)
        .Method("WrongShape", &TReadRoot::WrongShape)
        .Field("Part1", &TReadRoot::Part1);
    g_events.clear();
  }
  std::string ReadError(const std::string& text) {
    TReadRoot root(nullptr);
    try {
      ReadComponentFromText(&root, text);
    } catch (const EReadError& e) {
      return e.Message;
    }
    return "no error";
  }
};

TEST_F(FormReading, CreatesOwnedComponentsSetsPropertiesFieldsAndHandlers) {
  TReadRoot root(nullptr);
  ReadComponentFromText(&root,
                        "object Root1: TReadRoot\n"
                        "  object Part1: TReadPart\n"
                        "    Count = -3\n"
                        "    Text = 'a''b'\n"
                        "    Flags = [fA, fC]\n"
                        "    Data = {0102}\n"
                        "    OnPing = PartPing\n"
                        "  end\n"
                        "end\n");
  EXPECT_EQ(root.Name(), "Root1");
  ASSERT_EQ(root.ComponentCount(), 1);
  ASSERT_EQ(root.Part1, root.Components(0));
  EXPECT_EQ(root.Part1->Name(), "Part1");
  EXPECT_EQ(root.Part1->count, -3);
  EXPECT_EQ(root.Part1->text, "a'b");
  EXPECT_EQ(root.Part1->flags, 5u);
  EXPECT_EQ(root.Part1->data, (std::vector<std::uint8_t>{1, 2}));
  ASSERT_TRUE(static_cast<bool>(root.Part1->OnPing));
  root.Part1->OnPing(root.Part1);
  EXPECT_EQ(g_events.back(), "ping");
}

TEST_F(FormReading, ComponentsAreLoadingWhileReadAndLoadedRunsInCreationOrder) {
  TReadRoot root(nullptr);
  ReadComponentFromText(&root,
                        "object Root1: TReadRoot\n"
                        "  object Part1: TReadPart\n    Count = 1\n  end\n"
                        "  object Part2: TReadPart\n  end\n"
                        "end\n");
  auto* p1 = root.Part1;
  EXPECT_EQ(p1->stateAtSet & (csLoading | csReading), csLoading | csReading);
  EXPECT_EQ(p1->stateAtLoaded & (csLoading | csReading), csLoading);
  EXPECT_EQ(g_events, (std::vector<std::string>{"Loaded root", "Loaded Part1", "Loaded Part2"}));
  EXPECT_EQ(p1->ComponentState() & (csLoading | csReading), 0u);
  EXPECT_EQ(root.ComponentState() & (csLoading | csReading), 0u);
}

TEST_F(FormReading, ResolvesForwardReferencesAfterReading) {
  TReadRoot root(nullptr);
  ReadComponentFromText(&root,
                        "object Root1: TReadRoot\n"
                        "  object Part1: TReadPart\n    Buddy = Part2\n  end\n"
                        "  object Part2: TReadPart\n  end\n"
                        "end\n");
  EXPECT_EQ(root.Part1->buddy, root.FindComponent("Part2"));
}

TEST_F(FormReading, UnknownClassNamesLine) {
  EXPECT_EQ(ReadError("object R: TReadRoot\n\n  object X: TNoSuchClass\n  end\nend"),
            "line 3: Class TNoSuchClass not found");
}

TEST_F(FormReading, UnknownPropertyNamesLine) {
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    Colour = 5\n  end\nend"),
            "line 3: Property Colour does not exist");
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n\n    Count.Sub = 5\n  end\nend"),
            "line 4: Property Count.Sub does not exist");
}

TEST_F(FormReading, UnknownOrMismatchedHandlerNamesLine) {
  EXPECT_EQ(
      ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    OnPing = NoSuchHandler\n  end\nend"),
      "line 3: Handler NoSuchHandler not found");
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    OnPing = WrongShape\n  end\nend"),
            "line 3: Handler WrongShape does not fit event OnPing");
}

TEST_F(FormReading, ValueOfWrongKindOrRangeNamesLine) {
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    Count = 'x'\n  end\nend"),
            "line 3: Invalid property value");
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    Count = 2147483648\n  end\nend"),
            "line 3: Value 2147483648 out of range");
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    Flags = [fA, fZ]\n  end\nend"),
            "line 3: Invalid set element fZ");
}

TEST_F(FormReading, UnresolvedReferenceAndDuplicateNameNameLine) {
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object Part1: TReadPart\n    Buddy = Ghost\n  end\nend"),
            "line 3: Component Ghost not found");
  EXPECT_EQ(ReadError("object R: TReadRoot\n  object P: TReadPart\n  end\n  object P: TReadPart\n  end\nend"),
            "line 4: A component named P already exists");
}

class TBlob : public TPersistent {
  DS_CLASS_NAME(TBlob)
 public:
  void DefineProperties(TFiler& filer) override {
    filer.DefineBinaryProperty("Data", [this](TStream& s) {
      std::uint8_t n = s.ReadValue<std::uint8_t>();
      bytes.resize(n);
      s.ReadBuffer(bytes.data(), n);
    });
  }
  std::vector<std::uint8_t> bytes;
};

class TBlobHolder : public TComponent {
  DS_CLASS_NAME(TBlobHolder)
 public:
  explicit TBlobHolder(TComponent* owner) : TComponent(owner) {}
  TBlob blob;
};

TEST_F(FormReading, DottedPathReachesDefinedBinaryPropertyOfNestedObject) {
  RegisterClass<TBlobHolder>(TComponent::StaticClassName())
      .Object("Picture", [](TBlobHolder& h) -> TPersistent* { return &h.blob; });
  TBlobHolder h(nullptr);
  ReadComponentFromText(&h, "object H: TBlobHolder\n  Picture.Data = {02 0A0B}\nend\n");
  EXPECT_EQ(h.blob.bytes, (std::vector<std::uint8_t>{0x0A, 0x0B}));
  try {
    ReadComponentFromText(&h, "object H: TBlobHolder\n\n  Picture.Data = {05 0A}\nend\n");
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message, "line 3: Stream read error");
  }
}

TEST_F(FormReading, FailedReadLeavesNoComponentLoading) {
  TReadRoot root(nullptr);
  EXPECT_THROW(
      ReadComponentFromText(&root, "object R: TReadRoot\n  object Part1: TReadPart\n    Bad = 1\n  end\nend"),
      EReadError);
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.Components(0)->ComponentState() & (csLoading | csReading), 0u);
  EXPECT_EQ(root.ComponentState() & (csLoading | csReading), 0u);
}

}  // namespace
