#!/usr/bin/env bash
# The host agent's figures, measured where it really runs: the packaged agent in a booted container
# with logind (the same set-up as tests/e2e/agent_sessions.sh, whose checks run along): time from
# datagram to report "1" through the agent (20 messages) and through a standalone client, the agent's
# resident memory, its wake-ups in a minute idle with one session and with none, and
# systemd-analyze security's exposure level for the unit. Needs root; takes about four minutes.
#   tools/agent_bench/run.sh [BUILD]     BUILD: a build folder with everything built (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
exec tests/e2e/agent_sessions.sh . "$build" --measure
