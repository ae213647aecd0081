#include "querywindowcolumns.h"

#include <cstdint>

#include "guicommon/guicommon.h"
#include "toolkit/sysutils.h"
#include "tradekit/tradekit.h"

using namespace MMicroPaymentDef;

namespace {

constexpr int kColumnWidth = 100;

// A string once, not one per cell.
const std::string kDateTimePattern = "%Y/%M/%D %H:%N:%S";

template <class TRecord, class TField>
TRecord RecordOf(TField TRecord::*);
// The record a field belongs to.
template <auto Field>
using TRecordOf = decltype(RecordOf(Field));

// The cells made alike: a text field as it is, a number in decimal, an
// amount in fen as currency, a date-time as "%Y/%M/%D %H:%N:%S".
template <auto Field>
const std::string& Text(const TRecordOf<Field>& record, const SCellContext&, std::string&) {
  return record.*Field;
}
template <auto Field>
const std::string& Number(const TRecordOf<Field>& record, const SCellContext&, std::string& cell) {
  return cell = IntToStr(record.*Field);
}
template <auto Field>
const std::string& Amount(const TRecordOf<Field>& record, const SCellContext&, std::string& cell) {
  return cell = CurrencyToString(static_cast<int64_t>(record.*Field));
}
template <auto Field>
const std::string& Time(const TRecordOf<Field>& record, const SCellContext&, std::string& cell) {
  (record.*Field).toString(kDateTimePattern, cell);
  return cell;
}

// "[n] text": a code in brackets, a blank and its name.
const std::string& Bracketed(int code, const char* text, std::string& cell) {
  cell = "[";
  cell += std::to_string(code);
  cell += "] ";
  cell += text;
  return cell;
}

// The business type through the lookup's "[%d] %s" text.
const std::string& BusiType(const SMpInfo& record, const SCellContext& context, std::string& cell) {
  return cell.assign(context.pBusiTypes->GetTextByCode(record.BUSI_CODE));
}

// The certificate type's code and its name from the code table ("" for a
// code the table lacks).
const std::string& RegType(const SMpUserInfo& record, const SCellContext&, std::string& cell) {
  char name[kItemNameSize] = {};
  GetItemName(kItemCertificate, record.REG_TYPE, name);
  return Bracketed(record.REG_TYPE, name, cell);
}

// The status word of MP_STS; a value without one shows "未知".
const std::string& Status(const SMpUserInfo& record, const SCellContext&, std::string& cell) {
  const char* word = "未知";
  switch (record.MP_STS) {
    case 0:
      word = "历史";
      break;
    case 1:
      word = "正常";
      break;
    case 2:
      word = "已删除";
      break;
    default:
      break;
  }
  return Bracketed(record.MP_STS, word, cell);
}

constexpr SListColumn<SMpInfo> kLogColumns[] = {
    {"工单编号", kColumnWidth, Number<&SMpInfo::SO_NBR>},
    {"手机号码", kColumnWidth, Text<&SMpInfo::PHONE_ID>},
    {"业务类型", kColumnWidth, BusiType},
    {"流水号", kColumnWidth, Text<&SMpInfo::MPP_TRANSACTION_ID>},
    {"时间戳", kColumnWidth, Time<&SMpInfo::MPP_TIME>, MListExport::TCellKind::DateTime},
    {"涉及金额", kColumnWidth, Amount<&SMpInfo::AMOUNT>, MListExport::TCellKind::Amount},
    {"备注", kColumnWidth, Text<&SMpInfo::REMARK>},
};

constexpr SListColumn<SMpUserInfo> kUserColumns[] = {
    {"用户编号", kColumnWidth, Number<&SMpUserInfo::SERV_ID>},
    {"手机号码", kColumnWidth, Text<&SMpUserInfo::PHONE_ID>},
    {"交易密码", kColumnWidth, Text<&SMpUserInfo::MP_PWD>},
    {"证件类型", kColumnWidth, RegType},
    {"证件号码", kColumnWidth, Text<&SMpUserInfo::REG_NBR>},
    {"日消费限额", kColumnWidth, Amount<&SMpUserInfo::FEE_LIMIT>, MListExport::TCellKind::Amount},
    {"生效标志", kColumnWidth, Status},
    {"开户时间", kColumnWidth, Time<&SMpUserInfo::MP_CREATE_DATE>,
     MListExport::TCellKind::DateTime},
    {"MPP流水号", kColumnWidth, Text<&SMpUserInfo::MPP_TRANS_ID>},
    {"最新工单号", kColumnWidth, Number<&SMpUserInfo::SO_NBR>},
    {"备注", kColumnWidth, Text<&SMpUserInfo::REMARK>},
};

}  // namespace

std::span<const SListColumn<SMpInfo>> LogColumns() {
  return kLogColumns;
}

std::span<const SListColumn<SMpUserInfo>> UserColumns() {
  return kUserColumns;
}
