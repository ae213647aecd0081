#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "records/list_read_ahead.h"
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

}  // namespace service_detail
