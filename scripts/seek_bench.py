#!/usr/bin/env python3
"""Seek to heard: the time from SetPosition sent over a private session bus to the
new place played by the sink of a private PulseAudio, per format, Tonaria headless.

Each file is quiet noise with a loud tone from 30 s on (from 50 min on in the
60-minute MP3); each round seeks back into the noise, then to the tone's first
frame, and times from just before dbus-send starts to the moment the sink plays the
first loud frame. The sink is a pipe paced by the system clock; it writes each
block as its clock reaches it, so a frame is heard at its block's arrival plus its
place in the block.

bench.sh calls section() for docs/benchmarks.md; run alone,
    scripts/seek_bench.py build/default/app/tonaria [ROUNDS]
it measures and replaces only that section of docs/benchmarks.md."""
import os, select, shutil, signal, statistics, subprocess, sys, tempfile, threading, time

HEADING = "## Seek to heard, through a sound server"
RATE = 44100
# Tonaria plays lame's encoder delay and Info frame: the tone starts this much later.
MP3_DELAY = 2257 / RATE
LOUD = 8000  # a sample of the tone; the noise stays below 400


class Sink:
    """Reads the pipe sink's FIFO: every byte, and when each read arrived."""

    def __init__(self, fifo):
        self.fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        self.data = bytearray()
        self.arrivals = []  # (monotonic time, frame index of the read's first frame)
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        while self.running:
            if not select.select([self.fd], [], [], 0.02)[0]:
                continue
            try:
                chunk = os.read(self.fd, 65536)
            except BlockingIOError:
                continue
            now = time.monotonic()
            with self.lock:
                self.arrivals.append((now, len(self.data) // 4))
                self.data += chunk

    def frames(self):
        with self.lock:
            return len(self.data) // 4

    def first_loud(self, since):
        """The first frame from `since` on with a loud sample, and when it was heard."""
        with self.lock:
            view = memoryview(self.data)[since * 4:len(self.data) // 4 * 4].cast("h")
            for i in range(0, len(view), 2):
                if abs(view[i]) > LOUD:
                    frame = since + i // 2
                    at, first = max((a for a in self.arrivals if a[1] <= frame), key=lambda a: a[1])
                    return at + (frame - first) / RATE
        return None

    def close(self):
        self.running = False
        self.thread.join()
        os.close(self.fd)


def stop(proc):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def wait_until(check, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return True
        time.sleep(0.01)
    return False


def make_files(work):
    """(label, path, tone start in seconds) per format."""
    def run(*command):
        return subprocess.run(command, cwd=work, capture_output=True).returncode == 0

    files = []
    ok = (run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", "quiet.wav", "synth", "30", "whitenoise", "vol", "0.01") and
          run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", "loud.wav", "synth", "30", "sine", "1000", "vol", "0.5") and
          run("sox", "quiet.wav", "loud.wav", "bench.wav"))
    if not ok:
        return files
    files.append(("WAV", "bench.wav", 30))
    encoders = [("FLAC", "bench.flac", ["flac", "-s", "-f", "-o", "bench.flac", "bench.wav"]),
                ("Ogg Vorbis (-q 4)", "bench.ogg", ["oggenc", "-Q", "-q", "4", "-o", "bench.ogg", "bench.wav"]),
                ("APE (jmac c2)", "bench.ape", ["jmac", "c2", "bench.wav", "bench.ape"]),
                ("WMA (wmav2 128k)", "bench.wma", ["ffmpeg", "-v", "error", "-y", "-i", "bench.wav", "-c:a", "wmav2",
                                                    "-b:a", "128k", "bench.wma"]),
                ("MP3 (lame -V 2)", "bench.mp3", ["lame", "--quiet", "-V", "2", "bench.wav", "bench.mp3"])]
    for label, name, command in encoders:
        if shutil.which(command[0]) and run(*command):
            files.append((label, name, 30 + (MP3_DELAY if name.endswith(".mp3") else 0)))
    # An hour: 50 minutes of noise, then the tone; 128 kbit/s as most such files are.
    raw = "sox -n -r 44100 -c 2 -b 16 -e signed -t raw - synth"
    if run("sh", "-c", f"({raw} 3000 whitenoise vol 0.01; {raw} 600 sine 1000 vol 0.5) | "
                       "lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -b 128 - hour.mp3"):
        files.append(("MP3 60 min (128k), first seek to 50 min", "hour.mp3", 3000 + MP3_DELAY))
    return files


def measure(app, rounds):
    """Rows (label, [seek-to-heard seconds], [call answered seconds]) and a note, or None."""
    for tool in ("pulseaudio", "pactl", "dbus-daemon", "dbus-send", "playerctl", "sox", "lame"):
        if not shutil.which(tool):
            return None, f"{tool} is needed"
    folder = tempfile.mkdtemp(prefix="tonaria-seek-pulse-")
    work = tempfile.mkdtemp(prefix="tonaria-seek-")
    server = bus = sink = None
    try:
        os.chmod(folder, 0o700)
        fifo = os.path.join(folder, "sink.fifo")
        with open(os.path.join(folder, "pa.pa"), "w") as f:
            f.write("load-module module-native-protocol-unix auth-anonymous=1\n"
                    f"load-module module-pipe-sink sink_name=bench file={fifo} rate={RATE} format=s16le "
                    "channels=2 use_system_clock_for_timing=yes\nset-default-sink bench\n")
        server = subprocess.Popen(["pulseaudio", "-n", "-F", os.path.join(folder, "pa.pa"), "--exit-idle-time=-1",
                                   "--daemonize=no", "--disallow-exit=yes", "--use-pid-file=no"],
                                  env=dict(os.environ, XDG_RUNTIME_DIR=folder, HOME=folder),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        address = "unix:" + os.path.join(folder, "pulse", "native")
        if not wait_until(lambda: subprocess.run(["pactl", "info"], env=dict(os.environ, PULSE_SERVER=address),
                                                 capture_output=True).returncode == 0):
            return None, "the private sound server did not start"
        sink = Sink(fifo)
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        bus_address = bus.stdout.readline().strip()
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_AUDIODRIVER", "TONARIA_NO_MPRIS", "DBUS_STARTER_ADDRESS")}
        env.update(PULSE_SERVER=address, XDG_RUNTIME_DIR=folder, DBUS_SESSION_BUS_ADDRESS=bus_address)

        def ctl(*args):
            return subprocess.run(["playerctl", "-p", "tonaria", *args], env=env, capture_output=True,
                                  text=True).stdout.strip()

        def set_position(track, seconds):
            return subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.tonaria",
                                   "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Player.SetPosition",
                                   "objpath:" + track, f"int64:{round(seconds * 1e6)}"], env=env, capture_output=True)

        rows = []
        for label, name, tone in make_files(work):
            program = subprocess.Popen([app, os.path.join(work, name)], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            heard, answered = [], []
            try:
                if not wait_until(lambda: ctl("status") == "Playing"):
                    rows.append((label, [], []))
                    continue
                track = ctl("metadata", "mpris:trackid").strip("'")
                time.sleep(0.5)
                for i in range(rounds):
                    since = sink.frames()
                    sent = time.monotonic()
                    set_position(track, tone)
                    answered.append(time.monotonic() - sent)
                    if not wait_until(lambda: sink.first_loud(since) is not None, 3):
                        break
                    heard.append(sink.first_loud(since) - sent)
                    time.sleep(0.3)
                    set_position(track, tone - 20)  # back into the noise
                    time.sleep(0.5)
                    if i == 0 and tone > 60:
                        rows.append((label, heard, answered))
                        label, heard, answered = "MP3 60 min, later seeks", [], []
            finally:
                stop(program)
            rows.append((label, heard, answered))
        note = (f"{rounds} seeks per file (the hour's first seek once), Tonaria headless, one private PulseAudio "
                f"44.1 kHz pipe sink paced by the system clock; from just before dbus-send starts (its own start "
                f"included) to the sink playing the first frame of the new place; load average "
                f"{os.getloadavg()[0]:.1f} at the end")
        return rows, note
    finally:
        if sink:
            sink.close()
        stop(bus)
        stop(server)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)


def section(app, rounds=5):
    rows, note = measure(app, rounds)
    lines = [HEADING, ""]
    if rows is None:
        return lines + [f"Not measured: {note}.", ""]
    lines += ["| file | seek to heard, median | worst | SetPosition answered (median) |", "|---|---|---|---|"]
    ms = lambda v: f"{v * 1000:.0f} ms"
    for label, heard, answered in rows:
        if not heard:
            lines.append(f"| {label} | not heard | - | - |")
            continue
        lines.append(f"| {label} | {ms(statistics.median(heard))} | {ms(max(heard))} | "
                     f"{ms(statistics.median(answered))} |")
    lines += ["", f"Target: 100 ms. How: {note}.", ""]
    return lines


def replace_section(doc, lines):
    text = open(doc).read().split("\n") if os.path.exists(doc) else ["# Benchmarks", ""]
    if HEADING in text:
        start = text.index(HEADING)
        end = next((i for i in range(start + 1, len(text)) if text[i].startswith("## ")), len(text))
        text[start:end] = lines
    else:
        at = next((i for i, l in enumerate(text) if l.startswith("## Benchmark binaries")), len(text))
        text[at:at] = lines
    with open(doc, "w") as f:
        f.write("\n".join(text))


if __name__ == "__main__":
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    lines = section(os.path.abspath(sys.argv[1]), rounds)
    print("\n".join(lines))
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    replace_section(os.path.join(root, "docs", "benchmarks.md"), lines)
