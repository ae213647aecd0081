#pragma once

// Whole streams: a stream begin, values in order, the stream end; written
// and read the way the callers of the two operations do.

#include <string>

#include "tmclient/tmb_stream.h"

namespace samples {

// Reopens `s` and writes the stream `name` holding `values`.
template <class... Values>
void WriteFrame(tmb_stream& s, const char* name, const Values&... values) {
  s.open();
  s.begin_stream(name);
  (s << ... << values);
  s.end_stream();
}

// The bytes of the stream `name` holding `values`.
template <class... Values>
std::string Frame(const char* name, const Values&... values) {
  tmb_stream s;
  WriteFrame(s, name, values...);
  return std::string(s.bytes());
}

// Reads the stream `name` from `s` (loaded or attached) into `values` in
// order, stopping at the first failure; true when everything, the stream
// end included, decoded.
template <class... Values>
bool ReadFrame(tmb_stream& s, const char* name, Values&... values) {
  if (!s.begin_stream(name)) return false;
  bool ok = true;
  ((ok = ok && !(s >> values).failed()), ...);
  return ok && s.end_stream();
}

}  // namespace samples
