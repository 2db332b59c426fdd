#!/usr/bin/python3
"""What publishing to the plant's broker costs, against a loopback mosquitto.

Prints one JSON object:
  latency:  the real station at Timer=100 against vormelq-sim: from a reading's time
            (its "ts", the time of its Peso.csv line) to its arrival at a paho
            subscriber, p50 / p99 / max in ms;
  backlog:  a day of readings (172800, Timer=500) kept while the broker was away, then
            the connection: seconds and messages/s until the broker acknowledged all
            of them and the live readings made meanwhile (one every 500 ms): the
            longest a live reading waits to reach the broker; and until the last of
            them reached the paho subscriber, with the live readings' delay there
            (the broker hands a QoS 1 subscriber 20 messages at a time, and paho is
            Python: the subscriber, not the station, sets that pace), and the broker's
            own CPU seconds meanwhile;
  round_trip: the peer for the latency: a paho client's QoS 1 message to itself through
            the same loopback broker, p50 / p99 in ms;
  backlog_peer: the same count given to mosquitto_pub (-l, QoS 1, 300 in flight) through
            the same kind of broker with the same subscriber: how many it had
            acknowledged, in how long, and its pace per acknowledged message;
  week:     the same with a week of readings (1209600), without --quick;
  cpu:      the real station at Timer=500: % of one core with no broker configured,
            with the broker up, and with the broker away (connection refused).
Run with the release build: mqtt_cost.py BUILD_DIR [--quick]
"""
import argparse
import json
import os
import socket
import subprocess
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

