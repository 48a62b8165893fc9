"""The pages the benchmarks write into docs/benchmarks/: the tables a run printed, under a head
that says what was measured, on which machine, when, at which commit and with which command, so
that a figure quoted elsewhere can be traced to its run."""

import datetime
import os
import shlex
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PAGES = ROOT / "docs" / "benchmarks"


def cpu_model():
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def memory_gib():
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) / (1024 * 1024)
    except OSError:
        pass
    return None


def machine():
    """One line: CPU model, hardware threads, memory, kernel."""
    memory = memory_gib()
    kernel = subprocess.run(["uname", "-srm"], capture_output=True, text=True).stdout.strip()
    parts = [cpu_model(), f"{os.cpu_count()} hardware threads"]
    if memory:
        parts.append(f"{memory:.0f} GiB")
    parts.append(kernel)
    return ", ".join(parts)


def commit():
    """The commit measured, and whether the product's files differ from it (docs/, bench/ and
    the markdown pages do not count: they change nothing that is measured)."""
    def git(*arguments):
        return subprocess.run(["git", "-C", str(ROOT), *arguments], capture_output=True,
                              text=True)
    head = git("rev-parse", "--short=12", "HEAD")
    if head.returncode != 0:
        return "not a git checkout"
    changed = git("status", "--porcelain", "--", ".", ":(exclude)docs", ":(exclude)bench",
                  ":(exclude)*.md")
    return head.stdout.strip() + (" with local changes" if changed.stdout.strip() else "")


def head_lines(title, about):
    now = datetime.datetime.now(datetime.timezone.utc)
    command = " ".join(["bench/" + Path(sys.argv[0]).name] + [shlex.quote(a) for a in sys.argv[1:]])
    return [f"# {title}", "", about, "",
            f"- machine: {machine()}",
            f"- date: {now:%Y-%m-%d %H:%M} UTC",
            f"- commit: {commit()}",
            f"- command: `{command}`", ""]


def write_page(path, title, about, body):
    """Writes the page at `path` (in docs/benchmarks/, as a rule): the head, then `body`
    (markdown lines), and says so on standard error."""
    path = Path(path).resolve()
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("\n".join(head_lines(title, about) + list(body)).rstrip("\n") + "\n")
    print(f"  wrote {path}", file=sys.stderr)
