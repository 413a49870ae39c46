#!/usr/bin/python3
"""Figures of zelvanod's MQTT door, measured on this machine against Debian's
mosquitto, the real zelvanod and espa-slave over TCP:

  latency   publish -> the call's first state message (NEW, sent once the call
            is in the journal), one call at a time at 50 a second (p50, p99)
  rate      calls a second taken from the broker: a burst of QoS 1 calls, the
            time until all their NEW states are back
  outage    the broker stopped for 30 s (10 s with --quick) and started again
            on the same port while a client queues 5 calls a second: how many
            of those calls reached a final state, how many were paged twice
            (espa-slave's "call ADDRESS received" lines) and how long the
            service took to come back

The broker runs with its own configuration: a loopback listener, anonymous
clients, no persistence (so a restart forgets every session).

Needs python3-paho-mqtt (apt-get install -y python3-paho-mqtt) and mosquitto.

Usage: /usr/bin/python3 scripts/bench-mqtt.py [BUILD_DIR] [--quick]
"""
import collections, json, os, pathlib, re, shutil, socket, sqlite3, subprocess, sys, tempfile
import time

import paho.mqtt.client as mqtt

ARGS = [a for a in sys.argv[1:] if not a.startswith("--")]
BUILD = pathlib.Path(ARGS[0] if ARGS else "build").resolve()
QUICK = "--quick" in sys.argv
SLAVE = BUILD / "tools/espa-slave/espa-slave"
SERVICE = BUILD / "zelvanod"
BROKER = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
PREFIX = "zelvano/default"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, test, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(step)
    raise RuntimeError(f"timed out waiting for {what}")


def port_open(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
        return True
    except OSError:
        return False


class Processes:
    """Every program the bench starts, stopped again in reverse order."""

    def __init__(self):
        self.running = []

    def start(self, args, log):
        with open(log, "ab") as out:
            proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT)
        self.running.append(proc)
        return proc

    def stop(self, proc):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if proc in self.running:
            self.running.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.running)):
            self.stop(proc)


def start_broker(procs, folder, port):
    conf = folder / "mosquitto.conf"
    conf.write_text(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
    proc = procs.start([BROKER, "-c", str(conf)], folder / "mosquitto.log")
    wait_for("mosquitto", lambda: proc.poll() is not None or port_open(port), 10)
    if proc.poll() is not None:
        raise RuntimeError(f"mosquitto exited: see {folder / 'mosquitto.log'}")
    return proc


def start_slave(procs, folder):
    pty_file = folder / "slave.addr"
    proc = procs.start([str(SLAVE), "--listen", "127.0.0.1:0", "--pty-file", str(pty_file),
                        "--quiet"], folder / "slave.log")
    wait_for("espa-slave", lambda: pty_file.exists() and pty_file.read_text().endswith("\n"), 10)
    return proc, pty_file.read_text().strip()


def start_service(procs, folder, slave_addr, broker_port):
    conf = folder / "zelvanod.conf"
    conf.write_text("\n".join(["rate = 0", "max-age = 3600", "[line]", "status-check = none",
                               "[mqtt]", "host = 127.0.0.1", f"port = {broker_port}"]) + "\n")
    log = folder / "zelvanod.log"
    proc = procs.start([str(SERVICE), "--config", str(conf), "--port", f"tcp://{slave_addr}",
                        "--listen", "127.0.0.1:0", "--state-dir", str(folder)], log)
    wait_for("zelvanod", lambda: proc.poll() is not None or "LISTEN " in log.read_text(), 10)
    if proc.poll() is not None:
        raise RuntimeError(f"zelvanod exited: see {log}")
    return proc


class Watcher:
    """Subscribes to every call's state and notes when each state first arrived."""

    def __init__(self, port):
        self.first = {}  # id -> (time, state) of its first state message
        self.new = {}  # id -> time its NEW state arrived
        self.final = {}  # id -> its final state
        self.client = mqtt.Client(client_id=f"bench-watch-{port}")
        self.line = []  # times the service's line state arrived (on every connection)
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(
            [(PREFIX + "/calls/+/state", 1), (PREFIX + "/line", 1)])
        self.client.on_message = self.take
        self.client.reconnect_delay_set(0.2, 0.2)
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()

    def take(self, client, userdata, message):
        now = time.perf_counter()
        if message.topic == PREFIX + "/line":
            # Live ones only: a broker with persistence hands out its stored copy at once.
            return None if message.retain else self.line.append(now)
        call_id = message.topic.split("/")[-2]
        try:
            state = json.loads(message.payload)
        except ValueError:
            return
        name = state.get("state", "error")
        self.first.setdefault(call_id, (now, name))
        if name == "NEW":
            self.new.setdefault(call_id, now)
        if state.get("final"):
            self.final[call_id] = name

    def stop(self):
        self.client.loop_stop()
        self.client.disconnect()


class Publisher:
    """A QoS 1 client; while the broker is away, paho keeps what it is given
    and sends it once connected again."""

    def __init__(self, port):
        self.client = mqtt.Client(client_id=f"bench-pub-{port}")
        self.acked = set()  # message ids the broker has acknowledged
        self.client.on_publish = lambda c, u, mid: self.acked.add(mid)
        self.client.max_inflight_messages_set(0)
        self.client.reconnect_delay_set(0.2, 0.2)
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        wait_for("the publisher's connection", self.client.is_connected, 10)

    def call(self, call_id, address):
        body = json.dumps({"address": str(address), "text": "bench", "id": call_id})
        sent = time.perf_counter()
        return sent, self.client.publish(PREFIX + "/call", body, qos=1).mid

    def stop(self):
        self.client.loop_stop()
        self.client.disconnect()


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))]


