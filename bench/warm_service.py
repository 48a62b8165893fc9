"""A warm service of the benchmark's own: `ondevice-stt serve` on a private XDG_RUNTIME_DIR in a
temporary directory, so that it neither meets nor disturbs a service of the user's; and what
the benchmarks read of running processes (resident memory, CPU time) from /proc.

    with WarmService(binary) as service:
        service.ensure_running()                 # started anew if something stopped it
        measure(argv, env=service.client_env)    # a transcription that uses the service
        service.rss_mib()                        # its resident memory now
    service.answered()                           # requests it answered, over all its lives

On a shared machine something else may stop the service (a SIGTERM meant for another one):
ensure_running() notices, keeps its end record and starts it again, so that a benchmark can
repeat what the stop spoiled rather than count in-process runs as warm ones.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

TICKS = os.sysconf("SC_CLK_TCK")


class ServiceFailed(Exception):
    pass


def status_kib(pid, field):
    """A field of /proc/PID/status in KiB (VmRSS, VmHWM); None once the process is gone."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


def cpu_seconds(pid):
    """User + system CPU seconds of a running process, all its threads."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class MemorySampler:
    """The largest sum of resident memory of a changing set of processes, sampled every
    `interval` seconds on a thread of its own: what they held at one time."""

    def __init__(self, interval=0.01):
        self.interval = interval
        self.pids = set()
        self.peak_kib = 0
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def add(self, pid):
        with self._lock:
            self.pids.add(pid)

    def _run(self):
        while not self._stop.is_set():
            with self._lock:
                pids = list(self.pids)
            total = sum(status_kib(pid, "VmRSS") or 0 for pid in pids)
            self.peak_kib = max(self.peak_kib, total)
            time.sleep(self.interval)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *_):
        self._stop.set()
        self._thread.join()

    def peak_mb(self):
        return self.peak_kib * 1024 / 1e6


class WarmService:
    def __init__(self, binary, languages=("en_US",), idle_exit=600, env=None):
        self.binary = binary
        self.languages = languages
        self.idle_exit = idle_exit
        self.base_env = dict(env if env is not None else os.environ)
        self.runtime = None
        self.process = None
        self.summaries = []  # the end record of each life, in order

    @property
    def client_env(self):
        return dict(self.base_env, XDG_RUNTIME_DIR=str(self.runtime))

    @property
    def pid(self):
        return self.process.pid

    @property
    def restarts(self):
        return max(0, len(self.summaries) - 1)

    def start(self, timeout=120):
        if self.runtime is None:
            self.runtime = Path(tempfile.mkdtemp(prefix="ondevice-bench-runtime-"))
        argv = [str(self.binary), "serve", "--idle-exit", str(self.idle_exit)]
        for language in self.languages:
            argv += ["--language", language]
        self.process = subprocess.Popen(argv, env=self.client_env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        socket = self.runtime / "ondevice-stt" / "socket"
        deadline = time.monotonic() + timeout
        while not socket.exists():
            if self.process.poll() is not None:
                raise ServiceFailed(f"the service ended at start: "
                                    f"{self.process.stderr.read().decode(errors='replace')}")
            if time.monotonic() > deadline:
                self.stop()
                raise ServiceFailed("the service made no socket")
            time.sleep(0.02)
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def ensure_running(self):
        """True when the service was running; else keeps its end record and starts it again."""
        if self.running():
            return True
        self._reap()
        self.start()
        return False

    def answered(self):
        """Transcriptions answered whole, over every life of the service."""
        return sum(summary.get("requests", 0) for summary in self.summaries)

    def rss_mib(self):
        return (status_kib(self.pid, "VmRSS") or 0) / 1024

    def peak_mib(self):
        return (status_kib(self.pid, "VmHWM") or 0) / 1024

    def cpu_seconds(self):
        return cpu_seconds(self.pid)

    def _reap(self):
        try:
            out, err = self.process.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
        status = self.process.returncode
        self.process = None
        if status != 0:
            raise ServiceFailed(f"the service ended with status {status}: "
                                f"{err.decode(errors='replace').strip()}")
        self.summaries.append(json.loads(out))

    def stop(self):
        """SIGTERM, then the end record it writes once the requests in flight are answered."""
        if self.process is not None:
            if self.process.poll() is None:
                self.process.send_signal(signal.SIGTERM)
            self._reap()
        if self.runtime is not None:
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None
        return self.summaries[-1] if self.summaries else None

    def __enter__(self):
        return self.start()

    def __exit__(self, kind, *_):
        if kind is None:
            self.stop()
            return
        # Already failing: stop it without judging its end.
        if self.process is not None:
            self.process.send_signal(signal.SIGTERM)
            self.process.communicate()
            self.process = None
        if self.runtime is not None:
            shutil.rmtree(self.runtime, ignore_errors=True)
