#!/usr/bin/env python3
"""The windowed player under Xvfb: start-up to the first painted main window,
whole-process CPU while playing an MP3 with the main window and the playlist
window visible, and memory after start-up.

Peers measured in the same run: for start-up, a second start of tunara (a Qt
process that starts, hands its file to the running player and ends: the bare
cost of a Qt process here); for CPU and memory, tunara-cli playing the same
file in the same way; with --peer, Audacious's classic skinned interface
(main and playlist windows) and `audacious -H` (no interface) playing it, and
tunara and tunara-cli again, all through one PulseAudio server with a null
sink; with --before PROGRAM, another build of the windowed player, for a
before/after figure from one run. Each CPU figure comes with the process's
context switches a second (all its threads).

  xvfb-run -a -s "-screen 0 1024x768x24" python3 bench/gui_bench.py [BUILD]
      [--peer] [--before PROGRAM] [--seconds N]

Needs sox and lame for the test file; xdotool (optional) opens the playlist
window for the CPU figure; --peer needs audacious, pulseaudio and dbus.
"""
import argparse, os, shutil, statistics, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--peer", action="store_true")
parser.add_argument("--before")
parser.add_argument("--seconds", type=float, default=15)
opts = parser.parse_args()
build = opts.build
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
    """The process's CPU time: its threads' run time in nanoseconds from the
    scheduler where the kernel keeps it (a clock tick is 0.08% of a core
    over 12 s, as large as the differences measured), else user and system
    time in ticks."""
    total, seen = 0, False
    for t in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{t}/schedstat") as f:
                total += int(f.read().split()[0])
                seen = True
        except (OSError, ValueError, IndexError):
            pass
    if seen:
        return total / 1e9
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick


def switches(pid):
    total = 0
    for t in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{t}/status") as f:
                total += sum(int(l.split()[1]) for l in f if "ctxt_switches" in l)
        except OSError:
            pass
    return total


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


def windows(name):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                          capture_output=True, text=True, env=env).stdout.split()


def open_playlist():
    """Opens the playlist window with a click on the main window's button;
    a fresh configuration first asks, in a modal box titled just "Tunara",
    whether to open the player's file types: declined, it lets the click
    through. True once the playlist window shows."""
    for _ in range(20):
        if windows("^Playlist$"):
            return True
        for box in windows("^Tunara$"):
            subprocess.run(["xdotool", "windowfocus", box, "key", "Escape"], env=env)
        main = windows("^Tunara - ")
        if main and not windows("^Tunara$"):
            out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", main[0]],
                                 capture_output=True, text=True, env=env).stdout
            geo = dict(l.split("=") for l in out.split() if "=" in l)
            x, y = int(geo.get("X", 0)), int(geo.get("Y", 0))
            subprocess.run(["xdotool", "mousemove", str(x + 334), str(y + 29), "click", "1",
                            "mousemove", "0", "0"], env=env)
        time.sleep(1.0)
    return bool(windows("^Playlist$"))


def measure(cmd, seconds, playlist=False, run_env=None):
    p = subprocess.Popen(cmd, env=run_env or env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(2.0)
    rss = rss_kib(p.pid)
    if playlist and shutil.which("xdotool") and not open_playlist():
        print("warning: the playlist window did not open", file=sys.stderr)
    c0, s0, w0 = cpu_seconds(p.pid), switches(p.pid), time.monotonic()
    time.sleep(seconds)
    c1, s1, w1 = cpu_seconds(p.pid), switches(p.pid), time.monotonic()
    p.terminate()
    p.wait()
    measure.switches = (s1 - s0) / (w1 - w0)
    return 100.0 * (c1 - c0) / (w1 - w0), rss


def sound_server():
    """A PulseAudio server of this run's own with a null sink, and a session
    bus (Audacious wants one); returns the environment that reaches them and
    a function that stops them."""
    home = os.path.join(work, "peer")
    run = os.path.join(home, "run")
    os.makedirs(run, mode=0o700)
    penv = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                XDG_RUNTIME_DIR=run)
    subprocess.run(["pulseaudio", "-D", "-n", "--exit-idle-time=-1",
                    "--load=module-native-protocol-unix", "--load=module-null-sink"],
                   env=penv, stderr=subprocess.DEVNULL, check=True)
    bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                          "--print-pid=1"], env=penv, capture_output=True, text=True).stdout
    address, bus_pid = bus.split()[:2]
    penv["DBUS_SESSION_BUS_ADDRESS"] = address

    def stop():
        subprocess.run(["pulseaudio", "--kill"], env=penv, stderr=subprocess.DEVNULL)
        os.kill(int(bus_pid), 15)
    return penv, stop


