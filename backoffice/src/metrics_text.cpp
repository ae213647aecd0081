#include "backoffice/metrics_text.h"

#include <cstdio>
#include <string_view>

namespace backoffice {
namespace {

// Writes one metric family after the other: its HELP and TYPE lines, then
// its samples.
class Exposition {
 public:
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    strOut.append("# HELP ").append(name).append(" ").append(help).append("\n");
    strOut.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  }
  // `labels` is the inside of the braces, already escaped; may be "".
  void Sample(std::string_view name, std::string_view labels, double value) {
    strOut.append(name);
    if (!labels.empty()) strOut.append("{").append(labels).append("}");
    char number[40];
    std::snprintf(number, sizeof number, " %.17g\n", value);
    strOut.append(number);
  }
  std::string Take() { return std::move(strOut); }

 private:
  std::string strOut;
};

// name="value", with the value escaped as the format asks.
std::string Label(std::string_view name, std::string_view value) {
  std::string out(name);
  out += "=\"";
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  out += '"';
  return out;
}

std::string OpLabel(std::size_t op) {
  return Label("operation", operations::Label(static_cast<Operation>(op)));
}

std::string BucketBound(double le) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", le);
  return text;
}

void RenderService(Exposition& e, const ServiceMetrics::Snapshot& s) {
  e.Family("mpay_requests_total", "counter", "Requests answered, by operation and result code.");
  for (std::size_t op = 0; op < s.ops.size(); ++op) {
    for (std::size_t r = 0; r < s.ops[op].results.size(); ++r) {
      const std::string code =
          r < kCountedResults.size() ? std::to_string(kCountedResults[r]) : "other";
      e.Sample("mpay_requests_total", OpLabel(op) + "," + Label("result", code),
               static_cast<double>(s.ops[op].results[r]));
    }
  }
  e.Family("mpay_request_duration_seconds", "histogram",
           "Time from a request's arrival at the service to its reply, by operation.");
  for (std::size_t op = 0; op < s.ops.size(); ++op) {
    const auto& o = s.ops[op];
    uint64_t cumulative = 0;
    for (std::size_t b = 0; b < o.buckets.size(); ++b) {
      cumulative += o.buckets[b];
      const std::string le = b < kLatencyBuckets.size() ? BucketBound(kLatencyBuckets[b]) : "+Inf";
      e.Sample("mpay_request_duration_seconds_bucket", OpLabel(op) + "," + Label("le", le),
               static_cast<double>(cumulative));
    }
    e.Sample("mpay_request_duration_seconds_sum", OpLabel(op), o.seconds);
    e.Sample("mpay_request_duration_seconds_count", OpLabel(op), static_cast<double>(o.requests));
  }
  e.Family("mpay_rows_returned_total", "counter", "Rows sent in successful replies, by operation.");
  for (std::size_t op = 0; op < s.ops.size(); ++op)
    e.Sample("mpay_rows_returned_total", OpLabel(op), static_cast<double>(s.ops[op].rows));
  e.Family("mpay_store_errors_total", "counter",
           "Queries and readiness checks the database failed.");
  e.Sample("mpay_store_errors_total", "", static_cast<double>(s.storeErrors));
}

// One family over the endpoints of one kind.
template <class Value>
void PerEndpoint(Exposition& e, const MetricsInputs& in, std::string_view kind,
                 std::string_view name, std::string_view type, std::string_view help, Value value) {
  bool any = false;
  for (const auto& [address, stats] : in.endpoints) {
    if (stats.kind != kind) continue;
    if (!any) e.Family(name, type, help);
    any = true;
    e.Sample(name, Label("endpoint", address), static_cast<double>(value(stats)));
  }
}

