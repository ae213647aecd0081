#pragma once

#include <initializer_list>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "records/list_read_ahead.h"
#include "records/operations.h"
#include "tmclient/broker_config.h"
#include "tmclient/qrs_errormsg.h"
#include "tmclient/tmb_stream.h"
#include "tmclient/tmd_client_object.h"

namespace service_detail {

// The names under which one remote operation travels.
struct RemoteOperation {
  const char* fullName;       // "busiordmgnt.MCustQryAccept.IBusiOrdmgnt.query_mpSoList"
  const char* scopedName;     // "MCustQryAccept::IBusiOrdmgnt::query_mpSoList"
  const char* interfaceName;  // given to call_server
  const char* serviceCode;    // given to call_server
};

// One parameter of an operation: its name in failure texts and how it goes
// onto or comes off a stream. Holds a pointer to the caller's value.
struct StreamStep {
  const char* name;
  void (*run)(tmb_stream& stream, void* value);
  void* value;
  // The first output only: a list of records read while the reply arrives
  // (records/list_read_ahead.h). Null for the rest.
  std::unique_ptr<records::ListAhead> (*readAhead)(void* value) = nullptr;
};

template <class T>
StreamStep Write(const char* name, const T& value) {
  return {name, [](tmb_stream& s, void* p) { s << *static_cast<const T*>(p); },
          const_cast<T*>(&value)};
}

template <class T>
StreamStep Read(const char* name, T& value) {
  return {name, [](tmb_stream& s, void* p) { s >> *static_cast<T*>(p); }, &value};
}

// The first output of an operation whose reply may be large: a list named
// `kListName` on the wire, read as it arrives.
template <const char* kListName, class R>
StreamStep ReadAhead(const char* name, std::vector<R>& list) {
  StreamStep step = Read(name, list);
  step.readAhead = [](void* p) -> std::unique_ptr<records::ListAhead> {
    return std::make_unique<records::ListReadAhead<R>>(*static_cast<std::vector<R>*>(p), kListName);
  };
  return step;
}

// Runs one remote operation through `client`: writes the inputs in order
// into the request stream, calls the server, and reads the outputs in order
// from the reply. Returns the result and fills `cErrorMsg` as the proxies'
// contracts describe. Never throws.
int CallRemote(CTmdClientObject& client, const RemoteOperation& op, STMSession* session,
               std::initializer_list<StreamStep> inputs, std::initializer_list<StreamStep> outputs,
               QRSErrorMsg& cErrorMsg);

template <operations::Id kId, class In, class Out, std::size_t... I, std::size_t... O>
int CallOperation(CTmdClientObject& client, STMSession* session, const In& inputs,
                  const Out& outputs, QRSErrorMsg& cErrorMsg, std::index_sequence<I...>,
                  std::index_sequence<O...>) {
  using Signature = operations::Signature<kId>;
  constexpr const operations::Descriptor& d = operations::Of(kId);
  static constexpr RemoteOperation kOp = {d.fullName, d.scopedName, d.interfaceName, d.serviceCode};
  if constexpr (d.retry == operations::Retry::kRepeatable) {
    // A sign-in with its nonce and a sign-out are safe to repeat (the back
    // office gives a repeated sign-in the same session, and ends an ended
    // session without error): the broker client tries them again after a
    // failure that may have reached a back office, as it does the idempotent
    // queries.
    static const bool declared = (tmclient::DeclareIdempotent(d.serviceCode), true);
    (void)declared;
  }
  auto output = [&]<std::size_t k>(std::integral_constant<std::size_t, k>) {
    const char* name = std::get<k>(Signature::kOutputs).name;
    auto& value = std::get<k>(outputs);
    if constexpr (k == 0 && d.reply == operations::Reply::kStreamed) {
      using Element = typename std::remove_reference_t<decltype(value)>::value_type;
      return ReadAhead<operations::kListName<Element>>(name, value);
    } else {
      return Read(name, value);
    }
  };
  return CallRemote(client, kOp, session,
                    {Write(std::get<I>(Signature::kInputs).name, std::get<I>(inputs))...},
                    {output(std::integral_constant<std::size_t, O>())...}, cErrorMsg);
}

// Runs operation kId of the catalogue (records/operations.h) through
// `client`: its names come from the catalogue, the values from the caller,
// one for each of its inputs and outputs, in order and of their types.
template <operations::Id kId, class... In, class... Out>
int CallOperation(CTmdClientObject& client, STMSession* session, std::tuple<const In&...> inputs,
                  std::tuple<Out&...> outputs, QRSErrorMsg& cErrorMsg) {
  static_assert(std::is_same_v<std::tuple<In...>, operations::Inputs<kId>>,
                "the inputs differ from the catalogue's");
  static_assert(std::is_same_v<std::tuple<Out...>, operations::Outputs<kId>>,
                "the outputs differ from the catalogue's");
  return CallOperation<kId>(client, session, inputs, outputs, cErrorMsg,
                            std::index_sequence_for<In...>(), std::index_sequence_for<Out...>());
}

}  // namespace service_detail
