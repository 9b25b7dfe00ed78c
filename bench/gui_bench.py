#!/usr/bin/env python3
"""The windowed player under Xvfb: start-up to the first painted main window,
whole-process CPU while playing an MP3 with the main window and the playlist
window visible, and memory after start-up.

Peers measured in the same run: for start-up, a second start of tunara (a Qt
process that starts, hands its file to the running player and ends: the bare
cost of a Qt process here); for CPU and memory, tunara-cli playing the same
file in the same way.

  xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/gui_bench.py [BUILD]

Needs sox and lame for the test file; xdotool (optional) opens the playlist
window for the CPU figure.
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
app = os.path.join(build, "app")
tunara = os.path.join(app, "tunara")
cli = os.path.join(app, "tunara-cli")
tick = os.sysconf("SC_CLK_TCK")
work = tempfile.mkdtemp()
env = dict(os.environ, TUNARA_AUDIO="null", XDG_CONFIG_HOME=work, TMPDIR=work)

mp3 = os.path.join(work, "tone.mp3")
wav = os.path.join(work, "tone.wav")
subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "40",
                "sine", "440", "sine", "660", "vol", "0.5"], check=True)
subprocess.run(["lame", "--quiet", "-b", "192", wav, mp3], check=True)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def start_to_first_paint():
    t0 = time.monotonic_ns() // 1000
    p = subprocess.Popen([tunara, mp3], env=dict(env, TUNARA_BENCH_FIRST_PAINT="1"),
                         stderr=subprocess.PIPE, text=True)
    for line in p.stderr:
        if "first paint at" in line:
            t1 = int(line.split("at")[1].split()[0])
            break
    else:
        raise SystemExit("tunara did not paint")
    # The peer: a second start handing its file over to this one.
    s0 = time.monotonic_ns()
    subprocess.run([tunara, mp3], env=env, check=True)
    second = (time.monotonic_ns() - s0) / 1e6
    p.terminate()
    p.wait()
    return (t1 - t0) / 1000, second


def measure(cmd, seconds, playlist=False):
    p = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    time.sleep(2.0)
    rss = rss_kib(p.pid)
    if playlist and shutil.which("xdotool"):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Tunara",
                              "getwindowgeometry", "--shell"], capture_output=True, text=True,
                             env=env).stdout
        geo = dict(l.split("=") for l in out.split() if "=" in l)
        x, y = int(geo.get("X", 0)), int(geo.get("Y", 0))
        subprocess.run(["xdotool", "mousemove", str(x + 334), str(y + 29), "click", "1",
                        "mousemove", "0", "0"], env=env)
        time.sleep(1.0)
    c0, w0 = cpu_seconds(p.pid), time.monotonic()
    time.sleep(seconds)
    c1, w1 = cpu_seconds(p.pid), time.monotonic()
    p.terminate()
    p.wait()
    return 100.0 * (c1 - c0) / (w1 - w0), rss


firsts, seconds_ = zip(*[start_to_first_paint() for _ in range(5)])
first, second = statistics.median(firsts), statistics.median(seconds_)
print(f"start-up to first paint (median of 5, warm): {first:.0f} ms; "
      f"second start handing over: {second:.0f} ms; ratio {first / second:.2f}")
gui_cpu, gui_rss = measure([tunara, mp3], 15, playlist=True)
cli_cpu, cli_rss = measure([cli, "play", mp3], 15)
print(f"CPU while playing (15 s): tunara {gui_cpu:.2f}% of a core, tunara-cli {cli_cpu:.2f}%; "
      f"ratio {gui_cpu / max(cli_cpu, 0.01):.2f}")
print(f"memory after start-up (VmRSS): tunara {gui_rss / 1024:.1f} MiB, "
      f"tunara-cli {cli_rss / 1024:.1f} MiB; ratio {gui_rss / max(cli_rss, 1):.2f}")
shutil.rmtree(work)
