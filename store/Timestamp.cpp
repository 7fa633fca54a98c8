#include "store/Timestamp.h"

#include <stdexcept>

namespace store {

namespace {

class Cursor {
public:
  explicit Cursor(const std::string& s) : s_(s) {}
  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
  bool Take(char c) {
    if (Peek() != c)
      return false;
    ++pos_;
    return true;
  }
  int Digits(int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
      char c = Peek();
      if (c < '0' || c > '9')
        Fail();
      value = value * 10 + (c - '0');
      ++pos_;
    }
    return value;
  }
  [[noreturn]] void Fail() const {
    throw std::invalid_argument("'" + s_ + "' is not a valid ISO 8601 date and time");
  }

private:
  const std::string& s_;
  size_t pos_ = 0;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

} // namespace

int64_t ParseIso8601(const std::string& value) {
  Cursor c(value);
  const int year = c.Digits(4);
  const bool extended = c.Take('-');
  const int month = c.Digits(2);
  if (extended && !c.Take('-'))
    c.Fail();
  const int day = c.Digits(2);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0))
    c.Fail();
  int64_t ms = DaysFromCivil(year, month, day) * 86400000;
  if (c.AtEnd())
    return ms;
  if (!c.Take('T') && !c.Take(' '))
    c.Fail();
  const int hour = c.Digits(2);
  const bool colons = c.Take(':');
  const int minute = c.Digits(2);
  int second = 0;
  int millis = 0;
  if (colons ? c.Take(':') : (c.Peek() >= '0' && c.Peek() <= '9')) {
    second = c.Digits(2);
    if (c.Take('.') || c.Take(',')) {
      int scale = 100;
      if (c.Peek() < '0' || c.Peek() > '9')
        c.Fail();
      while (c.Peek() >= '0' && c.Peek() <= '9') {
        millis += (c.Peek() - '0') * scale;
        scale /= 10;
        c.Digits(1);
      }
    }
  }
  if (hour > 24 || minute > 59 || second > 60 || (hour == 24 && (minute || second || millis)))
    c.Fail();
  ms += ((hour * 60 + minute) * 60 + second) * 1000LL + millis;
  if (c.Take('Z')) {
    // UTC
  } else if (c.Peek() == '+' || c.Peek() == '-') {
    const int sign = c.Take('-') ? -1 : (c.Take('+'), 1);
    const int oh = c.Digits(2);
    int om = 0;
    if (c.Take(':') || !c.AtEnd())
      om = c.Digits(2);
    if (oh > 23 || om > 59)
      c.Fail();
    ms -= sign * (oh * 60 + om) * 60000LL;
  }
  if (!c.AtEnd())
    c.Fail();
  return ms;
}

} // namespace store
