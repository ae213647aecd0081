#pragma once

// The rows of the replies as the stores hand them over, driven by the reply
// records' own field tables: one column map per record (field k <-> the SQL
// column or expression that holds it), and one generic block of rows that
// both stores fill and the replies are written from. A field added to a
// record and not mapped here does not build.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "backoffice/stamp.h"
#include "records/mmicropaymentdef.h"

namespace backoffice {

// The column of each field of record R, in the order of its field table,
// and the table they are in. Both stores select them (as kSelect says) and
// load the demo rows into them; date-times are stored as yyyymmddhhmmss.
template <class R>
struct ColumnMap;

// `columns` with field k's selected as `expression` instead.
template <std::size_t N>
constexpr std::array<const char*, N> SelectedAs(std::array<const char*, N> columns, std::size_t k,
                                                const char* expression) {
  columns[k] = expression;
  return columns;
}

template <>
struct ColumnMap<MMicroPaymentDef::SMpInfo> {
  static constexpr char kTable[] = "mp_so_log";
  static constexpr std::array<const char*, MMicroPaymentDef::SMpInfo::kFieldCount> kColumns{
      "so_nbr", "busi_code", "phone_id", "amount", "mpp_transaction_id", "so_date", "remark"};
  static constexpr auto kSelect = kColumns;
};

template <>
struct ColumnMap<MMicroPaymentDef::SMpUserInfo> {
  static constexpr char kTable[] = "mp_user";
  static constexpr std::array<const char*, MMicroPaymentDef::SMpUserInfo::kFieldCount> kColumns{
      "serv_id", "phone_id",       "mp_pwd",       "reg_type", "reg_nbr", "fee_limit",
      "mp_sts",  "mp_create_date", "mpp_trans_id", "so_nbr",   "remark"};
  // The stored transaction password never leaves the database: only a mask
  // of it, when there is one.
  static constexpr auto kSelect =
      SelectedAs(kColumns, 2, "CASE WHEN mp_pwd <> '' THEN '******' ELSE '' END");
};

template <class R>
constexpr bool EveryFieldMapped() {
  for (const char* c : ColumnMap<R>::kColumns) {
    if (c == nullptr || *c == '\0') return false;
  }
  return true;
}
static_assert(EveryFieldMapped<MMicroPaymentDef::SMpInfo>(), "a log field has no column");
static_assert(EveryFieldMapped<MMicroPaymentDef::SMpUserInfo>(), "a user field has no column");

// "a, b, c": the names in `names`.
template <class Names>
std::string CommaList(const Names& names) {
  std::string list;
  for (const char* c : names) {
    if (!list.empty()) list += ", ";
    list += c;
  }
  return list;
}

// "INSERT INTO table (a, b) VALUES (?1, ?2)".
template <class Names>
std::string InsertSql(std::string_view table, const Names& columns) {
  std::string values;
  for (std::size_t k = 1; k <= std::size(columns); ++k) {
    values += (k > 1 ? ", ?" : "?") + std::to_string(k);
  }
  return "INSERT INTO " + std::string(table) + " (" + CommaList(columns) + ") VALUES (" + values +
         ")";
}

// The select list of record R.
template <class R>
std::string SelectList() {
  return CommaList(ColumnMap<R>::kSelect);
}

// Hands each field of `r` to `put` as its column stores it, in field order:
// int64_t for numbers and date-times (yyyymmddhhmmss), std::string_view for
// texts. The fields whose bit is set in `skip` are left out.
template <class R, class Put>
void PutFields(const R& r, Put&& put, uint64_t skip = 0) {
  R::ForEachField(r, [&](int k, const auto& field) {
    using T = std::decay_t<decltype(field)>;
    if ((skip >> k) & 1u) return true;
    if constexpr (std::is_same_v<T, std::string>) {
      put(std::string_view(field));
    } else if constexpr (std::is_same_v<T, QRSDateTime>) {
      put(ToStamp(field));
    } else {
      put(static_cast<int64_t>(field));
    }
    return true;
  });
}

// Rows of record R, compactly: per row its presence mask, where its texts
// start, and one 64-bit slot per field (a number, a date-time's stamp, or a
// text's length); the texts one after the other in one arena. Filled from a
// store's current row, written out as records.
template <class R>
class RowBlock {
 public:
  static constexpr std::size_t kStride = R::kFieldCount + 2;

