#pragma once

// The back office's metrics in the Prometheus text format (version 0.0.4):
// what /metrics serves. Only counts, times and addresses: never a condition,
// a phone number or an operator.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "backoffice/audit_writer.h"
#include "backoffice/server.h"
#include "backoffice/service_metrics.h"

namespace backoffice {

struct MetricsInputs {
  ServiceMetrics::Snapshot service;
  // Each endpoint's address (Describe()) and what it reports.
  std::vector<std::pair<std::string, EndpointStats>> endpoints;
  AuditWriter::Counts audit;
  AuditVerifyStatus auditVerify;
  double startTime = 0;  // seconds since the epoch
  std::string version;
};

std::string RenderMetrics(const MetricsInputs& in);

}  // namespace backoffice