def until_service_subscribed(pub, watch):
    """Calls sent before the service has subscribed are dropped by the broker:
    send a probe every half second until one comes back."""
    for i in range(40):
        probe = f"probe-{i}"
        pub.call(probe, 900000 + i)
        try:
            return wait_for("a probe", lambda: probe in watch.first, 0.5)
        except RuntimeError:
            continue
    raise RuntimeError("zelvanod never took a call from the broker")


def latency(pub, watch):
    count, rate = (60, 50) if QUICK else (300, 50)
    sent = {}
    start = time.perf_counter()
    for i in range(count):
        time.sleep(max(0, start + i / rate - time.perf_counter()))
        sent[f"lat-{i}"] = pub.call(f"lat-{i}", 200000 + i)[0]
    wait_for("the latency calls' NEW states", lambda: all(k in watch.new for k in sent), 60)
    firsts = [watch.first[k] for k in sent]
    assert all(state == "NEW" for _, state in firsts), "a first state other than NEW"
    ms = [(watch.first[k][0] - t) * 1000 for k, t in sent.items()]
    return f"p50 {percentile(ms, 50):.2f} ms, p99 {percentile(ms, 99):.2f} ms, " \
           f"max {max(ms):.2f} ms: publish -> NEW, {count} calls at {rate}/s"


def burst(pub, watch, folder):
    count = 300 if QUICK else 2000
    ids = [f"burst-{i}" for i in range(count)]
    start = time.perf_counter()
    for i, call_id in enumerate(ids):
        pub.call(call_id, 300000 + i)
    handed = time.perf_counter() - start
    # The broker may drop some (it queues 1000 messages for a client by
    # default): wait until all are back or none came for 5 s.
    seen, still = 0, time.perf_counter()
    while seen < count and time.perf_counter() - still < 5:
        time.sleep(0.01)
        now = sum(1 for k in ids if k in watch.new)
        if now > seen:
            seen, still = now, time.perf_counter()
    back = [watch.new[k] for k in ids if k in watch.new]
    took = max(back) - start
    text = f"{len(back) / took:.0f} calls/s: {count} QoS 1 calls published at once " \
           f"(in {handed:.2f} s), "
    if len(back) == count:
        return text + f"all NEW after {took:.2f} s"
    dropped = "Outgoing messages are being dropped for client zelvanod" in \
        (folder / "mosquitto.log").read_text()
    return text + f"only {len(back)} came back NEW, the last after {took:.2f} s" + \
        (" (mosquitto: \"Outgoing messages are being dropped for client zelvanod-default\")"
         if dropped else "")


def outage_traffic(procs, folder, port, broker, pub, watch):
    """Calls at 5 a second: some before the stop, through the outage, and after
    the return until one is taken again (at most 90 s) and some more."""
    down_seconds = 10 if QUICK else 30
    around = 3 if QUICK else 5
    rate = 5
    sent, acks, marks = {}, {}, {}
    start = time.perf_counter()
    i = 0
    while True:
        at = start + i / rate
        if "down" not in marks and at >= start + around:
            procs.stop(broker)
            marks["down"] = time.perf_counter()
        if "back" not in marks and at >= start + around + down_seconds:
            broker = start_broker(procs, folder, port)
            marks["back"] = time.perf_counter()
        if "back" in marks and "taken" not in marks:
            taken = [watch.new[k] for k, t in sent.items() if t >= marks["back"] and k in watch.new]
            if taken or at - marks["back"] > 90:
                marks["taken"] = min(taken, default=at)
        if "taken" in marks and at >= marks["taken"] + around:
            break
        time.sleep(max(0, at - time.perf_counter()))
        call_id = f"out-{i}"
        sent[call_id], acks[call_id] = pub.call(call_id, 400000 + i)
        i += 1
    return sent, acks, marks, down_seconds, rate


