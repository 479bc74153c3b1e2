"""What the system benchmarks share: the twenty printers they run, and how they look at a process
(CPU time, memory, descriptors, threads, children) through /proc."""

import os

# One model per printer, every family and most models; bench/system and bench/soak run the same desk.
MODELS = ["PG-03", "IJ-09", "DM-02", "PG-01", "IJ-06", "DM-04", "PG-05", "IJ-10", "DM-01", "PG-04",
          "IJ-08", "PG-02", "IJ-02", "PG-06", "IJ-04", "IJ-07", "IJ-05", "IJ-12", "IJ-11", "IJ-03"]


def cpu_ns(pid):
    """Time the process's threads have spent on a CPU, in nanoseconds; 0 when it is gone. Precise, unlike
    the clock ticks of /proc/PID/stat, which miss the short wake-ups that are most of this system's work."""
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return 0
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total


def pss_kb(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def status_fields(pid):
    """VmRSS (kB) and Threads of /proc/PID/status; None when the process is gone."""
    found = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "Threads"):
                    found[key] = int(value.split()[0])
    except OSError:
        return None
    return found


def open_fds(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None


def stat_of(pid):
    """(state, parent pid) of a process; None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return fields[0], int(fields[1])


def children_of(parent):
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        st = stat_of(name)
        if st and st[1] == parent and st[0] != "Z":
            found.append(int(name))
    return sorted(found)
