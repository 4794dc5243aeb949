#!/usr/bin/python3
"""A bench script's story against VELT's remote control, through PyVISA's own client.

Arguments: the VISA resource, then the folder the program writes its CSV exports into; or
--serve BINARY, which starts `BINARY serve --simulate` in a folder of its own and ends it.
Every wait has a client time-out: a stall fails the story instead of hanging it.
Prints what failed and exits 1, or exits 0.
"""
import atexit
import os
import socket
import json
import subprocess
import sys
import tempfile
import time

import pyvisa

failures = []
server = None


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


if sys.argv[1] == "--serve":
    folder = tempfile.mkdtemp(prefix="velt_serve_story_")
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    log = open(os.path.join(folder, "log"), "w+")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    # The real program's --data-dir: a folder it cannot make ends it; a relative one is made and
    # used, and a recipe named relative to where it was typed is found there.
    refused = subprocess.run([sys.argv[2], "--data-dir", "/dev/null/x", "serve", "--simulate"],
                             capture_output=True, text=True, env=env, timeout=30)
    check(refused.returncode == 1 and "cannot use /dev/null/x" in refused.stderr, refused.stderr)
    missing = subprocess.run([sys.argv[2], "--data-dir", "data", "measure", "none.json"], cwd=folder,
                             capture_output=True, text=True, env=env, timeout=30)
    check(os.path.join(folder, "none.json") in missing.stderr, missing.stderr)
    server = subprocess.Popen([sys.argv[2], "--data-dir", "data", "serve", "--simulate",
                               "--listen", f"127.0.0.1:{port}"],
                              cwd=folder, stderr=log, stdout=subprocess.DEVNULL, env=env)
    atexit.register(lambda: server.poll() is None and server.kill())
    for _ in range(240):
        log.seek(0)
        if "listening" in log.read():
            break
        time.sleep(0.25)
    resource = f"TCPIP0::127.0.0.1::{port}::SOCKET"
    datalogs = os.path.join(folder, "data", "datalogs")
else:
    resource, datalogs = sys.argv[1], sys.argv[2]
manager = pyvisa.ResourceManager("@py")


def connect():
    return manager.open_resource(resource, read_termination="\n", write_termination="\n",
                                 timeout=60000)


def within(seconds, what, ask):
    """ask() under a client time-out of `seconds`: a stall is a failure, not a hang."""
    velt.timeout = int(seconds * 1000)
    start = time.monotonic()
    try:
        return ask()
    except pyvisa.errors.VisaIOError:
        check(False, f"{what}: no answer within {seconds} s")
        return None
    finally:
        velt.timeout = 60000
        print(f"{what}: {time.monotonic() - start:.3f} s")


velt = connect()
idn = velt.query("*IDN?").split(",")
check(idn[:3] == ["VELT", "QSB020", "SIMULATED"] and len(idn) == 4, f"*IDN? gave {idn}")
check(velt.query("*RST;INIT:CONT?") == "0", "*RST left continuous acquisition on")

# A second client is told the instrument is busy and let go.
host, port = resource.split("::")[1:3]
with socket.create_connection((host, int(port)), timeout=10) as other:
    check(other.makefile().readline().startswith("VELT is in use"), "a second client was let in")

# Queries answer at once beside a long averaged acquisition of the program's own.
velt.write("INITiate:CONTinuous ON;:AVERage 100")
time.sleep(0.3)
for _ in range(6):
    within(2, "*IDN? during continuous acquisition", lambda: velt.query("*IDN?"))
within(2, "a set-up change during it", lambda: velt.query("AVER 4;INIT:CONT OFF;*OPC?"))

# One metre of 50-ohm cable (PORT 1, CH 2 of the default devices) in ohms, judged over its length.
# The line is chosen here and acquired by the next client: the calibration it needs is pending
# for the instrument, and so is the error left in the queue.
velt.write("*CLS;SENSe:STIMulus 1;UNIT:Y OHM;:SENS:DIEL 2.25")
velt.query("WINDow:STARt 0;STOP 4;:AVERage 4;:CALCulate:ZONE:LIMits 50,10;AVER 0;*OPC?")
velt.close()
velt = connect()
check(velt.query("SYST:ERR?").startswith("-222,"), "the last client's error was lost")
velt.write('RESults:SERial "R-1";LOT "L-9"')
check(velt.query("RES:SER?;RECord?") == ('"R-1";1' if server else '"R-1";0'),
      "the serial to record was not kept")
check(velt.query("INITiate;*OPC?") == "1", "INITiate;*OPC? did not complete")
zone = velt.query("FETCh:ZONE? 1.8,3.2").split(",")
check(zone[-1] == "PASS" and abs(float(zone[0]) - 50) < 0.3, f"the cable's zone gave {zone}")
velt.query("FETCh:ZONE? 2,3")  # the same acquisition: one record, two zones

