#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "tmclient/qrs_datetime.h"

// The one definition of a record type. A record is declared by a field table,
// an X-macro that applies its argument to every field as F(k, type, NAME),
// with k counting from 0 in declaration order:
//
//   #define MPAY_SFOO_FIELDS(F) F(0, int, A) F(1, std::string, B)
//   MPAY_RECORD(SFoo, "MModule.SFoo", MPAY_SFOO_FIELDS)
//
// which gives the public fields in order, then the presence masks Marker and
// UsedMarker (bit k: field k carries a value), default construction (numbers
// 0, strings empty, date-times default, masks 0), set_NAME (assigns, then ORs
// bit k into both masks), get_NAME, and copying that takes the masks first
// and then every field whatever the masks say. ForEachField(record, f) calls
// f(k, field) for every field in order until f returns false, and returns
// false when it stopped early; the stream coding is built on it. kFieldNames[k]
// is field k's name, for code that maps fields to columns by name.

#define MPAY_RECORD_MEMBER_(k, T, NAME) T NAME{};
#define MPAY_RECORD_COUNT_(k, T, NAME) +1
#define MPAY_RECORD_NAME_(k, T, NAME) #NAME,
#define MPAY_RECORD_BIT_CHECK_(k, T, NAME) static_assert(k == __COUNTER__ - kCounterBase_ - 1);
#define MPAY_RECORD_COPY_(k, T, NAME) NAME = o.NAME;
#define MPAY_RECORD_MOVE_(k, T, NAME) NAME = std::move(o.NAME);
#define MPAY_RECORD_VISIT_(k, T, NAME) \
  if (!f(k, r.NAME)) return false;
#define MPAY_RECORD_ACCESSORS_(k, T, NAME) \
  void set_##NAME(const T& v) {            \
    NAME = v;                              \
    Marker |= uint64_t{1} << (k);          \
    UsedMarker |= uint64_t{1} << (k);      \
  }                                        \
  const T& get_##NAME() const {            \
    return NAME;                           \
  }

#define MPAY_RECORD(R, STREAM_NAME, FIELDS)                                   \
  struct R {                                                                  \
    FIELDS(MPAY_RECORD_MEMBER_)                                               \
    uint64_t Marker = 0;                                                      \
    uint64_t UsedMarker = 0;                                                  \
                                                                              \
    /* Name that frames the record on a stream; on the wire, never change. */ \
    static constexpr const char* kStreamName = STREAM_NAME;                   \
    static constexpr int kFieldCount = 0 FIELDS(MPAY_RECORD_COUNT_);          \
    static_assert(kFieldCount <= 64, "a record has at most 64 fields");       \
    /* Field k's name, as declared. */                                        \
    static constexpr const char* kFieldNames[] = {FIELDS(MPAY_RECORD_NAME_)}; \
                                                                              \
    /* Not defaulted, so that a value-initialised record (a list element */   \
    /* being read) sets its members without zero-filling itself first.   */   \
    R() noexcept {}                                                           \
    R(const R& o) { *this = o; }                                              \
    R(R&& o) noexcept { *this = std::move(o); }                               \
    R& operator=(const R& o) {                                                \
      if (this != &o) {                                                       \
        Marker = o.Marker;                                                    \
        UsedMarker = o.UsedMarker;                                            \
        FIELDS(MPAY_RECORD_COPY_)                                             \
      }                                                                       \
      return *this;                                                           \
    }                                                                         \
    R& operator=(R&& o) noexcept {                                            \
      if (this != &o) {                                                       \
        Marker = o.Marker;                                                    \
        UsedMarker = o.UsedMarker;                                            \
        FIELDS(MPAY_RECORD_MOVE_)                                             \
      }                                                                       \
      return *this;                                                           \
    }                                                                         \
                                                                              \
    FIELDS(MPAY_RECORD_ACCESSORS_)                                            \
                                                                              \
    template <class Rec, class F>                                             \
    static bool ForEachField(Rec& r, F&& f) {                                 \
      FIELDS(MPAY_RECORD_VISIT_)                                              \
      return true;                                                            \
    }                                                                         \
                                                                              \
   private:                                                                   \
    static constexpr int kCounterBase_ = __COUNTER__;                         \
    FIELDS(MPAY_RECORD_BIT_CHECK_)                                            \
  };
