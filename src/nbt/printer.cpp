#include <cinttypes>

#include "console/console.h"
#include "nbt/tag.h"

namespace nbt {

namespace {

const char* label(bool showTypes, const char* text) { return showTypes ? text : ""; }

void indent(int32_t level) { printMessage("%*s", 2 * level, ""); }

void printChild(const TAG* child, int32_t level, bool showTypes) {
  // Readers never leave empty slots; a hand-built tree might, and prints nothing there.
  if (child) child->print(level, showTypes);
}

template <typename Element>
void printArray(const char* text, const std::vector<Element>& values, const char* format) {
  printMessage("%s[", text);
  const char* separator = "";
  for (Element v : values) {
    printMessage(format, separator, static_cast<long long>(v));
    separator = ",";
  }
  printMessage("]");
}

}  // namespace

void TAG_End::print(int32_t, bool) const {}
void TAG_Byte::print(int32_t, bool showTypes) const { printMessage("%s%hhd", label(showTypes, "(byte)"), value); }
void TAG_Short::print(int32_t, bool showTypes) const { printMessage("%s%hd", label(showTypes, "(short)"), value); }
void TAG_Int::print(int32_t, bool showTypes) const { printMessage("%s%d", label(showTypes, "(int)"), value); }
void TAG_Long::print(int32_t, bool showTypes) const {
  printMessage("%s%lld", label(showTypes, "(long)"), static_cast<long long>(value));
}
void TAG_Float::print(int32_t, bool showTypes) const {
  printMessage("%s%f", label(showTypes, "(float)"), static_cast<double>(value));
}
void TAG_Double::print(int32_t, bool showTypes) const { printMessage("%s%f", label(showTypes, "(double)"), value); }
void TAG_String::print(int32_t, bool showTypes) const {
  printMessage("%s\"%s\"", label(showTypes, "(string)"), value.c_str());
}
void TAG_Byte_Array::print(int32_t, bool showTypes) const {
  printArray(label(showTypes, "(bytearray)"), values, "%s%lld");
}
void TAG_Int_Array::print(int32_t, bool showTypes) const {
  printArray(label(showTypes, "(intarray)"), values, "%s%lld");
}
void TAG_Long_Array::print(int32_t, bool showTypes) const {
  printArray(label(showTypes, "(longarray)"), values, "%s%lld");
}

void TAG_List::print(int32_t level, bool showTypes) const {
  printMessage("%s[", label(showTypes, "(list)"));
  const char* separator = "";
  for (const TagPtr& element : elements) {
    printMessage("%s\n", separator);
    separator = ",";
    indent(level + 1);
    printChild(element.get(), level + 1, showTypes);
  }
  printMessage("\n");
  indent(level);
  printMessage("]");
}

void TAG_Compound::print(int32_t level, bool showTypes) const {
  printMessage("%s{", label(showTypes, "(compound)"));
  const char* separator = "";
  for (const auto& [name, child] : children) {
    printMessage("%s\n", separator);
    separator = ",";
    indent(level + 1);
    printMessage("\"%s\":", name.c_str());
    printChild(child.get(), level + 1, showTypes);
  }
  printMessage("\n");
  indent(level);
  printMessage("}");
}

}  // namespace nbt
