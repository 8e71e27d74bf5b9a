// The reader of stored form descriptions: text in the form
//
//   object Form1: TForm1
//     Caption = 'Kirno' + #13#10 +
//       'Desktop'
//     OnCreate = FormCreate
//     object Timer1: TDXTimer
//       Interval = 5
//     end
//   end
//
// Values: integers (-5, $FF), floats, strings ('it''s', #13, concatenated with + across lines), True/False,
// identifiers, sets [a, b], binary data { 0A 0B ... }, collections < item ... end >, nil. Property names may
// be dotted (Display.Width). Parsing (text to tree) is kept apart from applying the tree to components.
#pragma once

#include <string>
#include <vector>

#include "core/PropTable.h"

struct TReadObject {
  int line = 0;
  std::string name;  // may be empty
  std::string className;
  std::vector<TReadProperty> props;
  std::vector<TReadObject> children;
};

// Parses a description. Raises EReadError "line N: ..." for any syntax error; never reads out of bounds and
// refuses nesting deeper than a fixed limit.
TReadObject ParseFormText(const std::string& text);

// Reads a parsed description into Root: sets Root's name and properties, creates the nested components
// (owned by Root) by class name, wires handlers by name from Root's method table, resolves component
// references, then clears csReading and calls Loaded on Root and every created component in creation order.
// Every component read carries csLoading and csReading until then. Unknown classes, properties, handlers
// and components raise EReadError "line N: ..."; errors of a property's own setter pass unchanged.
void ReadComponent(TComponent* Root, const TReadObject& Desc);
void ReadComponentFromText(TComponent* Root, const std::string& Text);

// Stored descriptions by the class name of their root (a form class); the form reads its own on creation.
void RegisterFormText(const std::string& ClassName, const std::string& Text);
const std::string* FindFormText(const std::string& ClassName);
