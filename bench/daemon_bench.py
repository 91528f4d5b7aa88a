#!/usr/bin/env python3
"""Load figures for the running daemon, measured end to end in a sandbox root.

    bench/daemon_bench.py [--build build] [latency] [burst] [idle] [spacing] [sustained]
                          [concurrent] [retry]

  latency    eventadd to the stand-in ubus receiving putmail, 50 events one
             second apart: p50/p95
  burst      1000 request datagrams back to back: all processed, none lost
  idle       CPU time, wakeups (voluntary context switches of all the
             daemon's threads) and resident memory of the idle daemon over
             60 s, after start and after a burst
  spacing    10 records at once on the e-mail channel: the gaps between
             their putmail calls (the channel's pace is one per 200 ms)
  sustained  4 events a second for 120 s through all three channels: channel
             backlog over time, every pending row deleted at the end
  concurrent two eventadd loops side by side, 100 requests of 1100 bytes each
             (three datagrams apiece): how many arrive, how many whole
             (their first and last parameters from the same request)
  retry      1000 events while the trap service refuses every call, then the
             daemon watched for 10 minutes (--minutes): CPU, resident memory,
             pending rows, trap attempts and give-ups every 30 s

As root the script runs itself in a network namespace of its own (port 9001
is fixed), so it does not collide with tests or another daemon. Figures are
printed, not asserted.
"""
import argparse
import fcntl
import os
import shutil
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SCHEMA = """
CREATE TABLE eventlist(id integer primary key AUTOINCREMENT,eventid INT,eventname varchar(64),
  type varchar(16),cycle INT,cycleunit INT default 1,threshold INT,latestthreshold INT,
  enablerecord VARCHAR(8),emailnotify varchar(8),subject VARCHAR(256),notifycontext varchar(512),
  prompt VARCHAR(128),logcontext VARCHAR(512),repeatcount VARCHAR(8) default '1',
  smsnotify varchar(8),snmpnotify varchar(8),context_en varchar(512),context_ch varchar(512));
CREATE TABLE eventlogcache(id integer  primary key AUTOINCREMENT,eventid INT,
  notifyflag varchar(8) default 0,context VARCHAR(512), happentime DATETIME);
CREATE TABLE eventlog(id integer  primary key  AUTOINCREMENT,datetime DATETIME, type varchar(16),
  eventid INT, loginfo VARCHAR(512), readstatus VARCHAR(8) DEFAULT 'no');
INSERT INTO eventlist(eventid,eventname,type,enablerecord,emailnotify,smsnotify,snmpnotify,
  subject,prompt,context_en) VALUES
  (100,'port','port','no','yes','yes','yes','Port ${n} ${state}','','Port ${n} is ${state}'),
  (101,'mail','test','no','yes','no','no','Mail ${n}','','Mail number ${n}'),
  (102,'silent','test','no','no','no','no','quiet','','');
"""


def enter_namespace():
    if os.environ.get("ALERTMILL_BENCH_INSIDE") or os.geteuid() != 0 or not shutil.which("unshare"):
        return
    os.environ["ALERTMILL_BENCH_INSIDE"] = "1"
    os.execvp("unshare", ["unshare", "--net", "--", sys.executable] + sys.argv)


