#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "records/mcustqryaccept.h"
#include "records/mmicropaymentdef.h"
#include "records/msysmgntdef.h"
#include "tmclient/qrs_errormsg.h"

// The remote operations, each declared once in MPAY_OPERATIONS below. The
// client's proxies, the back office's dispatch and audit, its metrics, the
// rights an operator is given by default and the operation table of
// docs/wire-format.md all read this table; a wrong entry fails to build.
//
// One row: F(ID, PACKAGE, MODULE, INTERFACE, METHOD, CODE, ACCESS, RIGHT,
//            GRANT, RETRY, REPLY, (INPUTS...), (OUTPUTS...), (AUDITED...))
//
//   ID         the operation's enumerator in operations::Id
//   PACKAGE .. METHOD
//              the names it travels under: the interface given to
//              call_server is MODULE_INTERFACE, the streams are
//              PACKAGE.MODULE.INTERFACE.METHOD.ParamIn and .ParamOut, and
//              METHOD is its label in the metrics and the logs
//   CODE       its service code (eight capitals or digits, unique)
//   ACCESS     what the caller needs first (Access below)
//   RIGHT      the right the operator must hold with Access::kRight, else ""
//   GRANT      whether a new operator gets RIGHT unless told otherwise
//   RETRY      whether the client may send it again after a failure that may
//              have reached a server: kOnce never; kIdempotent when the broker
//              URL lists its code under idempotent= (running it twice does no
//              harm); kRepeatable always (the caller makes a repeat harmless)
//   REPLY      kStreamed: its first output is a list that the back office
//              streams as the rows come and the client reads as they arrive
//   INPUTS     the request stream's items in order: Item<Type>{"name"}; the
//              name is the proxy's parameter, quoted in its failure texts
//   OUTPUTS    the reply stream's items in order; an int output carries the
//              result once more and a QRSErrorMsg the error record
//   AUDITED    what the audit's conditions column holds: fields of the first
//              input record, each written as LABEL=value, separated by
//              blanks (Audited below)
//
// Names and codes travel on the wire: never change one. Adding an operation
// is adding a row, its handler in the back office (backoffice/src/
// service_handlers.cpp) and its proxy method; docs/architecture.md walks
// through it.
#define MPAY_OPERATIONS(F)                                                                         \
  F(kLog, busiordmgnt, MCustQryAccept, IBusiOrdmgnt, query_mpSoList, BABOMOMP, kRight, "BABOMOMP", \
    kByDefault, kIdempotent, kStreamed,                                                            \
    (Item<MCustQryAccept::SQuerySoInfoListIn>{"sIn"},                                              \
     Item<MCustQryAccept::SQueryLogSoInfo>{"sSoInfo"}),                                            \
    (Item<MMicroPaymentDef::SMpInfoList>{"listSoInfo"},                                            \
     Item<MMicroPaymentDef::SMpAcctStatInfo>{"sMpAcctStatInfo"}, Item<int>{"iReturnInfo"},         \
     Item<QRSErrorMsg>{"cErrorMsg"}),                                                              \
    (Audited{"SO_NBR", "SO_NBR", kIfGiven}, Audited{"BUSI_CODE", "BUSI_CODE", kIfGiven},           \
     Audited{"PHONE_ID", "PHONE_ID", kIfGiven}, Audited{"BEGIN_SO_DATE", "BEGIN", kIfGiven},       \
     Audited{"END_SO_DATE", "END", kIfGiven}))                                                     \
  F(kUser, custqryaccept, MCustQryAccept, ICustQryAccept, query_mppUser, BACUQQMP, kRight,         \
    "BACUQQMP", kByDefault, kIdempotent, kWhole,                                                   \
    (Item<MCustQryAccept::SFetchInfoIn>{"sIn"}, Item<MCustQryAccept::SQueryLogSoInfo>{"sSoInfo"}), \
    (Item<MMicroPaymentDef::SMpUserInfoList>{"listOut"}, Item<QRSErrorMsg>{"cErrorMsg"}),          \
    (Audited{"PHONE_ID", "PHONE_ID", kAlways}))                                                    \
  F(kExport, busiordmgnt, MCustQryAccept, IBusiOrdmgnt, record_listExport, BAEXPORT, kRight,       \
    "EXPORT", kByDefault, kOnce, kWhole,                                                           \
    (Item<MCustQryAccept::SListExportIn>{"sIn"},                                                   \
     Item<MCustQryAccept::SQueryLogSoInfo>{"sSoInfo"}),                                            \
    (Item<int>{"iReturnInfo"}, Item<QRSErrorMsg>{"cErrorMsg"}),                                    \
    (Audited{"LIST_NAME", "LIST", kAlways}, Audited{"OUTPUT", "OUTPUT", kAlways},                  \
     Audited{"FORMAT", "FORMAT", kAlways}, Audited{"ROW_COUNT", "ROWS", kAlways},                  \
     Audited{"CONDITIONS", "CONDITIONS", kIfGiven}))                                               \
  F(kSignIn, sysmgnt, MSysmgnt, IOperatorAuth, signIn, BASMLGIN, kOpen, "", kAsked, kRepeatable,   \
    kWhole, (Item<MSysmgntDef::SSignInIn>{"sIn"}),                                                 \
    (Item<MSysmgntDef::SOperator>{"op"}, Item<MSysmgntDef::SSessionInfo>{"sSession"},              \
     Item<QRSErrorMsg>{"cErrorMsg"}),                                                              \
    (Audited{"LOGIN_NAME", "LOGIN_NAME", kAlways}))                                                \
  F(kSignOut, sysmgnt, MSysmgnt, IOperatorAuth, signOut, BASMLGOT, kSession, "", kAsked,           \
    kRepeatable, kWhole, (), (Item<QRSErrorMsg>{"cErrorMsg"}), ())