void RenderEndpoints(Exposition& e, const MetricsInputs& in) {
  e.Family("mpay_endpoint_serving", "gauge",
           "1 while the endpoint takes requests (NATS: connected to a server).");
  for (const auto& [address, stats] : in.endpoints)
    e.Sample("mpay_endpoint_serving", Label("endpoint", address), stats.serving ? 1 : 0);
  e.Family("mpay_worker_queue_depth", "gauge",
           "Requests received that no worker has taken up yet, by endpoint.");
  for (const auto& [address, stats] : in.endpoints)
    e.Sample("mpay_worker_queue_depth", Label("endpoint", address),
             static_cast<double>(stats.queued));
  bool anyTcp = false;
  for (const auto& [address, stats] : in.endpoints) {
    if (stats.kind != "tcp") continue;
    if (!anyTcp) {
      e.Family("mpay_tcp_connections", "gauge",
               "Open tcp connections: active (a request or reply under way) or idle.");
    }
    anyTcp = true;
    e.Sample("mpay_tcp_connections", Label("endpoint", address) + "," + Label("state", "active"),
             static_cast<double>(stats.active));
    e.Sample("mpay_tcp_connections", Label("endpoint", address) + "," + Label("state", "idle"),
             static_cast<double>(stats.idle));
  }
  PerEndpoint(e, in, "tcp", "mpay_tcp_connections_evicted_total", "counter",
              "Idle tcp connections closed to make room for new ones.",
              [](const EndpointStats& s) { return s.evicted; });
  PerEndpoint(e, in, "tcp", "mpay_tcp_connections_reset_not_reading_total", "counter",
              "tcp clients disconnected for taking none of their replies.",
              [](const EndpointStats& s) { return s.resetNotReading; });
  PerEndpoint(e, in, "tcp", "mpay_tcp_connections_shed_total", "counter",
              "tcp connections closed because all together held more than --max-buffered-mb.",
              [](const EndpointStats& s) { return s.shed; });
  PerEndpoint(e, in, "tcp", "mpay_tcp_buffered_bytes", "gauge",
              "Bytes the tcp connections hold, received and unanswered or waiting to be sent.",
              [](const EndpointStats& s) { return s.buffered; });
  PerEndpoint(e, in, "tcp", "mpay_standin_threads", "gauge",
              "Threads standing in for requests that wait for slow tcp clients.",
              [](const EndpointStats& s) { return s.standIns; });
  PerEndpoint(e, in, "nats", "mpay_nats_reconnects_total", "counter",
              "Reconnections to the NATS servers.",
              [](const EndpointStats& s) { return s.reconnects; });
}

}  // namespace

std::string RenderMetrics(const MetricsInputs& in) {
  Exposition e;
  RenderService(e, in.service);
  RenderEndpoints(e, in);
  e.Family("mpay_audit_queue_depth", "gauge", "Audit entries waiting to be written.");
  e.Sample("mpay_audit_queue_depth", "", static_cast<double>(in.audit.queued));
  e.Family("mpay_audit_batches_written_total", "counter", "Audit transactions committed.");
  e.Sample("mpay_audit_batches_written_total", "", static_cast<double>(in.audit.batchesWritten));
  e.Family("mpay_audit_refusing", "gauge",
           "1 while the audit cannot be written and queries are refused (code 1020).");
  e.Sample("mpay_audit_refusing", "", in.audit.refusing ? 1 : 0);
  e.Family("mpay_audit_batches_failed_total", "counter",
           "Audit transactions the database failed (their entries are lost).");
  e.Sample("mpay_audit_batches_failed_total", "", static_cast<double>(in.audit.batchesFailed));
  e.Family("mpay_audit_checkpoints_total", "counter", "Audit checkpoints this process signed.");
  e.Sample("mpay_audit_checkpoints_total", "", static_cast<double>(in.audit.checkpoints));
  if (in.auditVerify.at > 0) {
    e.Family("mpay_audit_verify_time_seconds", "gauge",
             "When the last verification of the audit's chain ended, since the epoch.");
    e.Sample("mpay_audit_verify_time_seconds", "", in.auditVerify.at);
    e.Family("mpay_audit_verify_ok", "gauge",
             "1 when the last verification found the audit unchanged, 0 when it did not.");
    e.Sample("mpay_audit_verify_ok", "", in.auditVerify.bOk ? 1 : 0);
    e.Family("mpay_audit_verify_rows", "gauge", "Rows the last verification walked.");
    e.Sample("mpay_audit_verify_rows", "", static_cast<double>(in.auditVerify.rows));
  }
  e.Family("process_start_time_seconds", "gauge", "Start time of the process since the epoch.");
  e.Sample("process_start_time_seconds", "", in.startTime);
  e.Family("mpay_build_info", "gauge", "The back office's version.");
  e.Sample("mpay_build_info", Label("version", in.version), 1);
  return e.Take();
}

}  // namespace backoffice