  // Appends the current row of `source`, which answers Null(k), Int(k) and
  // Text(k) for column k of the record's select list. A null column is an
  // absent field: its presence bits stay clear.
  template <class Source>
  void Add(const Source& source) {
    const std::size_t base = vSlots.size();
    vSlots.resize(base + kStride);
    uint64_t present = 0;
    vSlots[base + 1] = static_cast<int64_t>(strText.size());
    R::ForEachField(Prototype(), [&](int k, const auto& field) {
      using T = std::decay_t<decltype(field)>;
      int64_t& slot = vSlots[base + 2 + static_cast<std::size_t>(k)];
      if (source.Null(k)) return true;
      present |= uint64_t{1} << k;
      if constexpr (std::is_same_v<T, std::string>) {
        const std::string_view text = source.Text(k);
        strText.append(text);
        slot = static_cast<int64_t>(text.size());
      } else {
        slot = source.Int(k);
      }
      return true;
    });
    vSlots[base] = static_cast<int64_t>(present);
  }

  // Appends row `i` of `other` as it is.
  void AddRow(const RowBlock& other, std::size_t i) {
    const int64_t* row = other.vSlots.data() + i * kStride;
    std::size_t textSize = 0;  // a row's texts lie one after the other
    R::ForEachField(Prototype(), [&](int k, const auto& field) {
      if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
        textSize += static_cast<std::size_t>(row[2 + k]);
      return true;
    });
    const std::size_t base = vSlots.size();
    vSlots.insert(vSlots.end(), row, row + kStride);
    vSlots[base + 1] = static_cast<int64_t>(strText.size());
    strText.append(other.strText, static_cast<std::size_t>(row[1]), textSize);
  }

  std::size_t size() const { return vSlots.size() / kStride; }
  bool empty() const { return vSlots.empty(); }
  std::size_t textBytes() const { return strText.size(); }
  void Clear() {
    vSlots.clear();
    strText.clear();
  }

  // The place of `member` in R's field table.
  template <class T>
  static int FieldIndex(T R::*member) {
    const R& p = Prototype();
    int found = -1;
    R::ForEachField(p, [&](int k, const auto& field) {
      if (static_cast<const void*>(&field) == static_cast<const void*>(&(p.*member))) found = k;
      return true;
    });
    return found;
  }

  // Field k of row i as a number (0 when absent or a text).
  int64_t Int(std::size_t i, int k) const {
    return vSlots[i * kStride + 2 + static_cast<std::size_t>(k)];
  }

  // Row i into `r`: every field, both masks as the row has them; absent
  // fields take their default value.
  void Get(std::size_t i, R& r) const {
    const int64_t* row = &vSlots[i * kStride];
    const uint64_t present = static_cast<uint64_t>(row[0]);
    const char* text = strText.data() + row[1];
    R::ForEachField(r, [&](int k, auto& field) {
      using T = std::decay_t<decltype(field)>;
      const int64_t slot = row[2 + k];
      if (!((present >> k) & 1u)) {
        field = T{};
      } else if constexpr (std::is_same_v<T, std::string>) {
        field.assign(text, static_cast<std::size_t>(slot));
        text += slot;
      } else if constexpr (std::is_same_v<T, QRSDateTime>) {
        field = FromStamp(slot);
      } else {
        field = static_cast<T>(slot);
      }
      return true;
    });
    r.Marker = r.UsedMarker = present;
  }

 private:
  static const R& Prototype() {
    static const R r;
    return r;
  }

  std::vector<int64_t> vSlots;
  std::string strText;
};

using LogRows = RowBlock<MMicroPaymentDef::SMpInfo>;
using UserRows = RowBlock<MMicroPaymentDef::SMpUserInfo>;

// Where a store puts the rows of one query.
template <class R>
class RowSink {
 public:
  virtual ~RowSink() = default;
  // The block the next row goes into.
  virtual RowBlock<R>& Block() = 0;
  // Called after each row added to Block(); false when no more rows are
  // wanted: the query stops there.
  virtual bool Added() = 0;
};

using LogRowSink = RowSink<MMicroPaymentDef::SMpInfo>;
using UserRowSink = RowSink<MMicroPaymentDef::SMpUserInfo>;

// A sink that keeps every row in one block.
template <class R>
class CollectRows : public RowSink<R> {
 public:
  RowBlock<R>& Block() override { return cRows; }
  bool Added() override { return true; }
  const RowBlock<R>& rows() const { return cRows; }

 private:
  RowBlock<R> cRows;
};

}  // namespace backoffice