def peer_cpu(penv):
    """Audacious with its classic skinned interface, main and playlist windows,
    and without an interface (-H), through the server."""
    home = penv["HOME"]
    # A first run writes the plugin registry; then the skinned interface
    # replaces the GTK one and the playlist window opens with it.
    short = os.path.join(work, "short.mp3")
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav.replace("tone", "s"),
                    "synth", "1", "sine", "440"], check=True)
    subprocess.run(["lame", "--quiet", wav.replace("tone", "s"), short], check=True)
    subprocess.run(["audacious", "-G", "-q", short], env=penv, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    conf = os.path.join(home, ".config", "audacious")
    registry = os.path.join(conf, "plugin-registry")
    lines, iface = open(registry).read().split("\n"), None
    for i, line in enumerate(lines):
        if line.startswith("iface "):
            iface = line
        elif line.startswith("enabled ") and iface:
            if iface.endswith("/gtkui.so"):
                lines[i] = "enabled 0"
            if iface.endswith("/skins.so"):
                lines[i] = "enabled 1"
            iface = None
    open(registry, "w").write("\n".join(lines))
    with open(os.path.join(conf, "config"), "a") as f:
        f.write("\n[skins]\nplaylist_visible=TRUE\n")
    skinned, _ = measure(["audacious", "-G", mp3], secs, run_env=penv)
    skinned_sw = measure.switches
    headless, _ = measure(["audacious", "-H", mp3], secs, run_env=penv)
    return skinned, skinned_sw, headless, measure.switches


firsts, seconds_ = zip(*[start_to_first_paint() for _ in range(5)])
first, second = statistics.median(firsts), statistics.median(seconds_)
print(f"start-up to first paint (median of 5, warm): {first:.0f} ms; "
      f"second start handing over: {second:.0f} ms; ratio {first / second:.2f}")
secs = opts.seconds
gui_cpu, gui_rss = measure([tunara, mp3], secs, playlist=True)
gui_sw = measure.switches
cli_cpu, cli_rss = measure([cli, "play", mp3], secs)
print(f"CPU while playing ({secs:.0f} s, null device): tunara {gui_cpu:.2f}% of a core "
      f"({gui_sw:.0f} switches/s), tunara-cli {cli_cpu:.2f}% ({measure.switches:.0f}/s); "
      f"ratio {gui_cpu / max(cli_cpu, 0.01):.2f}")
if opts.before:
    before_cpu, _ = measure([opts.before, mp3], secs, playlist=True)
    print(f"CPU while playing ({secs:.0f} s): before {before_cpu:.2f}% of a core, "
          f"now {gui_cpu:.2f}%")
if opts.peer:
    penv, stop_server = sound_server()
    try:
        # Our programs through the same server as the peer (the default
        # output picks the server when one answers).
        # A fresh configuration: the session the null-device run saved would
        # otherwise decide which windows open.
        tenv = dict(penv, XDG_CONFIG_HOME=os.path.join(work, "pulse-config"), TMPDIR=work)
        tenv.pop("TUNARA_AUDIO", None)
        t_gui, _ = measure([tunara, mp3], secs, playlist=True, run_env=tenv)
        t_gui_sw = measure.switches
        t_cli, _ = measure([cli, "play", mp3], secs, run_env=tenv)
        t_cli_sw = measure.switches
        if opts.before:
            benv = dict(tenv, XDG_CONFIG_HOME=os.path.join(work, "pulse-before-config"))
            b_gui, _ = measure([opts.before, mp3], secs, playlist=True, run_env=benv)
            b_gui_sw = measure.switches
        p_gui, p_gui_sw, p_cli, p_cli_sw = peer_cpu(penv)
    finally:
        stop_server()
    print(f"CPU while playing ({secs:.0f} s, PulseAudio null sink): window: tunara "
          f"{t_gui:.2f}% ({t_gui_sw:.0f} switches/s), Audacious skinned {p_gui:.2f}% "
          f"({p_gui_sw:.0f}/s); ratio {t_gui / max(p_gui, 0.01):.2f}")
    if opts.before:
        print(f"CPU while playing ({secs:.0f} s, PulseAudio null sink): window: before "
              f"{b_gui:.2f}% ({b_gui_sw:.0f} switches/s), now {t_gui:.2f}%")
    print(f"CPU while playing ({secs:.0f} s, PulseAudio null sink): terminal: tunara-cli "
          f"{t_cli:.2f}% ({t_cli_sw:.0f} switches/s), audacious -H {p_cli:.2f}% "
          f"({p_cli_sw:.0f}/s); ratio {t_cli / max(p_cli, 0.01):.2f}")
print(f"memory after start-up (VmRSS): tunara {gui_rss / 1024:.1f} MiB, "
      f"tunara-cli {cli_rss / 1024:.1f} MiB; ratio {gui_rss / max(cli_rss, 1):.2f}")
shutil.rmtree(work)
