// Parameter conventions shared by every action handler.
//
// The host hands each action one parameter text. Handlers take it apart into
// fields (the comma rule, or a delimiter such as "|"), read numbers from the
// fields and write numbers back into host variables. Everything here is pure
// code: no <windows.h>, so it builds and is tested natively as well.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wl {

// Number of fields in `text`, at least 1. An empty delimiter selects the
// comma rule; any other text is used as a literal delimiter.
int CountFields(const std::string& text, const std::string& delimiter = std::string());

// Fields 1..CountFields(text, delimiter), under the same rule.
std::vector<std::string> SplitFields(const std::string& text,
                                     const std::string& delimiter = std::string());

// The same fields into `fields` (replaced), reusing its room.
void SplitFieldsInto(const std::string& text, const std::string& delimiter,
                     std::vector<std::string>& fields);

// The number at the start of a field (decimal with exponent, or the "&H",
// "&O", "&B" forms); 0 when the field holds none.
long double ReadNumber(const std::string& field);

// Round to nearest, a value exactly halfway going to the even neighbour.
// Values beyond the signed 64-bit range saturate; NaN gives 0.
int64_t ToInteger(long double number);

// ToInteger(ReadNumber(field)); a plain whole number (the usual port, count
// or code) is read without going through floating point.
int64_t ReadInteger(const std::string& field);

// A whole number as text with one leading sign position: " 0", " 57", "-1".
std::string NumberText(int64_t number);

// The same text written in place, for handing to the host without an
// allocation or a copy.
class NumberChars {
 public:
  explicit NumberChars(int64_t number);
  const char* c_str() const { return text_ + start_; }
  size_t size() const { return sizeof text_ - 1 - start_; }

 private:
  char text_[24];
  size_t start_;
};

// ReadInteger(field) cut to its low 32 bits: how handlers read the numeric
// fields of a parameter text.
int32_t FieldInteger(const std::string& field);

}  // namespace wl