class Sandbox:
    def __init__(self, build):
        self.bin = os.path.join(build, "bin")
        self.dev = os.path.join(build, "dev")
        self.root = tempfile.mkdtemp(prefix="alertmill-bench-")
        for d in ("etc/quagga", "tmp"):
            os.makedirs(os.path.join(self.root, d))
        self.write("hostname", "bench-gw\n")
        self.write("serial", "SN-BENCH\n")
        self.write("etc/alarm_email_group", "7\n")
        self.write("etc/alarm_sms_group", "3\n")
        self.write("tmp/.reboot_flag", "")
        # No alarm line: while the daemon runs, eventadd records a pending row.
        self.write("etc/quagga/events_alarm.conf", "# bench\n")
        db = sqlite3.connect(self.path("etc/events.sqlite3"))
        db.executescript(SCHEMA)
        db.commit()
        db.close()
        self.env = dict(os.environ)
        self.env["ALERTMILL_ROOT"] = self.root
        self.env["PATH"] = self.dev + ":" + self.env.get("PATH", "/usr/bin:/bin")
        self.env["LD_LIBRARY_PATH"] = self.dev
        self.daemon = None
        self.agent = None
        self.out = None

    def path(self, relative):
        return os.path.join(self.root, relative)

    def write(self, relative, text):
        with open(self.path(relative), "w") as f:
            f.write(text)

    def start(self, name):
        self.agent = subprocess.Popen([os.path.join(self.dev, "snmp-mib")], env=self.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.out = self.path(name + ".out")
        with open(self.out, "w") as out, open(self.path(name + ".err"), "w") as err:
            self.daemon = subprocess.Popen([os.path.join(self.bin, "alertmill")], env=self.env,
                                           stdout=out, stderr=err, cwd=self.root)
        wait_until(lambda: "no last event" in self.stdout() or "ready to conn" in self.stdout(), 60)
        time.sleep(0.5)

    def stop(self):
        for p in (self.daemon, self.agent):
            if p:
                p.kill()
                p.wait()

    def stdout(self):
        with open(self.out, errors="replace") as f:
            return f.read()

    def eventadd(self, *args):
        subprocess.run([os.path.join(self.bin, "eventadd")] + list(args), env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=self.root)

    def ubus_lines(self):
        try:
            with open(self.path("ubus.log"), errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def pending(self):
        # Under the daemon's own lock file, so a read never makes one of its
        # statements fail with SQLITE_BUSY.
        with open(self.path("tmp/syscore.fl"), "a+") as lock:
            fcntl.lockf(lock, fcntl.LOCK_EX)
            db = sqlite3.connect(self.path("etc/events.sqlite3"), timeout=10)
            try:
                return db.execute("select count(*) from eventlogcache").fetchone()[0]
            finally:
                db.close()

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.daemon.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def wakeups(self):
        # Voluntary context switches summed over the daemon's threads: each
        # is one time a thread went to sleep, so one wakeup.
        total = 0
        task_dir = "/proc/%d/task" % self.daemon.pid
        for task in os.listdir(task_dir):
            with open(os.path.join(task_dir, task, "status")) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        total += int(line.split()[1])
        return total

    def rss_kib(self):
        with open("/proc/%d/status" % self.daemon.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return -1


def wait_until(condition, seconds):
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def send(datagram):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(datagram.encode(), ("127.0.0.1", 9001))


def bench_latency(build):
    box = Sandbox(build)
    box.start("latency")
    seen = {}
    stop = threading.Event()

    def watch():
        offset = 0
        log = box.path("ubus.log")
        while not stop.is_set():
            try:
                with open(log, errors="replace") as f:
                    f.seek(offset)
                    chunk = f.read()
                    offset = f.tell()
            except FileNotFoundError:
                chunk = ""
            now = time.monotonic()
            for line in chunk.splitlines():
                at = line.find('"head":"Mail ')
                if "putmail" in line and at >= 0:
                    seen.setdefault(int(line[at + 13:].split('"')[0]), now)
            time.sleep(0.001)

    watcher = threading.Thread(target=watch)
    watcher.start()
    raised, sent, eventadd_times = {}, {}, []
    for n in range(50):
        start = time.monotonic()
        raised[n] = start
        box.eventadd("101", "n=%d" % n)
        # The datagram leaves at the end of eventadd, just before the FIFO.
        sent[n] = time.monotonic()
        eventadd_times.append(sent[n] - start)
        time.sleep(max(0.0, 1.0 - (time.monotonic() - start)))
    wait_until(lambda: len(seen) == 50, 30)
    stop.set()
    watcher.join()
    box.stop()
    latencies = [(seen[n] - raised[n]) * 1000 for n in raised if n in seen]
    daemon_part = [(seen[n] - sent[n]) * 1000 for n in sent if n in seen]
    print("latency eventadd -> ubus putmail, %d of 50 events:" % len(latencies))
    print("  p50 %.1f ms, p95 %.1f ms, min %.1f ms, max %.1f ms" %
          (statistics.median(latencies), percentile(latencies, 0.95), min(latencies),
           max(latencies)))
    print("  eventadd itself (switch file, ps check, row, datagram): p50 %.1f ms" %
          (statistics.median(eventadd_times) * 1000))
    print("  eventadd's end -> putmail: p50 %.1f ms, p95 %.1f ms, min %.1f ms" %
          (statistics.median(daemon_part), percentile(daemon_part, 0.95), min(daemon_part)))
    print("  sandbox: %s" % box.root)


def burst(box, count):
    before = box.stdout().count("the needflag is 0")
    start = time.monotonic()
    for n in range(count):
        send("&eventid=102&sqlid=&n=%d&" % n)
    sent = time.monotonic() - start
    done = wait_until(lambda: box.stdout().count("the needflag is 0") - before >= count,
                      count * 0.1 + 120)
    processed = box.stdout().count("the needflag is 0") - before
    return sent, time.monotonic() - start, processed, done


def idle_figures(box, label):
    cpu0, woken0 = box.cpu_seconds(), box.wakeups()
    time.sleep(60)
    cpu, woken = box.cpu_seconds() - cpu0, box.wakeups() - woken0
    print("idle %s: CPU %.2f s over 60 s, %d wakeups (%.2f/s), RSS %d KiB" %
          (label, cpu, woken, woken / 60, box.rss_kib()))


def bench_burst_and_idle(build, want_burst, want_idle):
    box = Sandbox(build)
    box.start("burst")
    if want_idle:
        idle_figures(box, "after start")
    if want_burst:
        sent, took, processed, done = burst(box, 1000)
        print("burst: 1000 datagrams sent in %.3f s; %d processed in %.1f s; lost %d" %
              (sent, processed, took, 1000 - processed))
    if want_idle:
        idle_figures(box, "after the burst" if want_burst else "(again)")
    print("  daemon stderr bytes: %d; sandbox: %s" %
          (os.path.getsize(box.path("burst.err")), box.root))
    box.stop()


def stamping_ubus(box):
    # A ubus in front of the stand-in that notes when each call starts, to
    # the nanosecond, before handing over.
    wrapper_dir = box.path("stamp-bin")
    os.makedirs(wrapper_dir)
    wrapper = os.path.join(wrapper_dir, "ubus")
    with open(wrapper, "w") as f:
        f.write('#!/bin/sh\necho "$(date +%%s.%%N) $3" >> "$ALERTMILL_ROOT/ubus.stamps"\n'
                'exec "%s" "$@"\n' % os.path.join(box.dev, "ubus"))
    os.chmod(wrapper, 0o755)
    box.env["PATH"] = wrapper_dir + ":" + box.env["PATH"]


def bench_spacing(build):
    box = Sandbox(build)
    stamping_ubus(box)
    box.start("spacing")
    for n in range(10):
        send("&eventid=101&sqlid=&n=%d&" % n)

    def stamps():
        try:
            with open(box.path("ubus.stamps")) as f:
                return [float(l.split()[0]) for l in f if l.split()[1:] == ["putmail"]]
        except FileNotFoundError:
            return []

    wait_until(lambda: len(stamps()) >= 10, 60)
    times = stamps()
    gaps = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    print("spacing: %d of 10 records delivered on one channel; gaps min %.1f ms, "
          "median %.1f ms, max %.1f ms" % (len(times), min(gaps), statistics.median(gaps),
                                          max(gaps)) if gaps else "spacing: too few deliveries")
    box.stop()


def bench_sustained(build):
    box = Sandbox(build)
    box.start("sustained")
    rate, seconds = 4, 120
    samples = []
    start = time.monotonic()
    for n in range(rate * seconds):
        due = start + n / rate
        time.sleep(max(0.0, due - time.monotonic()))
        box.eventadd("100", "n=%d&state=up" % n)
        if n % (rate * 10) == rate * 10 - 1:
            lines = box.ubus_lines()
            done = {c: sum(c in l for l in lines) for c in ("putmail", "sendsms", "eventtrap")}
            samples.append((n + 1, done, box.pending()))
    raised = time.monotonic() - start
    drained = wait_until(lambda: box.pending() == 0, 300)
    drain = time.monotonic() - start - raised
    lines = box.ubus_lines()
    print("sustained: %d events in %.1f s (%.2f/s)" % (rate * seconds, raised,
                                                       rate * seconds / raised))
    for raised_so_far, done, pending in samples:
        backlog = {c: raised_so_far - v for c, v in done.items()}
        print("  after %3d events: channel backlog %s, pending rows %d" %
              (raised_so_far, backlog, pending))
    print("  every pending row deleted: %s, %.1f s after the last event" % (drained, drain))
    print("  deliveries: putmail %d, sendsms %d, eventtrap %d; RSS %d KiB" %
          (sum("putmail" in l for l in lines), sum("sendsms" in l for l in lines),
           sum("eventtrap" in l for l in lines), box.rss_kib()))
    box.stop()


def bench_concurrent(build):
    box = Sandbox(build)
    box.start("concurrent")
    count, size = 100, 1100

    def loop(tag):
        for n in range(count):
            name = "%s%03d" % (tag, n)
            head = "n=%s&pad=" % name
            tail = "&state=%s" % name
            box.eventadd("100", head + tag * (size - len(head) - len(tail) - 21) + tail)

    start = time.monotonic()
    loops = [threading.Thread(target=loop, args=(tag,)) for tag in "AB"]
    for thread in loops:
        thread.start()
    for thread in loops:
        thread.join()
    raised = time.monotonic() - start

    def heads():
        found = []
        for line in box.ubus_lines():
            at = line.find('"head":"Port ')
            if "putmail" in line and at >= 0:
                found.append(line[at + 13:].split('"')[0].split(" "))
        return found

    wait_until(lambda: len(heads()) >= 2 * count and box.pending() == 0, 300)
    found = heads()
    whole = [h for h in found if len(h) == 2 and h[0] == h[1]]
    names = set(h[0] for h in whole)
    print("concurrent: 2 x %d requests of %d bytes raised in %.1f s, all delivered after %.1f s" %
          (count, size, raised, time.monotonic() - start))
    print("  mails %d, whole %d, distinct %d, mixed %d, lost %d, pending rows left %d" %
          (len(found), len(whole), len(names), len(found) - len(whole), 2 * count - len(names),
           box.pending()))
def bench_retry(build, events, minutes):
    box = Sandbox(build)
    box.write("ubus.fail", "eventtrap\n")
    box.start("retry")
    start = time.monotonic()
    for n in range(events):
        box.eventadd("100", "n=%d&state=down" % n)
    print("retry: %d events raised in %.1f s, the trap service refusing every call" %
          (events, time.monotonic() - start))
    most_rows = 0
    until = start + minutes * 60
    while True:
        lines = box.ubus_lines()
        rows = box.pending()
        most_rows = max(most_rows, rows)
        print("  %5.0f s: CPU %6.2f s, RSS %5d KiB, pending rows %4d, putmail %d, sendsms %d, "
              "eventtrap tries %d, given up %d" %
              (time.monotonic() - start, box.cpu_seconds(), box.rss_kib(), rows,
               sum("putmail" in l for l in lines), sum("sendsms" in l for l in lines),
               sum("eventtrap" in l for l in lines), box.stdout().count("delivery given up")))
        if time.monotonic() >= until:
            break
        time.sleep(min(30, max(0.0, until - time.monotonic())))
    print("  most pending rows seen: %d (bound 1000)" % most_rows)
    box.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    args = parser.parse_args()
    enter_namespace()
    if os.environ.get("ALERTMILL_BENCH_INSIDE"):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=False)
    build = os.path.abspath(args.build)
    if "latency" in args.which:
        bench_latency(build)
    if "burst" in args.which or "idle" in args.which:
        bench_burst_and_idle(build, "burst" in args.which, "idle" in args.which)
    if "spacing" in args.which:
        bench_spacing(build)
    if "sustained" in args.which:
        bench_sustained(build)
    if "concurrent" in args.which:
        bench_concurrent(build)
    if "retry" in args.which:
        bench_retry(build, 1000, args.minutes)


if __name__ == "__main__":
    main()
