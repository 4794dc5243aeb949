#!/usr/bin/python3
"""Remote-control timings against `velt serve --simulate` (paced like the real link), over a
plain socket with TCP_NODELAY, as a bench script's client would.

Argument: the port. Prints one line per figure and ends the server with SYSTem:EXIT.
"""
import socket
import statistics
import sys
import time

sock = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=60)
sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
stream = sock.makefile("rwb")


def send(line):
    stream.write(line.encode() + b"\n")
    stream.flush()


def query(line):
    send(line)
    return stream.readline()


def block():
    """Reads an IEEE 488.2 definite-length block and its line end."""
    assert stream.read(1) == b"#"
    digits = int(stream.read(1))
    data = stream.read(int(stream.read(digits)))
    stream.readline()
    return data


def percentiles(name, seconds):
    seconds = sorted(seconds)
    p99 = seconds[int(0.99 * (len(seconds) - 1))]
    print(f"{name}: median {statistics.median(seconds) * 1e3:.3f} ms, "
          f"p99 {p99 * 1e3:.3f} ms over {len(seconds)}")


def identify(name):
    times = []
    for _ in range(2000):
        t = time.perf_counter()
        query("*IDN?")
        times.append(time.perf_counter() - t)
    percentiles(name, times)


query("*IDN?")
identify("*IDN? round trip")
# Beside the program's own continuous acquisition at 100 averages (about 9.5 s each).
send("*RST;INITiate:CONTinuous ON;:AVERage 100")
query("*OPC?")
time.sleep(1)
identify("*IDN? round trip during continuous acquisition at AVER 100")

# ABORt of a long INITiate to the answer of the query after it.
send("INITiate:CONTinuous OFF;:AVERage 200")
query("*OPC?")
times = []
for _ in range(20):
    send("INIT")
    time.sleep(0.3)
    t = time.perf_counter()
    query("ABORt;*OPC?")
    times.append(time.perf_counter() - t)
percentiles("ABORt during INIT to the next answer", times)

send("INITiate:CONTinuous OFF;:UNIT:Y OHM;:AVERage 1;:WINDow:STARt 0;STOP 3;:DISPlay:ENABle OFF")
query("INITiate;*OPC?")
send("FORMat REAL,32")
times = []
for _ in range(500):
    t = time.perf_counter()
    send("FETCh:TRACe?")
    assert len(block()) == 4096
    times.append(time.perf_counter() - t)
percentiles("FETCh:TRACe? REAL,32, 1024 points", times)

# A sweep on the wire: "a", four window bytes, an acknowledgement, "r", 2048 sample bytes and
# the last acknowledgement, ten bits a byte at 435000 baud; one acquisition at averaging 1 from 0
# is an offset sweep and a reading sweep.
wire = 2 * (1 + 4 + 1 + 1 + 2048 + 1) * 10 / 435000
for display in ("OFF", "ON"):
    send(f"DISPlay:ENABle {display}")
    times = []
    for _ in range(10):
        t = time.perf_counter()
        query("INITiate;*OPC?")
        times.append(time.perf_counter() - t)
    print(f"INITiate;*OPC? at averaging 1, display {display}: median "
          f"{statistics.median(times) * 1e3:.1f} ms, {statistics.median(times) / wire:.4f} x the "
          f"wire floor ({wire * 1e3:.1f} ms)")
send("SYSTem:EXIT")
