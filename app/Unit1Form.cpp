#include "app/Unit1.h"

const std::string& Form1Text() {
  static const std::string text =
#include "app/Unit1Form.inc"
      ;
  return text;
}