CLK_TCK = os.sysconf("SC_CLK_TCK")
ROOT = "vormelq/bench"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Broker:
    def __init__(self):
        self.dir = tempfile.TemporaryDirectory(prefix="vormelq-broker-")
        self.port = free_port()
        conf = os.path.join(self.dir.name, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n"
                    "max_queued_messages 0\nuser %s\n" % (self.port, os.environ.get("USER") or
                                                          __import__("pwd").getpwuid(os.getuid())[0]))
        self.proc = subprocess.Popen(["/usr/sbin/mosquitto", "-c", conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("mosquitto did not start")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Receiver:
    """A paho subscriber keeping each lectura's arrival time (ms since the epoch)."""

    def __init__(self, port):
        self.arrivals = []  # (seq, ts in ms, arrival in ms)
        self.lock = threading.Lock()
        self.client = mqtt.Client(client_id="bench-receiver", clean_session=True)
        self.client.on_message = self.on_message
        self.client.connect("127.0.0.1", port)
        self.client.subscribe(ROOT + "/lectura", qos=1)
        self.client.loop_start()
        time.sleep(0.3)

    def on_message(self, client, userdata, message):
        now = time.time() * 1000
        body = json.loads(message.payload)
        ts = time.mktime(time.strptime(body["ts"][:19], "%Y-%m-%dT%H:%M:%S")) - time.timezone
        ts = ts * 1000 + int(body["ts"][20:23])
        with self.lock:
            self.arrivals.append((body["seq"], ts, now))

    def stop(self):
        self.client.loop_stop()
        self.client.disconnect()


def round_trip(count=300):
    """A paho client's QoS 1 message to itself through a loopback broker, in ms."""
    broker = Broker()
    arrived = threading.Event()
    client = mqtt.Client(client_id="bench-ping", clean_session=True)
    client.on_message = lambda c, u, m: arrived.set()
    client.connect("127.0.0.1", broker.port)
    client.subscribe("bench/ping", qos=1)
    client.loop_start()
    time.sleep(0.3)
    ms = []
    for _ in range(count):
        arrived.clear()
        start = time.time()
        client.publish("bench/ping", b"x" * 120, qos=1)
        arrived.wait(5)
        ms.append((time.time() - start) * 1000)
        time.sleep(0.01)
    client.loop_stop()
    client.disconnect()
    broker.stop()
    return {"messages": count, "p50_ms": round(percentile(ms, 50), 2),
            "p99_ms": round(percentile(ms, 99), 2), "max_ms": round(max(ms), 2)}


def peer_backlog(count):
    """The peer for a backlog: mosquitto_pub sending `count` readings of the station's
    size at QoS 1, 300 in flight as the station, through the same kind of broker with the
    same subscriber: seconds until the broker acknowledged the last, and the broker's
    CPU seconds."""
    broker = Broker()
    receiver = Receiver(broker.port)
    line = '{"seq":%d,"ts":"2026-12-07T15:04:05.123Z","bruto":72.1,"tara":0.0,"neto":72.1,' \
           '"estado":1,"tarea":1}\n'
    lines = "".join(line % (i + 1) for i in range(count)).encode()
    cpu_before = process_cpu_s(broker.proc.pid)
    start = time.time()
    # -d prints each PUBACK: mosquitto_pub -l does not send every line it reads (here
    # about a quarter of them), so its pace is what the broker acknowledged.
    out = subprocess.run(["mosquitto_pub", "-d", "-h", "127.0.0.1", "-p", str(broker.port),
                          "-q", "1", "-M", "300", "-l", "-t", ROOT + "/lectura"], input=lines,
                         stdout=subprocess.PIPE, check=True).stdout
    seconds = time.time() - start
    cpu = process_cpu_s(broker.proc.pid) - cpu_before
    acknowledged = out.count(b"received PUBACK")
    receiver.stop()
    broker.stop()
    return {"messages": count, "acknowledged": acknowledged, "to_broker_s": round(seconds, 2),
            "to_broker_per_s": round(acknowledged / seconds), "broker_cpu_s": round(cpu, 2)}


def process_cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


class Station:
    def __init__(self, build, sim_port, timer_ms, mqtt_port=None):
        self.dir = tempfile.TemporaryDirectory(prefix="vormelq-bench-")
        ini = ("[Global]\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\nPort_1=%d;\r\n"
               "ID_1=1;\r\nDecimales_1=1;\r\nTimer=%d;\r\n" % (sim_port, timer_ms))
        if mqtt_port:
            ini += ("[MQTT]\r\nServidor=127.0.0.1;\r\nPuerto=%d;\r\nTema=%s;\r\n"
                    % (mqtt_port, ROOT))
        with open(os.path.join(self.dir.name, "modbus.ini"), "w") as f:
            f.write(ini)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.proc = subprocess.Popen([os.path.join(build, "src/app/vormelq")], cwd=self.dir.name,
                                     env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def cpu_s(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


def start_sim(build):
    proc = subprocess.Popen([os.path.join(build, "tools/sim/vormelq-sim"), "--listen",
                             "127.0.0.1:0", "--slave", "1", "--decimals", "1"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline().strip()
    return proc, int(line.rsplit(":", 1)[1])


def latency(build, sim_port, seconds):
    broker = Broker()
    receiver = Receiver(broker.port)
    station = Station(build, sim_port, 100, broker.port)
    time.sleep(seconds)
    station.stop()
    receiver.stop()
    broker.stop()
    ms = [arrival - ts for _, ts, arrival in receiver.arrivals[1:]]  # the first may be retained
    return {"messages": len(ms), "p50_ms": round(percentile(ms, 50), 1),
            "p99_ms": round(percentile(ms, 99), 1), "max_ms": round(max(ms), 1)}


def backlog(build, count, seconds):
    broker = Broker()
    receiver = Receiver(broker.port)
    outbox = tempfile.TemporaryDirectory(prefix="vormelq-outbox-")
    feed = subprocess.Popen([os.path.join(build, "bench/bench_mqtt_backlog"), outbox.name,
                             str(broker.port), ROOT, str(count), "500", str(seconds)],
                            stdout=subprocess.PIPE, text=True)
    broker_cpu = process_cpu_s(broker.proc.pid)
    out = feed.communicate()[0]
    broker_cpu = process_cpu_s(broker.proc.pid) - broker_cpu
    receiver.stop()
    broker.stop()
    started = int(out.split("started ")[1].split()[0])
    # Every message acknowledged by the broker, the live ones made meanwhile included:
    # the longest a live reading waited behind the backlog to reach the broker.
    drained = int(out.split("drained ")[1].split()[0]) if "drained " in out else None
    arrivals = receiver.arrivals
    live = [a - ts for s, ts, a in arrivals if s > count]
    seqs = [s for s, _, _ in arrivals]
    # None when nothing of the kind arrived within the window (the drain outlasted it).
    last_backlog = max((a for s, _, a in arrivals if s <= count), default=None)
    if len({s for s in seqs if s <= count}) < count:
        last_backlog = None  # the subscriber had not got it all by the end
    return {"messages": count, "broker_cpu_s": round(broker_cpu, 2),
            "to_broker_s": drained and round((drained - started) / 1000, 2),
            "to_broker_per_s": drained and round(count / ((drained - started) / 1000)),
            "to_subscriber_s": last_backlog and round((last_backlog - started) / 1000, 2),
            "to_subscriber_per_s": last_backlog and round(count / ((last_backlog - started) / 1000)),
            "live_max_ms": round(max(live)) if live else None,
            "live_p50_ms": round(percentile(live, 50)) if live else None,
            "in_order": seqs == sorted(seqs), "received": len(set(seqs))}


def cpu(build, sim_port, seconds):
    result = {}
    broker = Broker()
    for case, port in (("no_mqtt", None), ("broker_up", broker.port),
                       ("broker_down", free_port())):
        station = Station(build, sim_port, 500, port)
        time.sleep(3)
        before = station.cpu_s()
        time.sleep(seconds)
        result[case] = round(100 * (station.cpu_s() - before) / seconds, 2)
        station.stop()
    broker.stop()
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    window = 10 if args.quick else 60
    sim, sim_port = start_sim(args.build)
    try:
        result = {"latency": latency(args.build, sim_port, window),
                  "round_trip": round_trip(),
                  "backlog": backlog(args.build, 172800, 12 if args.quick else 20),
                  "backlog_peer": peer_backlog(172800)}
        if not args.quick:
            result["week"] = backlog(args.build, 1209600, 60)
        result["cpu"] = cpu(args.build, sim_port, window)
        print(json.dumps(result))
    finally:
        sim.terminate()
        sim.wait(10)


if __name__ == "__main__":
    main()
