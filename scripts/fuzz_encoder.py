#!/usr/bin/env python3
"""Mutates seed files and runs the encoder on each mutant (see fuzz-encoder.sh).

Mutant i depends only on the random seed, i and the seed files, so a finding
is reproduced with the same --seed, whatever --jobs was.
"""

import argparse
import concurrent.futures
import os
import random
import resource
import shutil
import subprocess
import sys
import threading
import time

SANITIZER_MARKS = (b"AddressSanitizer", b"LeakSanitizer", b"UndefinedBehaviorSanitizer",
                   b"runtime error:", b"rss limit exhausted", b"allocation-size-too-big")
HUGE_VALUES = (0x7fffffff, 0x80000000, 0xffffffff, 0x7ffffffffffffff0, 0x8000000000000000, 1 << 40)
# Each mutant also goes to one of these, in turn, besides MP3 and WAV.
ROTATING_TARGETS = ("flac", "m4a", "opus", "ogg", "copy")
# The demuxer that reads each output back, by its extension.
DEMUXERS = {"mp3": "mp3", "mp2": "mp3", "wav": "wav", "flac": "flac", "m4a": "mov", "opus": "ogg", "ogg": "ogg",
            "ac3": "ac3", "eac3": "eac3", "mka": "matroska"}
# A copy is named after its codec, as the program names it; the rest go to Matroska.
COPY_EXTENSIONS = {"aac": "m4a", "mp3": "mp3", "mp2": "mp2", "ac3": "ac3", "eac3": "eac3", "opus": "opus",
                   "vorbis": "ogg", "flac": "flac", "pcm_u8": "wav", "pcm_s16le": "wav", "pcm_s24le": "wav",
                   "pcm_s32le": "wav", "pcm_f32le": "wav", "pcm_f64le": "wav", "pcm_alaw": "wav", "pcm_mulaw": "wav"}
# An exit-0 output shorter than this part of what ffmpeg decodes of the
# source (less this many seconds) lost audio on the way.
SHORT_PART = 0.5
SHORT_SLACK = 0.1
# An exit-0 output on all threads may differ from the one-thread run of the
# same input by this many seconds of what ffmpeg decodes (8000 Hz, mono).
THREADS_SLACK = 0.01
SAMPLE_RATES = ("8000", "11025", "22050", "32000", "44100", "48000", "96000")


# --- mutations -------------------------------------------------------------

def flip_bits(rng, data, _other):
    for _ in range(rng.randint(1, 32)):
        i = rng.randrange(len(data))
        data[i] ^= 1 << rng.randrange(8)


def byte_run(rng, data, _other):
    start = rng.randrange(len(data))
    length = min(rng.randint(1, 256), len(data) - start)
    if rng.random() < 0.5:
        data[start:start + length] = bytes([rng.choice((0, 0xff, rng.randrange(256)))]) * length
    else:
        data[start:start + length] = rng.randbytes(length)


def copy_chunk(rng, data, _other):
    start = rng.randrange(len(data))
    chunk = data[start:start + rng.randint(1, 4096)]
    at = rng.randrange(len(data))
    if rng.random() < 0.5:
        data[at:at + len(chunk)] = chunk  # overwrite
    else:
        data[at:at] = chunk  # insert


def cut(rng, data, _other):
    if rng.random() < 0.4:
        del data[rng.randrange(1, len(data)):]  # truncate
    else:
        start = rng.randrange(len(data))
        del data[start:start + rng.randint(1, 8192)]


def header_field(rng, data, _other):
    # Fields of most containers sit in the first few kilobytes, and again at
    # packet or page starts further on.
    limit = len(data) if rng.random() < 0.3 else min(len(data), 4096)
    at = rng.randrange(limit)
    width = rng.choice((1, 2, 4, 8))
    kind = rng.randrange(3)
    if kind == 0:
        value = b"\0" * width
    elif kind == 1:
        value = b"\xff" * width
    else:
        huge = rng.choice(HUGE_VALUES) & ((1 << (8 * width)) - 1)
        value = huge.to_bytes(width, rng.choice(("little", "big")))
    data[at:at + width] = value


def splice(rng, data, other):
    head = rng.randrange(1, len(data) + 1)
    tail = rng.randrange(len(other))
    data[head:] = other[tail:]


def join(rng, data, other):
    # cat a b: two recordings in one file, mostly of one container, whose
    # timestamps start again (or jump) at the join.
    data.extend(other)


MUTATIONS = (flip_bits, byte_run, copy_chunk, cut, header_field, splice, join)