def outage(folder, procs):
    port = free_port()
    broker = start_broker(procs, folder, port)
    _, slave_addr = start_slave(procs, folder)
    start_service(procs, folder, slave_addr, port)
    watch, pub = Watcher(port), Publisher(port)
    try:
        until_service_subscribed(pub, watch)
        sent, acks, marks, down_seconds, rate = \
            outage_traffic(procs, folder, port, broker, pub, watch)
        published = time.perf_counter()
        journal = sqlite3.connect(folder / "journal.db")

        def journal_calls():
            rows = journal.execute("SELECT idem_key, final FROM calls WHERE idem_key LIKE 'out-%'")
            return dict(rows.fetchall())

        # Wait until every call the service took has ended and its final
        # state has come back (the line pages about one a second).
        def settled():
            taken = journal_calls()
            return time.perf_counter() - published > 5 and all(taken.values()) \
                and all(k in watch.final for k in taken)
        try:
            wait_for("the outage calls to end", settled, 60 + 3 * len(sent), 0.5)
        except RuntimeError:
            pass
        lines = outage_figures(folder, sent, acks, pub.acked, marks, journal_calls(), watch)
        lines[0] += f" ({rate} calls/s, the broker stopped for {down_seconds} s)"
        return lines
    finally:
        pub.stop()
        watch.stop()


def outage_figures(folder, sent, acks, acked, marks, taken, watch):
    slave_log = (folder / "slave.log").read_text()
    received = collections.Counter(
        m.group(1) for m in re.finditer(r"call (\S+) received", slave_log))
    address = {k: str(400000 + int(k.split("-")[1])) for k in sent}
    groups = {"before the stop": [k for k, t in sent.items() if t < marks["down"]],
              "while down": [k for k, t in sent.items() if marks["down"] <= t < marks["back"]],
              "after the return": [k for k, t in sent.items() if t >= marks["back"]]}

    def count(ids, test):
        return sum(1 for k in ids if test(k))
    final = count(sent, lambda k: k in watch.final)
    twice = count(sent, lambda k: received[address[k]] >= 2)
    first = min((k for k in groups["after the return"] if k in watch.new), key=lambda k: sent[k],
                default=None)
    delay = f"{watch.new[first] - marks['back']:.1f} s" if first else "more than 90 s"
    lines = [f"{final} of {len(sent)} calls reached a final state, {twice} paged twice; the "
             f"first call after the broker's return was taken {delay} after it"]
    for name, ids in groups.items():
        lines.append(
            f"sent {name + ':':17} {len(ids):3}, acknowledged by the broker "
            f"{count(ids, lambda k: acks[k] in acked):3}, taken by the service "
            f"{count(ids, lambda k: k in taken):3}, final state "
            f"{count(ids, lambda k: k in watch.final):3}, paged "
            f"{count(ids, lambda k: received[address[k]] >= 1):3}, paged twice "
            f"{count(ids, lambda k: received[address[k]] >= 2):3}")
    states = collections.Counter(watch.final[k] for k in sent if k in watch.final)
    lines.append("final states: " + ", ".join(f"{n} {s}" for s, n in sorted(states.items())))
    line_back = [t for t in watch.line if t > marks["back"]]
    lines.append("service connected again " + (
        f"{min(line_back) - marks['back']:.1f} s after the broker's return" if line_back
        else "never"))
    lines.append("first call taken after the return: " + (
        f"NEW {watch.new[first] - marks['back']:.1f} s after the return, "
        f"{watch.new[first] - sent[first]:.2f} s after its publish ({first})" if first
        else "none within 90 s"))
    return lines


def show(name, text):
    print(f"{name:8} {text}", flush=True)


def main():
    root = pathlib.Path(tempfile.mkdtemp(prefix="zelvano-bench-mqtt-"))
    procs = Processes()
    # Other work on the machine moves these figures: say how busy it was.
    show("machine", f"load average {os.getloadavg()[0]:.2f} at the start, {os.cpu_count()} cores")
    try:
        folder = root / "a"
        folder.mkdir()
        port = free_port()
        start_broker(procs, folder, port)
        _, slave_addr = start_slave(procs, folder)
        start_service(procs, folder, slave_addr, port)
        watch, pub = Watcher(port), Publisher(port)
        try:
            until_service_subscribed(pub, watch)
            show("latency", latency(pub, watch))
            show("rate", burst(pub, watch, folder))
        finally:
            pub.stop()
            watch.stop()
            procs.stop_all()
        (root / "b").mkdir()
        show("outage", "\n         ".join(outage(root / "b", procs)))
    finally:
        procs.stop_all()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