# The trace in both formats is the CSV export of the same acquisition.
ascii_y = velt.query_ascii_values("FETCh:TRACe?")
velt.write("FORMat REAL,32")
binary_y = velt.query_binary_values("FETCh:TRACe?", datatype="f", is_big_endian=False)
velt.write("FORMat ASCii")
x = velt.query_ascii_values("FETCh:TRACe:X?")
check(velt.query('MMEMory:STORe:CSV "story";*OPC?') == "1", "the CSV export did not finish")
with open(os.path.join(datalogs, "story.csv")) as f:
    rows = [line.split(",") for line in f.read().splitlines()[1:]]
check(len(rows) == len(ascii_y) == len(binary_y) == len(x) == 1024, "traces of other lengths")
for i, row in enumerate(rows[: len(ascii_y)]):
    if not (abs(float(row[0]) - x[i]) <= 5.01e-4 and abs(float(row[1]) - ascii_y[i]) <= 5.01e-4
            and abs(binary_y[i] - ascii_y[i]) <= 1e-5 * max(1, abs(ascii_y[i]))):
        check(False, f"point {i}: CSV {row}, x {x[i]}, ASCII {ascii_y[i]}, REAL {binary_y[i]}")
        break

# Pipelined queries are all answered while the client reads them.
velt.write_raw(b"FETC:TRAC?\n" * 300)
answered = within(30, "300 pipelined FETC:TRAC?",
                  lambda: [velt.read() for _ in range(300)])
check(answered is not None and all(a.count(",") == 1023 for a in answered),
      "not every pipelined query was answered")

# An overlapped INITiate: queries answer meanwhile, ABORt ends it within a sweep, and the trace of
# the last complete one stays what FETCh answers.
velt.write("AVER 200;INIT")
time.sleep(0.2)
within(1, "*IDN? during a remote INITiate", lambda: velt.query("*IDN?"))
check(int(velt.query("STAT:OPER:COND?")) & 16 == 16, "MEASuring was not set while it ran")
within(1, "ABORt to *OPC?", lambda: velt.query("ABOR;*OPC?"))
check(velt.query_ascii_values("FETCh:TRACe?") == ascii_y, "an aborted INITiate changed the data")

# A client that leaves its INITiate behind and reconnects is served, and can stop it.
velt.write("INIT;*OPC?")
velt.close()
time.sleep(0.2)
velt = connect()
within(1, "a reconnecting client's ABORt", lambda: velt.query("ABOR;*OPC?"))
velt.write("*CLS;AVER 4")

# The parser: lines and what they answer (each line's errors are read after it).
for line, expected in [
        ("WIND:STAR 0;UNIT:X MET;Y MV;:UNIT:Y?", "MV"),
        ("FORM ASC;UNIT:X NS;WIND:STAR 0;STOP 10;INIT;*OPC?", "1"),
        ("WIND:STAR 0;*OPC;STOP 3;STOP?", "3"),
        ("UNIT:X MET;UNIT:Y OHM;AVER 7;AVER 'x", None),
        ("AVER?;SYST:ERR?", '7;-102,"Syntax error; a string is not closed"'),
        ("AVER 4.7;AVER?;AVER? MAX;AVER? DEF", "5;1000;1"),
        ("FILT:WIDT MAX;FILT:WIDT?", "100000"),
        ("AVER 1e300;SYST:ERR?", '-222,"Data out of range; AVER"'),
        ('AVER "4";AVER?', None),
        ("SYST:ERR?;AVER?", '-104,"Data type error; AVER";5'),
        ("*SRE 32;*SRE?;SYST:VERS?;*TST?", "32;1999.0;0"),
        ("*CLS;*ESE 16;AVER 0;*STB?;*ESR?;*STB?", "100;16;20"),
        ("*CLS;STAT:OPER:ENAB 16;STAT:OPER:ENAB?;STAT:PRES;STAT:OPER:ENAB?", "16;0"),
        ('MMEM:STOR:CSV "a\tb";SYST:ERR?', '-224,"Illegal parameter value; MMEM:STOR:CSV"'),
        ('FORM REAL,64;SYST:ERR?;FORM?', '-224,"Illegal parameter value; FORM";ASC'),
        ('MMEM:LOAD:WAV "missing";SYST:ERR?', '-256,"File name not found; MMEM:LOAD:WAV"'),
        ("*CLS;UNIT:Y MV;INIT;*OPC?;FETC:ZONE? 1,2;*ESR?;SYST:ERR?;UNIT:Y OHM",
         '1;16;-200,"Execution error; FETC:ZONE"'),
        ("SYST:ERR?", '0,"No error"')]:
    velt.write(line)
    if expected is None:
        continue
    got = within(10, line, velt.read)
    check(got == expected, f"{line} gave {got}, not {expected}")