def make_mutant(seed_value, index, seeds):
    rng = random.Random(f"{seed_value}:{index}")
    name, content = seeds[rng.randrange(len(seeds))]
    data = bytearray(content)
    for _ in range(rng.randint(1, 3)):
        if len(data) < 2:
            break
        mutation = rng.choice(MUTATIONS)
        alike = [content for other, content in seeds if os.path.splitext(other)[1] == os.path.splitext(name)[1]]
        other = rng.choice(alike) if alike and rng.random() < 0.7 else seeds[rng.randrange(len(seeds))][1]
        mutation(rng, data, other)
    options = ["-ar", rng.choice(SAMPLE_RATES), "-ac", rng.choice(("1", "2"))]
    if rng.random() < 0.15:
        options += ["-ss", rng.choice(("0.1", "0.3", "5", "9223372036854"))]
    if rng.random() < 0.15:
        options += ["-t", rng.choice(("0", "0.05", "0.2"))]
    return name, bytes(data), options


# --- runs ------------------------------------------------------------------

class Fuzzer:
    def __init__(self, args):
        self.args = args
        self.seeds = []
        for name in sorted(os.listdir(args.seeds)):
            with open(os.path.join(args.seeds, name), "rb") as f:
                content = f.read()
            if content:
                self.seeds.append((name, content))
        self.sanitized = b"libasan" in subprocess.run(["ldd", args.encoder], capture_output=True).stdout
        self.lock = threading.Lock()
        self.counts = {k: 0 for k in ("runs", "exit 0", "exit 1", "crashes", "hangs", "odd exits", "bad outputs",
                                      "short outputs", "thread mismatches")}
        self.done = 0
        self.started = time.monotonic()
        os.makedirs(args.findings, exist_ok=True)

    def limit_memory(self):
        # An address-space limit breaks AddressSanitizer's shadow memory; the
        # sanitized build gets hard_rss_limit_mb instead (fuzz-encoder.sh).
        if not self.sanitized:
            limit = self.args.memory * 1024 * 1024
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    def readable(self, path, demuxer, copy):
        # The demuxer named, not probed: ffmpeg's MP3 probe turns down some
        # valid files of a few frames (LAME's own output of stock ffmpeg too).
        # A copy keeps damaged packets as they were: it only has to read back
        # (the probe's decoder may complain about them, as about the source's).
        work = ["-c", "copy"] if copy else []
        result = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-xerror", "-f", demuxer, "-i", path] + work +
                                ["-f", "null", "-"],
                                capture_output=True, timeout=120)
        return result.returncode == 0 and (copy or not result.stderr.strip())

    def decoded_seconds(self, path, demuxer=None, select=None):
        """Seconds of audio ffmpeg decodes from path, counted in samples, not
        timestamps (a mutant's may jump anywhere); None when it fails."""
        command = ["ffmpeg", "-nostdin", "-v", "quiet"] + (["-f", demuxer] if demuxer else []) + ["-i", path, "-vn"]
        command += (["-map", select] if select else []) + ["-ac", "1", "-ar", "8000", "-f", "s16le", "pipe:1"]
        try:
            result = subprocess.run(command, capture_output=True, timeout=120)
        except subprocess.TimeoutExpired:
            return None
        return len(result.stdout) / 16000 if result.returncode == 0 else None

    def copy_extension(self, source):
        result = subprocess.run([self.args.encoder, "-probe", source], stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=self.args.timeout, preexec_fn=self.limit_memory)
        lines = result.stdout.split(b"\n")
        codec = lines[1].split(b"\t")[1].decode() if len(lines) > 1 and b"\t" in lines[1] else ""
        return COPY_EXTENSIONS.get(codec, "mka")

    def run_one(self, index):
        name, data, options = make_mutant(self.args.seed, index, self.seeds)
        folder = os.path.join(self.args.work, f"m{index}")
        os.makedirs(folder, exist_ok=True)
        source = os.path.join(folder, "in-" + name)
        with open(source, "wb") as f:
            f.write(data)
        try:
            # MP3 and WAV every time, one of the other targets in turn.
            for fmt in ("mp3", "wav", ROTATING_TARGETS[index % len(ROTATING_TARGETS)]):
                self.convert(index, source, fmt, options, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        with self.lock:
            self.done += 1
            if self.done % 100 == 0 or self.done == self.args.mutants:
                self.report_progress()

    def convert(self, index, source, fmt, options, folder):
        # A copy of the first audio track, into the container of its codec.
        copy = fmt == "copy"
        extension = self.copy_extension(source) if copy else fmt
        output = os.path.join(folder, "out." + extension)
        with open(output, "wb") as f:
            f.write(b"temp\r\n")  # as the program leaves it
        target = ["-acodec", "copy", "-map", "0:a:0"] if copy else ["-f", fmt]
        command = [self.args.encoder, "-i", source, "-y"] + target + ["-vn", "-ab", "128", "-verify"] + options
        command += [output]
        kind = None
        try:
            result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=self.args.timeout, preexec_fn=self.limit_memory)
            status, err = result.returncode, result.stderr
        except subprocess.TimeoutExpired as e:
            status, err, kind = None, e.stderr or b"", "hangs"
        if kind is None:
            if any(mark in err for mark in SANITIZER_MARKS) or status < 0:
                kind = "crashes"
            elif status not in (0, 1):
                kind = "odd exits"
            elif status == 0:
                kind = self.judge_output(source, output, extension, copy, options)
            if kind is None and status == 0 and not copy:
                kind = self.judge_threads(command, output, extension)
        with self.lock:
            self.counts["runs"] += 1
            if kind:
                self.counts[kind] += 1
            elif status in (0, 1):
                self.counts[f"exit {status}"] += 1
        if kind:
            self.keep(index, source, fmt, command, status, err, kind)

    def judge_output(self, source, output, extension, copy, options):
        demuxer = DEMUXERS.get(extension, "matroska")
        if not self.readable(output, demuxer, copy or extension == "mka"):
            return "bad outputs"
        # After -ss the source's part depends on its timestamps, which a
        # mutant may have made anything: only whole sources (or -t) compare.
        if "-ss" in options:
            return None
        expected = self.decoded_seconds(source, select="0:a:0" if copy else None)
        got = self.decoded_seconds(output, demuxer)
        if expected is None or got is None:
            return None
        if "-t" in options:
            expected = min(expected, float(options[options.index("-t") + 1]))
        if got < expected * SHORT_PART - SHORT_SLACK:
            return "short outputs"
        return None

    def judge_threads(self, command, output, extension):
        """The same conversion on one thread: an output cut into segments must
        decode to as much audio as that one."""
        single = output + ".one-thread." + extension
        one = command[:-1] + ["-threads", "1", single]
        try:
            result = subprocess.run(one, stdin=subprocess.DEVNULL, capture_output=True, timeout=self.args.timeout,
                                    preexec_fn=self.limit_memory)
        except subprocess.TimeoutExpired:
            return None  # the run on all threads is the one judged for hangs
        if result.returncode != 0:
            return "thread mismatches"
        demuxer = DEMUXERS.get(extension, "matroska")
        got = self.decoded_seconds(output, demuxer)
        expected = self.decoded_seconds(single, demuxer)
        if got is None or expected is None or abs(got - expected) > THREADS_SLACK:
            return "thread mismatches"
        return None

    def keep(self, index, source, fmt, command, status, err, kind):
        base = os.path.join(self.args.findings, f"{kind.replace(' ', '-')}-{index}-{fmt}")
        shutil.copy(source, base + os.path.splitext(source)[1])
        with open(base + ".txt", "w", encoding="utf-8", errors="replace") as f:
            f.write(" ".join(command) + f"\nexit status: {status}\n\n")
            f.write(err[-8000:].decode("utf-8", "replace"))
        print(f"FOUND {kind}: mutant {index} to {fmt} (exit {status}), kept as {base}.*", flush=True)

    def report_progress(self):
        elapsed = time.monotonic() - self.started
        figures = ", ".join(f"{k} {v}" for k, v in self.counts.items())
        print(f"{self.done} mutants in {elapsed:.0f} s: {figures}", flush=True)

    def run(self):
        print(f"{len(self.seeds)} seeds, {self.args.mutants} mutants from random seed {self.args.seed}, "
              f"{self.args.jobs} jobs, {'sanitized' if self.sanitized else 'plain'} encoder", flush=True)
        with concurrent.futures.ThreadPoolExecutor(self.args.jobs) as pool:
            for future in [pool.submit(self.run_one, i) for i in range(self.args.mutants)]:
                future.result()
        found = sum(self.counts[k] for k in ("crashes", "hangs", "odd exits", "bad outputs", "short outputs",
                                                  "thread mismatches"))
        print("Findings: none" if not found else f"Findings: {found}, kept in {self.args.findings}")
        return 1 if found else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--encoder", required=True)
    parser.add_argument("--seeds", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--findings", required=True)
    parser.add_argument("--mutants", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=float, default=20)
    parser.add_argument("--memory", type=int, default=2048)
    return Fuzzer(parser.parse_args()).run()


if __name__ == "__main__":
    sys.exit(main())
