#!/bin/sh
# Times every hostile-size file (tests/data/hostile: under 1 MB, claiming
# the largest pictures their formats allow) through quillarc-decode, as the
# preview loads it, and prints per file the time of the load and the peak
# resident memory before the picture is written (of the whole run when it
# is refused) and how the load ended; files over the targets (1 s, 100 MiB) are
# marked "OVER", and the script ends with status 1 when any is. A file marked
# "jpeg" (JPEG-coded data, whose progressive form holds its coefficients
# beside the picture) may take 160 MiB, and one marked "limit" (a metafile,
# whose frame comes from its size cap, not its bytes) 300 MiB.
# usage: bench/hostile-sizes.sh [BUILD_DIR]   (default build/release)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
decode=$build/bench/quillarc-decode
files=$build/bench/hostile-files
"$top/tests/data/hostile/make-files.sh" "$files"
echo "machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 - "$decode" "$files" <<'PY'
import os
import subprocess
import sys
import time

decode, files = sys.argv[1], sys.argv[2]
over = 0
worst_time = worst_memory = 0.0
print("%-28s %8s %9s  %s" % ("file", "seconds", "MiB", "outcome"))
for line in open(os.path.join(files, "claims.txt")):
    name = line.split()[0]
    marks = line.split()[2:]
    allowed = 300.0 if "limit" in marks else 160.0 if "jpeg" in marks else 100.0
    start = time.monotonic()
    written = os.path.join(files, "written.bmp")
    child = subprocess.Popen([decode, os.path.join(files, name), written],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # The pipes hold the few lines the tool prints.
    _, status, usage = os.wait4(child.pid, 0)
    out = (child.stdout.read() + child.stderr.read()).decode(errors="replace").strip().split("\n")
    # A load that succeeds: the tool's own time of load and bitmap, not
    # the writing after it; one that fails: the whole run.
    timed = [l for l in out if l.startswith("median time:")]
    seconds = float(timed[0].split()[2]) if timed else time.monotonic() - start
    if os.path.exists(written):
        os.remove(written)
    # Likewise the tool's own peak before it writes, else the whole run's.
    peaks = [l for l in out if l.startswith("peak resident memory:")]
    mib = float(peaks[0].split()[3]) if peaks else usage.ru_maxrss / 1024.0
    outcome = next((l for l in out if l.startswith("picture:")), out[0] if out else "")
    flag = seconds > 1.0 or mib > allowed
    over += flag
    worst_time, worst_memory = max(worst_time, seconds), max(worst_memory, mib)
    print("%-28s %8.3f %9.1f  %s%s" % (name, seconds, mib, outcome[:70], "  OVER" if flag else "  (%g MiB)" % allowed if allowed != 100.0 else ""))
print("worst: %.3f s, %.1f MiB; %d file(s) over 1 s or their memory bound" % (worst_time, worst_memory, over))
sys.exit(1 if over else 0)
PY