namespace operations {

// What a caller needs before an operation runs.
enum class Access {
  kOpen,     // nothing (the sign-in)
  kSession,  // a live session (the sign-out)
  kRight,    // a live session whose operator holds the operation's right
};
enum class Grant { kAsked, kByDefault };
enum class Retry { kOnce, kIdempotent, kRepeatable };
enum class Reply { kWhole, kStreamed };

// One item of a request or reply stream: its type, and its name in the
// proxies' failure texts.
template <class T>
struct Item {
  using Type = T;
  const char* name;
};

enum class When { kIfGiven, kAlways };
// A field of an operation's first input, written into the audit's
// conditions as `label`=value: a text cut to 64 bytes, a number in decimal, a
// date-time as yyyymmddhhmmss. kIfGiven leaves out a zero number, an empty
// text and an unset date-time.
struct Audited {
  const char* field;
  const char* label;
  When when;
};

#define MPAY_OPERATION_ID_(ID, ...) ID,
// The operations in table order, then kUnknown for a request that names
// none of them (counted as such in the metrics).
enum class Id { MPAY_OPERATIONS(MPAY_OPERATION_ID_) kUnknown };
#undef MPAY_OPERATION_ID_
inline constexpr std::size_t kCount = static_cast<std::size_t>(Id::kUnknown);

// What every operation has, as plain values.
struct Descriptor {
  Id id;
  const char* interfaceName;  // "MCustQryAccept_IBusiOrdmgnt", given to call_server
  const char* serviceCode;    // "BABOMOMP"
  const char* fullName;       // "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList"
  const char* scopedName;     // "MCustQryAccept::IBusiOrdmgnt::query_mpSoList"
  const char* requestStream;  // fullName + ".ParamIn"
  const char* replyStream;    // fullName + ".ParamOut"
  const char* label;          // "query_mpSoList": metrics and logs
  Access access;
  const char* right;  // "" unless access is kRight
  Grant grant;
  Retry retry;
  Reply reply;
};

namespace detail {
using namespace MCustQryAccept;
using namespace MMicroPaymentDef;
using namespace MSysmgntDef;
inline constexpr When kIfGiven = When::kIfGiven;
inline constexpr When kAlways = When::kAlways;

template <class... A>
constexpr std::array<Audited, sizeof...(A)> AuditList(A... a) {
  return {a...};
}
}  // namespace detail

#define MPAY_OPERATION_UNPAREN_(...) __VA_ARGS__
#define MPAY_OPERATION_DESCRIPTOR_(ID, PKG, MOD, IFACE, METHOD, CODE, ACCESS, RIGHT, GRANT, RETRY, \
                                   REPLY, ...)                                                     \
  Descriptor{Id::ID,                                                                               \
             #MOD "_" #IFACE,                                                                      \
             #CODE,                                                                                \
             #PKG "." #MOD "." #IFACE "." #METHOD,                                                 \
             #MOD "::" #IFACE "::" #METHOD,                                                        \
             #PKG "." #MOD "." #IFACE "." #METHOD ".ParamIn",                                      \
             #PKG "." #MOD "." #IFACE "." #METHOD ".ParamOut",                                     \
             #METHOD,                                                                              \
             Access::ACCESS,                                                                       \
             RIGHT,                                                                                \
             Grant::GRANT,                                                                         \
             Retry::RETRY,                                                                         \
             Reply::REPLY},
