#pragma once
// The snapshot in the Prometheus text exposition format (version 0.0.4), as node_exporter's textfile
// collector and promtool read it: every family with HELP and TYPE, label values escaped, no timestamps.

#include <string>
#include <vector>

#include "alert_counts.h"
#include "snapshot.h"

namespace kestrel_status {

std::string prometheusText(const Snapshot& snapshot, const std::vector<AlertCount>& alerts);

}  // namespace kestrel_status
