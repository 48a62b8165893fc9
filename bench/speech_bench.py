"""What the benchmarks share: the Release build, running a tool once with its resource usage,
the outputs of both tools, the reference texts of pocketsphinx-testdata and word error rates."""

import json
import os
import re
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-release"
TESTDATA = Path("/usr/share/pocketsphinx/test/data")


def build():
    """Builds the Release binary into build-release/ and returns its path."""
    env = dict(os.environ, BUILD_DIR=str(BUILD), BUILD_TYPE="Release",
               CMAKE_ARGS="-DONDEVICE_STT_BUILD_TESTS=OFF")
    subprocess.run([str(ROOT / "scripts" / "setup")], check=True, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return BUILD / "bin" / "ondevice-stt"


class RunFailed(Exception):
    pass


def measure(argv, env=None):
    """Runs argv once: wall seconds, CPU seconds (user + system of the child and what it
    waited for), peak RSS in MiB, standard output. Raises RunFailed on a non-zero status."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    out = process.stdout.read()
    process.stdout.close()
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RunFailed(f"{argv[0]} failed with status {process.returncode}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024, out.decode(
        "utf-8", "replace")


def ondevice_text(out):
    return json.loads(out)["result"]


def engine_text(out):
    # pocketsphinx_continuous prints one hypothesis per utterance.
    return " ".join(line.strip() for line in out.splitlines() if line.strip())


def transcriptions(path):
    """Reference words by utterance id, from a file of '<s> words </s> (id)' lines."""
    texts = {}
    for line in Path(path).read_text().splitlines():
        match = re.match(r"<s>(.*)</s>\s*\((.*)\)", line.strip())
        if match:
            texts[match.group(2)] = match.group(1).split()
    return texts


def librivox_clips():
    """The five LibriVox clips of pocketsphinx-testdata with their reference words."""
    folder = TESTDATA / "librivox"
    texts = transcriptions(folder / "transcription")
    return [(folder / f"{i}.wav", texts[i]) for i in (folder / "fileids").read_text().split()]


def cards_clips():
    """The five clips of spoken playing cards with their reference words."""
    folder = TESTDATA / "cards"
    texts = transcriptions(folder / "cards.transcription")
    return [(folder / f"{i}.wav", texts[i])
            for i in (folder / "cards.fileids").read_text().split()]


def normalise(text):
    return re.sub(r"[^a-z' ]", " ", text.lower()).split()


def word_errors(hypothesis, reference):
    """Word edit distance: substitutions, deletions and insertions."""
    previous = list(range(len(reference) + 1))
    for i, h in enumerate(hypothesis, 1):
        current = [i] + [0] * len(reference)
        for j, r in enumerate(reference, 1):
            current[j] = min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (h != r))
        previous = current
    return previous[-1]


def word_error_rate(hypothesis, reference):
    return word_errors(hypothesis, reference) / max(1, len(reference))