cursors = [float(v) for v in
           velt.query("WIND:STAR 0;STOP 4;INIT;*OPC?;CURS:C1 1.5;CURS:C2 2.5;FETC:CURS?")
           .split(";")[1].split(",")]
check(abs(cursors[0] - 1.5) < 0.01 and abs(cursors[2] - 2.5) < 0.01 and 40 < cursors[1] < 60
      and abs(cursors[4] - (cursors[2] - cursors[0])) < 1e-9, f"the cursors read {cursors}")
check(os.path.exists(os.path.join(datalogs, "story.csv")) and
      not os.path.exists(os.path.join(datalogs, "a\tb.csv")), "a control character named a file")

# Sixteen errors are kept, the last place telling of those lost.
velt.write("*CLS;" + "AVER 0;" * 17 + "*OPC")
check(velt.query("SYST:ERR:COUN?") == "16", "the queue does not hold 16")
errors = [velt.query("SYST:ERR?") for _ in range(16)]
check(errors[14].startswith("-222,") and errors[15].startswith("-350,"), f"the queue: {errors}")

# An over-long line arriving in several reads is dropped whole, and so is the next one.
for _ in range(2):
    velt.write_raw(b"X" * 9000)
    time.sleep(0.05)
    velt.write_raw(b"X" * 100 + b";*IDN?\n")
check(velt.query("SYST:ERR:COUN?;*CLS") == "2", "an over-long line's tail ran, or one went unsaid")

# The longest line is 8192 characters without its CR LF; a longer one is dropped whole.
velt.write_raw(b"*IDN?".ljust(8192) + b"\r\n" + b"*IDN?".ljust(8193) + b"\r\nSYST:ERR?\n")
check(velt.read().startswith("VELT,") and velt.read().startswith("-102,"), "the line limit")

# A name that leaves the data folder writes nothing; errors queue up in order.
check(velt.query('MMEMory:STORe:CSV "../escaped.csv";*OPC?') == "1", "a refusal ended the line")
check(not os.path.exists(os.path.join(datalogs, "..", "escaped.csv")), "a file left the folder")
velt.write("BOGus:HEADer 1")
velt.write("AVERage 0")
check(int(velt.query("*ESR?")) & 0x30 == 0x30, "*ESR? lacks the command and execution bits")
check(velt.query("SYSTem:ERRor:COUNt?") == "3", "three errors were not counted")
for code in ("-224", "-113", "-222", "0"):
    error = velt.query("SYST:ERR?")
    check(error.startswith(code + ","), f"expected {code}, got {error}")
check(velt.query("AVER?") == "5", "a refused value changed the averaging")
# The eye through the default devices' through (PORT 1, CLK to PORT 2): open at 1 Gb/s with a
# small mask, and FETCh:EYE? gives height, width, worst case and hits.
velt.write('*CLS;MODE TDT;STIM "PORT 1, CLK";:UNIT:Y MV;:UNIT:X NS;:WIND:STAR 0;STOP 30')
velt.write("CALCulate:EYE:BITRate 1;PATTern PRBS9;CODing NRZ;MASK 0.3,50")
check(velt.query("CALC:EYE:BITR?;PATT?;MASK?") == "1;PRBS9;0.3,50", "the eye settings were not kept")
check(velt.query("INITiate;*OPC?") == "1", "the TDT INITiate did not complete")
height, width, worst, hits = velt.query("FETCh:EYE?").split(",")
check(float(height) > 100 and 900 < float(width) <= 1000 and float(worst) <= float(height) + 1e-6
      and hits == "0", f"the through's eye: {height},{width},{worst},{hits}")
check(velt.query('CALC:EYE:PATT "0110";SYST:ERR?') == '0,"No error"', "a bit string was refused")
check(velt.query("SYST:ERR?;:CALC:EYE:PATT 0110;SYST:ERR?").endswith('-224,"Illegal parameter value; CALC:EYE:PATT"'),
      "bits without quotes were taken")
velt.write("MODE TDR;:UNIT:Y OHM")
if server:
    velt.write("SYSTem:EXIT")
    check(server.wait(timeout=10) == 0, "velt serve did not end on SYSTem:EXIT")
    listed = subprocess.run([sys.argv[2], "--data-dir", "data", "results", "--format", "json"],
                            cwd=folder, capture_output=True, text=True, timeout=30)
    records = json.loads(listed.stdout or "[]")
    check(len(records) == 1 and records[0]["serial"] == "R-1" and records[0]["lot"] == "L-9"
          and records[0]["source"] == "remote"
          and [z["name"] for z in records[0]["zones"]] == ["1.8-3.2 m", "2-3 m"],
          f"the remote acquisition's record: {listed.stdout} {listed.stderr}")
velt.close()
print("remote story:", "FAIL" if failures else "PASS")
sys.exit(1 if failures else 0)
