#!/usr/bin/env python3
"""Figures of the paging service, measured on this machine against the real
zelvanod and espa-slave over a pseudo-terminal:

  backlog   calls a minute on the line with a backlog, against the pace of one
            call exchange when the line has nothing else to do
  latency   POST /v1/calls -> 202 at a steady 100 requests a second (p50, p99)
            and the most it takes a second from 8 clients at once
  memory    resident size with 10,000 calls queued (the line held down)
  idle      CPU of the idle service with the line check running

Usage: scripts/bench-service.py BUILD_DIR [--quick]
"""
import asyncio, json, os, pathlib, re, sqlite3, subprocess, sys, tempfile, time

BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
QUICK = "--quick" in sys.argv
SLAVE = BUILD / "tools/espa-slave/espa-slave"
SERVICE = BUILD / "zelvanod"


def start_slave(folder):
    pty_file = folder / "slave.pty"
    proc = subprocess.Popen([str(SLAVE), "--pty-file", str(pty_file), "--quiet"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(300):
        if pty_file.exists() and pty_file.read_text().endswith("\n"):
            return proc, pty_file.read_text().strip()
        time.sleep(0.02)
    raise RuntimeError("espa-slave did not start")


def start_service(folder, port, config):
    conf = folder / "zelvanod.conf"
    conf.write_text("\n".join(config) + "\n")
    proc = subprocess.Popen([str(SERVICE), "--config", str(conf), "--port", port,
                             "--listen", "127.0.0.1:0", "--state-dir", str(folder)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in proc.stderr:
        m = re.match(r"LISTEN .*:(\d+)", line)
        if m:
            return proc, int(m.group(1))
    raise RuntimeError("zelvanod did not start")


async def post(port, body, key=None):
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    head = f"POST /v1/calls HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" \
           f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n"
    if key:
        head += f"Idempotency-Key: {key}\r\n"
    writer.write(head.encode() + b"\r\n" + body)
    data = await reader.read()
    writer.close()
    return int(data.split(b" ", 2)[1])


def call_body(i):
    return json.dumps({"address": str(100000 + i), "text": "bench"}).encode()


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))]


async def steady(port, rate, seconds):
    latencies, tasks = [], []

    async def one(i):
        t = time.perf_counter()
        status = await post(port, call_body(i))
        latencies.append((time.perf_counter() - t) * 1000)
        assert status == 202, status
    start = time.perf_counter()
    for i in range(rate * seconds):
        await asyncio.sleep(max(0, start + i / rate - time.perf_counter()))
        tasks.append(asyncio.create_task(one(i)))
    await asyncio.gather(*tasks)
    return latencies


async def flat_out(port, clients, seconds):
    done = 0
    end = time.perf_counter() + seconds

    async def client(c):
        nonlocal done
        i = 0
        while time.perf_counter() < end:
            assert await post(port, call_body(c * 1000000 + i)) == 202
            i += 1
            done += 1
    await asyncio.gather(*(client(c) for c in range(clients)))
    return done / seconds


def cpu_seconds(pid):
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_mb(pid):
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024


def backlog(folder):
    calls = 60 if QUICK else 200
    slave, pty = start_slave(folder)
    service, port = start_service(folder, pty, ["max-age = 3600", "rate = 0", "[line]",
                                                "status-check = none"])
    try:
        asyncio.run(flat_out_count(port, calls))
        db = sqlite3.connect(folder / "journal.db")
        deadline = time.time() + calls * 3 + 30
        while time.time() < deadline:
            left = db.execute("SELECT count(*) FROM calls WHERE final = 0").fetchone()[0]
            if left == 0:
                break
            time.sleep(1)
        # Time of each call's end, in order: the line's pace once it is busy.
        ends = [r[0] for r in db.execute(
            "SELECT max(at) FROM history GROUP BY call_id ORDER BY 1")]
        per_call = (ends[-1] - ends[9]) / 1000 / (len(ends) - 10)
        return calls, 60 / per_call, per_call
    finally:
        service.terminate(); service.wait(); slave.terminate(); slave.wait()


def main():
    root = pathlib.Path(tempfile.mkdtemp(prefix="zelvano-bench-"))
    figures = {}
    (root / "a").mkdir()
    calls, per_minute, per_call = backlog(root / "a")
    figures["backlog"] = f"{calls} calls: {per_minute:.1f} calls/min on the line " \
                         f"({per_call:.3f} s a call)"

    (root / "b").mkdir()
    # The line never opens (no such device): every call stays queued.
    service, port = start_service(root / "b", "/dev/zelvano-bench-none",
                                  ["rate = 0", "max-age = 3600", "queue-limit = 1000000"])
    try:
        latencies = asyncio.run(steady(port, 100, 5 if QUICK else 20))
        figures["latency"] = f"p50 {percentile(latencies, 50):.2f} ms, " \
                             f"p99 {percentile(latencies, 99):.2f} ms at 100 req/s " \
                             f"({len(latencies)} requests)"
        figures["max"] = f"{asyncio.run(flat_out(port, 8, 3 if QUICK else 10)):.0f} calls/s " \
                         f"from 8 clients"
        db = sqlite3.connect(root / "b" / "journal.db")
        queued = db.execute("SELECT count(*) FROM calls WHERE final = 0").fetchone()[0]
        more = max(0, 10000 - queued)
        asyncio.run(flat_out_count(port, more))
        queued = db.execute("SELECT count(*) FROM calls WHERE final = 0").fetchone()[0]
        figures["memory"] = f"{rss_mb(service.pid):.1f} MB resident with {queued} calls queued"
    finally:
        service.terminate(); service.wait()

    (root / "c").mkdir()
    slave, pty = start_slave(root / "c")
    service, port = start_service(root / "c", pty, [])
    try:
        time.sleep(3)
        seconds = 10 if QUICK else 60
        before = cpu_seconds(service.pid)
        time.sleep(seconds)
        used = cpu_seconds(service.pid) - before
        figures["idle"] = f"{100 * used / seconds:.3f} % of a core over {seconds} s " \
                          f"(line check running)"
    finally:
        service.terminate(); service.wait(); slave.terminate(); slave.wait()
    for name, text in figures.items():
        print(f"{name:8} {text}")


async def flat_out_count(port, count):
    sem = asyncio.Semaphore(8)

    async def one(i):
        async with sem:
            status = await post(port, call_body(5000000 + i))
            assert status == 202, status
    await asyncio.gather(*(one(i) for i in range(count)))


if __name__ == "__main__":
    main()