inline constexpr std::array<Descriptor, kCount> kAll = {
    MPAY_OPERATIONS(MPAY_OPERATION_DESCRIPTOR_)};
#undef MPAY_OPERATION_DESCRIPTOR_

constexpr const Descriptor& Of(Id id) {
  return kAll[static_cast<std::size_t>(id)];
}

// The operation a request names; null for none.
constexpr const Descriptor* Find(std::string_view interfaceName, std::string_view serviceCode) {
  for (const Descriptor& d : kAll)
    if (serviceCode == d.serviceCode && interfaceName == d.interfaceName) return &d;
  return nullptr;
}

// "query_mpSoList" ... in table order, then "unknown".
constexpr std::string_view Label(Id id) {
  return id == Id::kUnknown ? "unknown" : Of(id).label;
}

// The rights a new operator gets unless told otherwise, comma-separated.
std::string DefaultRights();

// Every right some operation needs, comma-separated, in table order.
std::string KnownRights();

// Whether some operation needs RIGHT.
constexpr bool IsKnownRight(std::string_view right) {
  for (const Descriptor& d : kAll)
    if (d.access == Access::kRight && right == d.right) return true;
  return false;
}

// The items and audited fields of one operation, as types and constants:
// Signature<Id::kLog>::kInputs is a tuple of Item<...>.
template <Id>
struct Signature;

#define MPAY_OPERATION_SIGNATURE_(ID, PKG, MOD, IFACE, METHOD, CODE, ACCESS, RIGHT, GRANT, RETRY, \
                                  REPLY, INPUTS, OUTPUTS, AUDITED)                                \
  template <>                                                                                     \
  struct Signature<Id::ID> {                                                                      \
    static constexpr auto kInputs = [] {                                                          \
      using namespace detail;                                                                     \
      return std::make_tuple(MPAY_OPERATION_UNPAREN_ INPUTS);                                     \
    }();                                                                                          \
    static constexpr auto kOutputs = [] {                                                         \
      using namespace detail;                                                                     \
      return std::make_tuple(MPAY_OPERATION_UNPAREN_ OUTPUTS);                                    \
    }();                                                                                          \
    static constexpr auto kAudited = [] {                                                         \
      using namespace detail;                                                                     \
      return AuditList(MPAY_OPERATION_UNPAREN_ AUDITED);                                          \
    }();                                                                                          \
  };
MPAY_OPERATIONS(MPAY_OPERATION_SIGNATURE_)
#undef MPAY_OPERATION_SIGNATURE_

