#pragma once

// The operator record's fields as mp_operator's columns, for every store:
// field OP_NAME is column op_name, date-times are yyyymmddhhmmss integers,
// and the password field has no column. Driven by the record's field table,
// so that a field added to the record needs no edit here.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "backoffice/protocol.h"
#include "backoffice/reply_rows.h"
#include "records/msysmgntdef.h"

namespace backoffice::operator_columns {

using MSysmgntDef::SOperator;

constexpr int kPasswordField = 9;
static_assert(std::string_view(SOperator::kFieldNames[kPasswordField]) == "OP_PASSWD");

// The mask bits of every field with a column.
constexpr uint64_t kStoredFields =
    ((uint64_t{1} << SOperator::kFieldCount) - 1) & ~(uint64_t{1} << kPasswordField);

// Field `field`'s column name.
std::string ColumnOf(int field);
// "op_id, op_name, ...": every column, in field order.
std::string Columns();

// Hands each stored field to `put`, in column order, as int64_t or
// std::string_view.
template <class Sink>
void Put(const SOperator& r, Sink&& put) {
  PutFields(r, put, uint64_t{1} << kPasswordField);
}

// Reads each stored field from `row` (Int(column) and Text(column)) from
// column `first` on; returns the next column. Every stored field's mask bit
// is set.
template <class Row>
int Get(const Row& row, int first, SOperator& r) {
  int c = first;
  SOperator::ForEachField(r, [&](int k, auto& field) {
    using T = std::decay_t<decltype(field)>;
    if (k == kPasswordField) return true;
    if constexpr (std::is_same_v<T, std::string>) {
      field.assign(row.Text(c++));
    } else if constexpr (std::is_same_v<T, QRSDateTime>) {
      field = FromStamp(row.Int(c++));
    } else {
      field = static_cast<T>(row.Int(c++));
    }
    return true;
  });
  r.Marker = r.UsedMarker = kStoredFields;
  return c;
}

}  // namespace backoffice::operator_columns
