#!/bin/sh
# Windows playback under wine, heard through a real sound server: wine's
# PulseAudio driver plays into a private PulseAudio null sink, whose monitor
# parec captures. For WASAPI and for the waveOut fallback alike (each forced
# by QUIBBET_AUDIO), the capture must hold the render bit-exactly; a
# stop must fall silent at once, and a replay start again from frame 0 on the
# stream left open. When the output goes away between plays, the next start
# plays on a new stream. With no server the program says so in one line, fast.
# usage: playback_wine.sh <wine-run> <wine-prefix> <playback_probe.exe>
set -eu
run=$1 prefix=$2 probe=$3

dir=$(mktemp -d "${TMPDIR:-/tmp}/quibbet-wine-audio.XXXXXX")
server_pid= recorder_pid= watcher_pid=
cleanup() {
  [ -z "$recorder_pid" ] || kill "$recorder_pid" 2>/dev/null || true
  [ -z "$watcher_pid" ] || kill "$watcher_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

# Lines wine itself may print about audio drivers; the program prints none.
without_wine_noise() { grep -v -e '^There is no driver installed' -e '^ALSA lib' "$1" || true; }

# ---- No server: one line per start, fast, nothing on stderr ----
PULSE_SERVER="unix:$dir/no-server" "$run" "$prefix" "$probe" render start news stop start news stop \
  >"$dir/out" 2>"$dir/err"
python3 - "$dir/out" <<'PY'
import sys
lines = open(sys.argv[1]).read().splitlines()
said = [l for l in lines if l.startswith("no audio output: ")]
other = [l for l in lines if not l.startswith(("@", "Tone = ", "no audio output: "))]
assert len(said) == 2 and not other, lines
assert len(said[0]) > len("no audio output: "), said
for l in lines:
    if l.startswith("@start "):
        _, begin, end = l.split()
        ms = (int(end) - int(begin)) / 1e6
        assert ms < 1000, "a start without a server took %.0f ms" % ms
print("no server: '%s', fast" % said[0])
PY
[ -z "$(without_wine_noise "$dir/err")" ] || { echo "stderr:"; cat "$dir/err"; exit 1; }

# ---- A private server ----
export HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config"
unset PULSE_SERVER
export PULSE_SERVER="unix:$dir/native"
# Wine 8 keeps only about 30 ms queued at the server, topped up by a timer
# of its own; an idle two-core machine was heard to delay that timer past
# the queue in 3 runs of 4, each time adding about 5 ms of silence to the
# capture however full the program kept its stream. A deeper queue on
# wine's side of the server (libpulse reads this variable) keeps such gaps,
# which no Windows program can prevent, out of a test of the program's bytes.
wine_queue=PULSE_LATENCY_MSEC=60
start_server() {
  # norewinds: otherwise the monitor loses the first frames of a stream.
  pulseaudio --daemonize=no --use-pid-file=no --exit-idle-time=-1 -n \
    --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    --load="module-null-sink sink_name=ci rate=44100 format=s16le channels=2 norewinds=1" \
    >"$dir/pulseaudio.log" 2>&1 &
  server_pid=$!
  tries=0
  until pactl info >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || { echo "pulseaudio did not start"; cat "$dir/pulseaudio.log"; exit 1; }
    sleep 0.1
  done
  # Anything below 100 % would scale the samples.
  pactl set-sink-volume ci 100%
}
start_server

start_recorder() {
  : >"$dir/capture"
  parec -d ci.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 \
    >"$dir/capture" &
  recorder_pid=$!
  tries=0
  until [ "$(stat -c %s "$dir/capture")" -ge 17640 ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || { echo "parec delivers nothing"; exit 1; }
    sleep 0.1
  done
}
stop_recorder() {
  kill "$recorder_pid"
  wait "$recorder_pid" 2>/dev/null || true
  recorder_pid=
}

# Play a second of the sound, stop, and replay it to its end.
listen() {
  start_recorder
  # The first start may wait for the output to open (in the background,
  # most of a second under wine). The server's events: the program must
  # play on one stream, kept open across the stop and the replay.
  pactl subscribe >"$dir/events" 2>/dev/null &
  watcher_pid=$!
  env $wine_queue QUIBBET_AUDIO=$1 "$run" "$prefix" "$probe" render start 2000ms stop 300ms start 7500ms \
    stop "save=Z:$dir/render.pcm" >"$dir/out" 2>"$dir/err"
  sleep 0.3
  stop_recorder
  kill "$watcher_pid"
  wait "$watcher_pid" 2>/dev/null || true
  watcher_pid=
  [ -z "$(without_wine_noise "$dir/err")" ] || { echo "stderr:"; cat "$dir/err"; exit 1; }
  # Wine probes the server with short streams of its own that never play;
  # only a stream that played changes state.
  streams=$(grep "'change' on sink-input" "$dir/events" | sort -u | wc -l)
  [ "$streams" -eq 1 ] || { echo "$1: $streams streams played, not one"; exit 1; }
  printf '%s: ' "$1"
  check
}

check() {
python3 - "$dir/capture" "$dir/render.pcm" "$dir/out" <<'PY'
import sys
capture = open(sys.argv[1], "rb").read()
pcm = open(sys.argv[2], "rb").read()
steps = {}
for line in open(sys.argv[3]).read().splitlines():
    if line.startswith("@"):
        name, begin, end = line[1:].split()
        steps.setdefault(name, []).append((int(begin), int(end)))
assert len(pcm) == 1234800, len(pcm)
bytes_per_ms = 176.4

# The sound's first bytes are zero, as silence is: find it by its first
# stretch that has any sound in it.
lead = next(i for i, b in enumerate(pcm) if b) & ~3
key = pcm[lead:lead + 8192]
def find_start(after):
    at = capture.find(key, after)
    assert at >= 0, "the sound is not in the capture after byte %d" % after
    return at - lead

# Wine's own timer, late on a busy machine, lets the server run dry now and
# then, and the server fills in silence (about 5 ms, seen here); the stream
# then goes on where it was. Such gaps are skipped, counted and kept few and
# short; every byte of the sound must still arrive, once and in order.
MAX_GAP = int(30 * bytes_per_ms)
gaps = []
def common(a, at, b, bt):  # how many bytes a[at:] and b[bt:] have in common
    lo, hi = 0, min(len(a) - at, len(b) - bt)
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if a[at:at + mid] == b[bt:bt + mid]:
            lo = mid
        else:
            hi = mid - 1
    return lo
def follow(at):  # bytes of pcm heard from capture[at] on, and where they end
    done = 0
    while True:
        n = common(capture, at, pcm, done)
        at, done = at + n, done + n
        if done == len(pcm):
            return done, at
        silent = 0
        while silent < MAX_GAP and at + silent < len(capture) and capture[at + silent] == 0:
            silent += 1
        resume = pcm[done:done + 256]
        skip = next((k for k in range(1, silent + 1) if capture[at + k:at + k + len(resume)] == resume), None)
        if skip is None:
            return done, at
        gaps.append(skip)
        at += skip

first = find_start(0)
played, cut = follow(first)
second = find_start(cut)
# Stopped at once: nothing but silence from the cut to the replay, and no
# more played than the time from the start call to the end of the stop call
# (plus what the server needs to fall silent).
gap = capture[cut:second]
assert gap.count(0) == len(gap), "sound after the stop, before the replay"
(start_begin, _), (stop_begin, stop_end) = steps["start"][0], steps["stop"][0]
limit = (stop_end - start_begin) / 1e6 + 50
assert played / bytes_per_ms <= limit, "%.1f ms played, at most %.1f expected" % (
    played / bytes_per_ms, limit)
assert played / bytes_per_ms >= 500, "only %.1f ms of the first start played" % (played / bytes_per_ms)
# The replay: every byte from frame 0, then silence.
heard, end = follow(second)
if heard != len(pcm):
    sys.exit("replay differs from the render at byte %d of %d" % (heard, len(pcm)))
tail = capture[end:]
assert tail.count(0) == len(tail), "sound after the end of the render"
assert len(gaps) <= 4, "%d gaps in the sound: %s bytes" % (len(gaps), gaps)
print("cut after %.1f ms, silent %.1f ms, replay %d bytes bit-exact%s"
      % (played / bytes_per_ms, len(gap) / bytes_per_ms, len(pcm),
         ", %d gap(s) of %s ms" % (len(gaps), "/".join("%.1f" % (g / bytes_per_ms) for g in gaps))
         if gaps else ""))
PY
}

listen wasapi
listen waveout

# ---- The output goes away between two plays (on Windows, say, headphones
# unplugged; here the server restarts): the next start opens a new stream
# and plays the whole render. waveOut under wine reports no such loss, so
# only WASAPI is tried. ----
env $wine_queue QUIBBET_AUDIO=wasapi "$run" "$prefix" "$probe" render "save=Z:$dir/render.pcm" start 300ms stop \
  3000ms start 2000ms stop >"$dir/out" 2>"$dir/err" &
probe_pid=$!
tries=0
until grep -q '^@stop' "$dir/out"; do
  tries=$((tries + 1))
  [ "$tries" -lt 200 ] || { echo "the probe did not stop"; cat "$dir/out"; exit 1; }
  sleep 0.05
done
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
start_server
start_recorder
wait "$probe_pid"
sleep 0.3
stop_recorder
[ -z "$(without_wine_noise "$dir/err")" ] || { echo "stderr:"; cat "$dir/err"; exit 1; }
python3 - "$dir/capture" "$dir/render.pcm" "$dir/out" <<'PY'
import sys
capture = open(sys.argv[1], "rb").read()
pcm = open(sys.argv[2], "rb").read()
said = [l for l in open(sys.argv[3]).read().splitlines() if l.startswith("no audio output")]
assert not said, said
# Bit for bit it is checked above; here, that the new stream plays the
# sound from its first frame on, and goes on playing it.
lead = next(i for i, b in enumerate(pcm) if b) & ~3
at = capture.find(pcm[lead:lead + 4096])
assert at >= 0, "the render's first frames are not heard after the server restarted"
heard_ms = (len(capture) - at - capture[at:].count(0)) / 176.4  # bytes that are not silence
assert heard_ms >= 1000, "only %.1f ms of sound after the restart" % heard_ms
print("after the server restarted: the render from frame 0, %.1f ms of sound" % heard_ms)
PY
