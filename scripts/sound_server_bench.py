#!/usr/bin/env python3
"""Side by side through one private PulseAudio null sink: CPU of the player, of the
sound server and (with a window) of the X server, for Tonaria headless, mpv headless
and Tonaria with its window on Xvfb, in alternating rounds.

bench.sh calls section() for docs/benchmarks.md; run alone,
    scripts/sound_server_bench.py build/default/app/tonaria DEMO.wav [ROUNDS] [SECONDS]
it measures and replaces only that section of docs/benchmarks.md. With
    --compare OTHER_BINARY ...
after those, each other build of tonaria also plays with its window in the same
alternating rounds (to compare a change with what came before it), and nothing is
written."""
import os, shutil, signal, statistics, subprocess, sys, tempfile, time

TICK = os.sysconf("SC_CLK_TCK")
HEADING = "## Through a sound server, side by side"
FLOOR = "70 frames a second of moving bars to X, nothing else (x11_frame_floor)"


def cpu_seconds(pid):
    """utime + stime (fields 14 and 15 of /proc/PID/stat)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def stop(proc):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def start_server(folder):
    os.chmod(folder, 0o700)
    with open(os.path.join(folder, "pa.pa"), "w") as f:
        f.write("load-module module-native-protocol-unix auth-anonymous=1\n"
                "load-module module-null-sink sink_name=bench rate=44100 format=s16le channels=2\n"
                "set-default-sink bench\n")
    env = dict(os.environ, XDG_RUNTIME_DIR=folder, HOME=folder)
    server = subprocess.Popen(["pulseaudio", "-n", "-F", os.path.join(folder, "pa.pa"), "--exit-idle-time=-1",
                               "--daemonize=no", "--disallow-exit=yes", "--use-pid-file=no"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    address = "unix:" + os.path.join(folder, "pulse", "native")
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if subprocess.run(["pactl", "info"], env=dict(os.environ, PULSE_SERVER=address),
                          capture_output=True).returncode == 0:
            return server, address
        time.sleep(0.05)
    stop(server)
    return None, None


def start_xvfb():
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return xvfb, ":" + xvfb.stdout.readline().strip()


def measure(command, env, pids_extra, warm, window):
    """Shares of one core over `window` s after `warm` s: (player, each extra pid)."""
    proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(warm)
        if proc.poll() is not None:
            return None
        pids = [proc.pid] + pids_extra
        c0, t0 = [cpu_seconds(p) for p in pids], time.monotonic()
        time.sleep(window)
        if proc.poll() is not None:
            return None
        c1, t1 = [cpu_seconds(p) for p in pids], time.monotonic()
        return [(b - a) / (t1 - t0) * 100 for a, b in zip(c0, c1)]
    finally:
        stop(proc)


def side_by_side(app, demo, rounds=3, window=30.0, warm=3.0, others=()):
    """Rows (label, player %, server %, X %, total %) of medians, and a note."""
    if not shutil.which("pulseaudio") or not shutil.which("pactl"):
        return None, "pulseaudio and pactl are needed"
    if not shutil.which("mpv") and os.geteuid() == 0:
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", "mpv"],
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), capture_output=True)
    folder = tempfile.mkdtemp(prefix="tonaria-bench-pulse-")
    work = tempfile.mkdtemp(prefix="tonaria-bench-")
    server = xvfb = None
    try:
        # One 44.1 kHz FLAC, long enough for the window, for every player.
        flac = os.path.join(work, "bench.flac")
        seconds = int(warm + window + 10)
        if subprocess.run(["sox", demo, "-r", "44100", "-c", "2", flac, "repeat", str(seconds // 20 + 1)],
                          capture_output=True).returncode != 0:
            return None, "sox could not make the FLAC"
        server, address = start_server(folder)
        if server is None:
            return None, "the private sound server did not start"
        base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_AUDIODRIVER")}
        base.update(PULSE_SERVER=address, TONARIA_NO_MPRIS="1")
        xvfb, display = start_xvfb() if shutil.which("Xvfb") else (None, None)
        players = [("Tonaria, headless", [app, flac], base, [server.pid])]
        if shutil.which("mpv"):
            players.append(("mpv, headless (--no-config --no-video --ao=pulse)",
                            ["mpv", "--no-config", "--no-video", "--ao=pulse", "--really-quiet", flac], base,
                            [server.pid]))
        if xvfb is not None:
            players.append(("Tonaria, window on Xvfb", [app, flac], dict(base, DISPLAY=display),
                            [server.pid, xvfb.pid]))
            floor = os.path.join(os.path.dirname(os.path.dirname(app)), "bench", "display", "x11_frame_floor")
            if os.path.exists(floor):
                players.append((FLOOR, [floor], dict(base, DISPLAY=display), [server.pid, xvfb.pid]))
            for other in others:
                players.append((f"{other}, window on Xvfb", [other, flac], dict(base, DISPLAY=display),
                                [server.pid, xvfb.pid]))
        results = {name: [] for name, *_ in players}
        for _ in range(rounds):
            for name, command, env, extra in players:
                shares = measure(command, env, extra, warm, window)
                if shares:
                    results[name].append(shares)
        rows = []
        for name, *_ in players:
            got = results[name]
            if not got:
                rows.append((name, None, None, None, None))
                continue
            columns = list(zip(*got))
            med = [statistics.median(c) for c in columns]
            player, srv = med[0], med[1]
            x = med[2] if len(med) > 2 else None
            total = statistics.median(sum(s) for s in got)
            rows.append((name, player, srv, x, total))
        note = (f"median of {rounds} alternating rounds of {window:.0f} s (after {warm:.0f} s), one private "
                "PulseAudio 44.1 kHz null sink for all, the demo as a 44.1 kHz FLAC; % of one core from "
                f"utime+stime in /proc/PID/stat; load average {os.getloadavg()[0]:.1f} at the end")
        return rows, note
    finally:
        stop(xvfb)
        stop(server)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)


def section(app, demo, rounds=3, window=30.0, others=()):
    rows, note = side_by_side(app, demo, rounds, window, others=others)
    lines = [HEADING, ""]
    if rows is None:
        return lines + [f"Not measured: {note}.", ""]
    lines += ["| player | player % | sound server % | X server % | total % |", "|---|---|---|---|---|"]
    fmt = lambda v: "-" if v is None else f"{v:.2f}"
    for name, player, srv, x, total in rows:
        lines.append(f"| {name} | {fmt(player)} | {fmt(srv)} | {fmt(x)} | {fmt(total)} |")
    lines += ["", f"Targets: Tonaria's headless total below mpv's; its window total at most 1.5% of a core. "
              f"How: {note}.", ""]
    totals = {name: total for name, _, _, _, total in rows}
    headless, floor = totals.get("Tonaria, headless"), totals.get(FLOOR)
    if headless is not None and floor is not None:
        lines += [f"The least a window showing these frames can cost here is what playing costs headless plus "
                  f"what the frames alone cost: {headless:.2f} + {floor:.2f} = {headless + floor:.2f}% of a core. "
                  "The frames' row is a bare X client of the window's size (no toolkit, no sound, no analysis) "
                  "that wakes 70 times a second and sends the changed rectangles of 40 moving bars through "
                  "MIT-SHM, as the player does.", ""]
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
    args = sys.argv[1:]
    others = [os.path.abspath(a) for a in args[args.index("--compare") + 1:]] if "--compare" in args else []
    args = args[:args.index("--compare")] if "--compare" in args else args
    app, demo = args[0], args[1]
    rounds = int(args[2]) if len(args) > 2 else 3
    window = float(args[3]) if len(args) > 3 else 30.0
    lines = section(os.path.abspath(app), os.path.abspath(demo), rounds, window, others)
    print("\n".join(lines))
    if others:
        sys.exit(0)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    replace_section(os.path.join(root, "docs", "benchmarks.md"), lines)
