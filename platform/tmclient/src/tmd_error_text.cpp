// The operators' texts of the library failure codes. Every non-ASCII literal
// of the library lives in this file (compiled to GBK), so that builds whose
// compiler cannot produce GBK leave it out.
#include "tmclient/tmd_error.h"

namespace {

struct CodeText {
  int code;
  const char* text;
};

constexpr CodeText kTexts[] = {
    {tmclient::kErrNotBound, "服务代理未连接（未绑定到消息中间件）"},
    {tmclient::kErrUnknownBroker, "无法解析消息中间件名称"},
    {tmclient::kErrBadBrokerUrl, "消息中间件地址格式错误"},
    {tmclient::kErrConnectFailed, "无法连接到服务端（连接被拒绝或主机不可达）"},
    {tmclient::kErrNoResponders, "没有可用的服务端响应该请求"},
    {tmclient::kErrTimeout, "等待服务端应答超时"},
    {tmclient::kErrConnectionLost, "接收应答时连接中断"},
    {tmclient::kErrBadReplyFrame, "服务端应答格式错误"},
    {tmclient::kErrReplyTooLarge, "服务端应答超过长度上限"},
    {tmclient::kErrRequestTooLarge, "请求超过长度上限"},
    {tmclient::kErrNoInProcService, "进程内服务未注册"},
    {tmclient::kErrUnsupportedScheme, "不支持的消息中间件地址类型"},
    {tmclient::kErrBadRequest, "请求数据未正确打包"},
    {tmclient::kErrServiceFailed, "服务端处理请求失败"},
    {tmclient::kErrTransportUnavailable, "无法加载消息中间件通讯组件"},
    {tmclient::kErrTlsUntrusted, "服务端证书不受信任（不是受信任的证书机构签发的）"},
    {tmclient::kErrTlsNameMismatch, "服务端证书与所连接的主机名不符"},
    {tmclient::kErrTlsExpired, "服务端证书已过期或尚未生效"},
    {tmclient::kErrTlsHandshake,
     "加密连接建立失败：客户端与服务端须同用 tls:// 或同用 tcp:// "
     "地址（或双方没有共同的协议版本）"},
    {tmclient::kErrCallAbandoned, "操作员已取消本次调用，不再等待服务端应答"},
    {tmclient::kErrTransport, "通讯层发生未知错误"},
};

}  // namespace

extern "C" const char* tmd_getErrorMsg(int code) {
  for (const CodeText& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return "未知的错误代码";
}