// The types of a tuple of items: std::tuple<Item<A>, Item<B>> gives
// std::tuple<A, B>.
template <class Items>
struct TypesOf;
template <class... T>
struct TypesOf<std::tuple<Item<T>...>> {
  using type = std::tuple<T...>;
};
template <Id kId>
using Inputs = typename TypesOf<std::remove_cv_t<decltype(Signature<kId>::kInputs)>>::type;
template <Id kId>
using Outputs = typename TypesOf<std::remove_cv_t<decltype(Signature<kId>::kOutputs)>>::type;

// The name that frames a list of R on a stream. kHasListName says whether R
// has one: GCC does not take a global's address compared with null as a
// constant when the sanitizers are on.
template <class R>
inline constexpr const char* kListName = nullptr;
template <class R>
inline constexpr bool kHasListName = false;
#define MPAY_LIST_NAME_(R, NAME)                    \
  template <>                                       \
  inline constexpr const char* kListName<R> = NAME; \
  template <>                                       \
  inline constexpr bool kHasListName<R> = true;
MPAY_LIST_NAME_(MMicroPaymentDef::SMpInfo, MMicroPaymentDef::kSMpInfoListName)
MPAY_LIST_NAME_(MMicroPaymentDef::SMpUserInfo, MMicroPaymentDef::kSMpUserInfoListName)
#undef MPAY_LIST_NAME_

// The checks that make a wrong row fail to build.
namespace detail {

constexpr bool IsCode(std::string_view s) {
  if (s.size() != 8) return false;
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

constexpr bool RowsAreSound() {
  for (std::size_t i = 0; i < kCount; ++i) {
    const Descriptor& d = kAll[i];
    if (static_cast<std::size_t>(d.id) != i || !IsCode(d.serviceCode)) return false;
    const bool needsRight = d.access == Access::kRight;
    if (needsRight != !std::string_view(d.right).empty()) return false;
    if (needsRight && std::string_view(d.right).find(',') != std::string_view::npos) return false;
    if (d.grant == Grant::kByDefault && !needsRight) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (std::string_view(kAll[j].serviceCode) == d.serviceCode) return false;
  }
  return true;
}
static_assert(RowsAreSound(),
              "an operation row has a malformed or repeated service code, or a right that does "
              "not match its access");

template <class R>
constexpr bool HasField(std::string_view name) {
  for (const char* f : R::kFieldNames)
    if (name == f) return true;
  return false;
}

// Every audited field is a field of the first input record.
template <Id kId>
constexpr bool AuditsItsInput() {
  constexpr auto& audited = Signature<kId>::kAudited;
  if constexpr (audited.empty()) {
    return true;
  } else {
    using First = std::tuple_element_t<0, Inputs<kId>>;
    for (const Audited& a : audited)
      if (!HasField<First>(a.field) || std::string_view(a.label).empty()) return false;
    return true;
  }
}

#define MPAY_OPERATION_AUDIT_CHECK_(ID, ...) \
  static_assert(AuditsItsInput<Id::ID>(),    \
                "operation " #ID ": an audited field is not a field of its first input");
MPAY_OPERATIONS(MPAY_OPERATION_AUDIT_CHECK_)
#undef MPAY_OPERATION_AUDIT_CHECK_

// A streamed reply begins with a list of records.
template <class T>
inline constexpr bool kIsList = false;
template <class R>
inline constexpr bool kIsList<std::vector<R>> = kHasListName<R>;
template <Id kId>
constexpr bool StreamsAList() {
  if constexpr (Of(kId).reply == Reply::kWhole) {
    return true;
  } else {
    return std::tuple_size_v<Outputs<kId>> > 0 && kIsList<std::tuple_element_t<0, Outputs<kId>>>;
  }
}
#define MPAY_OPERATION_STREAM_CHECK_(ID, ...) \
  static_assert(StreamsAList<Id::ID>(),       \
                "operation " #ID ": a streamed reply must begin with a list");
MPAY_OPERATIONS(MPAY_OPERATION_STREAM_CHECK_)
#undef MPAY_OPERATION_STREAM_CHECK_

}  // namespace detail

}  // namespace operations
