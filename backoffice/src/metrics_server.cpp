#include "backoffice/metrics_server.h"

#include <civetweb.h>

#include <cstring>
#include <string_view>

#include "backoffice/log.h"

namespace backoffice {
namespace {

constexpr std::string_view kScheme = "tcp://";
// What the library says while Start() runs on this thread: the reason for a
// failure is in its messages (the port in use), not in its error text.
thread_local std::string* tStartMessages = nullptr;
constexpr char kPlain[] = "text/plain; charset=utf-8";
// What the Prometheus text format is served as.
constexpr char kExposition[] = "text/plain; version=0.0.4; charset=utf-8";

void Send(mg_connection* conn, int status, const char* type, std::string_view body,
          const char* extraHeader = nullptr) {
  mg_response_header_start(conn, status);
  mg_response_header_add(conn, "Content-Type", type, -1);
  mg_response_header_add(conn, "Content-Length", std::to_string(body.size()).c_str(), -1);
  mg_response_header_add(conn, "Cache-Control", "no-store", -1);
  if (extraHeader) mg_response_header_add_lines(conn, extraHeader);
  mg_response_header_send(conn);
  mg_write(conn, body.data(), body.size());
}

}  // namespace

struct MetricsServer::Impl {
  std::function<std::string()> fnRender;
  std::function<bool()> fnReady;
  mg_context* pContext = nullptr;
  std::string strHost;
  int iPort = 0;

  // Every request comes here; nothing else of the library's serves files.
  static int OnRequest(mg_connection* conn) {
    auto* self = static_cast<Impl*>(mg_get_user_data(mg_get_context(conn)));
    const mg_request_info* info = mg_get_request_info(conn);
    const std::string_view path = info->local_uri ? info->local_uri : "";
    const bool get = std::strcmp(info->request_method, "GET") == 0;
    const bool head = std::strcmp(info->request_method, "HEAD") == 0;
    const bool known = path == "/metrics" || path == "/healthz" || path == "/readyz";
    if (!known) {
      Send(conn, 404, kPlain, "not found\n");
      return 404;
    }
    if (!get && !head) {
      Send(conn, 405, kPlain, "only GET\n", "Allow: GET, HEAD");
      return 405;
    }
    int status = 200;
    std::string body;
    const char* type = kPlain;
    if (path == "/metrics") {
      body = self->fnRender();
      type = kExposition;
    } else if (path == "/healthz") {
      body = "ok\n";
    } else if (self->fnReady()) {
      body = "ready\n";
    } else {
      status = 503;
      body = "not ready\n";
    }
    if (head) {
      mg_response_header_start(conn, status);
      mg_response_header_add(conn, "Content-Type", type, -1);
      mg_response_header_send(conn);
    } else {
      Send(conn, status, type, body);
    }
    return status;
  }

  static int OnLog(const mg_connection*, const char* message) {
    if (tStartMessages) {
      if (!tStartMessages->empty()) *tStartMessages += "; ";
      *tStartMessages += message;
    }
    log::Write(log::Level::kDebug, "metrics_http", {{"message", message}});
    return 1;
  }
};

MetricsServer::MetricsServer(std::function<std::string()> render, std::function<bool()> ready)
    : pImpl(std::make_unique<Impl>()) {
  pImpl->fnRender = std::move(render);
  pImpl->fnReady = std::move(ready);
}

MetricsServer::~MetricsServer() {
  Stop();
}

bool MetricsServer::Start(const std::string& url, std::string& error) {
  if (!std::string_view(url).starts_with(kScheme)) {
    error = "not a tcp://HOST:PORT address: " + url;
    return false;
  }
  const std::string hostPort = url.substr(kScheme.size());
  const std::size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) {
    error = "not a tcp://HOST:PORT address: " + url;
    return false;
  }
  pImpl->strHost = hostPort.substr(0, colon);
  const std::string threads = std::to_string(kThreads);
  const std::string queue = std::to_string(kQueue);
  const std::string timeout = std::to_string(kTimeoutMs);
  const char* options[] = {"listening_ports",
                           hostPort.c_str(),
                           "num_threads",
                           threads.c_str(),
                           "connection_queue",
                           queue.c_str(),
                           "listen_backlog",
                           queue.c_str(),
                           "request_timeout_ms",
                           timeout.c_str(),
                           "enable_keep_alive",
                           "no",
                           nullptr};
  mg_callbacks callbacks{};
  callbacks.begin_request = &Impl::OnRequest;
  callbacks.log_message = &Impl::OnLog;
  mg_init_data init{};
  init.callbacks = &callbacks;
  init.user_data = pImpl.get();
  init.configuration_options = options;
  char why[256] = "";
  unsigned code = 0;
  mg_error_data failure{};
  failure.code = &code;
  failure.text = why;
  failure.text_buffer_size = sizeof why;
  std::string messages;
  tStartMessages = &messages;
  pImpl->pContext = mg_start2(&init, &failure);
  tStartMessages = nullptr;
  if (!pImpl->pContext) {
    error = "cannot serve metrics on " + url + ": " +
            (messages.empty() ? std::string(why[0] ? why : "the server did not start") : messages);
    return false;
  }
  mg_server_port ports[4]{};
  const int n = mg_get_server_ports(pImpl->pContext, 4, ports);
  pImpl->iPort = n > 0 ? ports[0].port : 0;
  return true;
}

std::string MetricsServer::Describe() const {
  return "tcp://" + pImpl->strHost + ":" + std::to_string(pImpl->iPort);
}

void MetricsServer::Stop() {
  if (pImpl->pContext) mg_stop(pImpl->pContext);
  pImpl->pContext = nullptr;
}

}  // namespace backoffice
