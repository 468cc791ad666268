#!/usr/bin/env bash
# Report SDK queue benchmark: offering 1,000 events with the collector down, then delivery.
#   bench/report_queue.sh BUILD_FOLDER
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: report_queue.sh BUILD_FOLDER}
exec "$top/scripts/with-local-services.sh" "$build/../native-services/local-services" \
  "$top/scripts/wine-run.sh" "$build/bench/report_queue_bench.exe"
