// ISO 8601 dates and times, as package time stamps carry them.
#pragma once

#include <cstdint>
#include <string>

namespace store {

// Milliseconds since 1970-01-01T00:00:00Z. A stated zone offset is applied; a
// value without a zone counts as UTC. Accepts a date alone (YYYY-MM-DD or
// YYYYMMDD) or with a time after "T" or a blank (hh:mm[:ss[.fff]] or
// hhmm[ss]). Raises std::invalid_argument for anything else.
int64_t ParseIso8601(const std::string& value);

} // namespace store
