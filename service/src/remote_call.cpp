#include "remote_call.h"

#include <string>

#include "tmclient/tmd_error.h"

namespace service_detail {

namespace {

// The proxies' own result codes; operators quote them: never change a value.
constexpr int kErrInBeginStream = -9990;
constexpr int kErrMarshalIn = -9996;
constexpr int kErrInEndStream = -9989;
constexpr int kErrOutBeginStream = -9988;
constexpr int kErrMarshalOut = -9995;
constexpr int kErrOutEndStream = -9987;
constexpr int kErrException = -9985;

int Fail(QRSErrorMsg& cErrorMsg, int code, const std::string& text) {
  cErrorMsg.set_code(code);
  cErrorMsg.set_msg(text);
  return code;
}

int Run(CTmdClientObject& client, const RemoteOperation& op, STMSession* session,
        std::initializer_list<StreamStep> inputs, std::initializer_list<StreamStep> outputs,
        QRSErrorMsg& cErrorMsg, tmb_stream& in, tmb_stream& out) {
  const std::string fullName = op.fullName;
  const std::string scopedName = op.scopedName;

  if (!in.begin_stream((fullName + ".ParamIn").c_str()))
    return Fail(cErrorMsg, kErrInBeginStream, "TME_CLN_IN_BEGIN_STREAM: " + fullName);
  for (const StreamStep& input : inputs) {
    input.run(in, input.value);
    if (in.failed())
      return Fail(cErrorMsg, kErrMarshalIn, scopedName + " marshalling in error: " + input.name);
  }
  if (!in.end_stream())
    return Fail(cErrorMsg, kErrInEndStream, "TME_CLN_IN_END_STREAM: " + fullName);

  // The first output may be read while the reply arrives; what was read
  // ahead goes again unless the reply it came from is the answer.
  const StreamStep* first = outputs.size() > 0 ? outputs.begin() : nullptr;
  std::unique_ptr<records::ListAhead> ahead =
      first != nullptr && first->readAhead != nullptr ? first->readAhead(first->value) : nullptr;
  const int result =
      ahead ? client.call_server_watched(op.interfaceName, op.serviceCode, session, in, out, *ahead)
            : client.call_server(op.interfaceName, op.serviceCode, session, in, out);
  if (tmclient::IsLibraryError(result)) {
    if (ahead) ahead->Undo();
    return Fail(cErrorMsg, result, tmd_getErrorMsg(result));
  }

  if (!out.begin_stream((fullName + ".ParamOut").c_str())) {
    if (ahead) ahead->Undo();
    return Fail(cErrorMsg, kErrOutBeginStream, "TME_CLN_OUT_BEGIN_STREAM: " + fullName);
  }
  for (const StreamStep& output : outputs) {
    if (&output == first && ahead)
      ahead->Finish(out);
    else
      output.run(out, output.value);
    if (out.failed())
      return Fail(cErrorMsg, kErrMarshalOut, scopedName + " marshalling out error: " + output.name);
  }
  if (!out.end_stream())
    return Fail(cErrorMsg, kErrOutEndStream, "TME_CLN_OUT_END_STREAM: " + fullName);
  return result;
}

}  // namespace

int CallRemote(CTmdClientObject& client, const RemoteOperation& op, STMSession* session,
               std::initializer_list<StreamStep> inputs, std::initializer_list<StreamStep> outputs,
               QRSErrorMsg& cErrorMsg) {
  try {
    // Declared in this order so that the reply stream goes first on every way out.
    tmb_stream in;
    tmb_stream out;
    in.open();
    out.open();
    return Run(client, op, session, inputs, outputs, cErrorMsg, in, out);
  } catch (...) {
    // Whatever was thrown, and wherever: the caller gets a result, not an
    // exception. The streams are gone by now.
    try {
      return Fail(cErrorMsg, kErrException, std::string("TME_CLN_TMB_EXCEPTION: ") + op.fullName);
    } catch (...) {
      // Not even the text could be built; the code still tells what happened.
      cErrorMsg.set_code(kErrException);
      return kErrException;
    }
  }
}

}  // namespace service_detail
