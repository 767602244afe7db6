#pragma once
#include "service/Endpoints.h"
#include "service/Metrics.h"

namespace hw::service {

// The operator's page, on a listen address of its own: GET /metrics in the OpenMetrics text format.
class MetricsPage : public Responder {
 public:
  explicit MetricsPage(const Metrics& metrics) : metrics_(metrics) {}
  Response Answer(const Request& request) const override {
    if (request.method != "GET" || request.path != "/metrics") return {404, "Not Found"};
    return {200, metrics_.Page(), "application/openmetrics-text; version=1.0.0; charset=utf-8"};
  }

 private:
  const Metrics& metrics_;
};

}  // namespace hw::service
