#!/usr/bin/python3
"""A bench script's story against VELT's remote control, through PyVISA's own client.

Arguments: the VISA resource, then the folder the program writes its CSV exports into.
Prints what failed and exits 1, or exits 0.
"""
import os
import socket
import sys

import pyvisa

resource, datalogs = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


velt = pyvisa.ResourceManager("@py").open_resource(
    resource, read_termination="\n", write_termination="\n", timeout=60000)
idn = velt.query("*IDN?").split(",")
check(idn[:3] == ["VELT", "QSB020", "SIMULATED"] and len(idn) == 4, f"*IDN? gave {idn}")

# A second client is told the instrument is busy and let go.
host, port = resource.split("::")[1:3]
with socket.create_connection((host, int(port)), timeout=10) as other:
    check(other.makefile().readline().startswith("VELT is in use"), "a second client was let in")

# One metre of 50-ohm cable (PORT 1, CH 2 of the default devices) in ohms, judged over its length.
velt.write("*CLS;INITiate:CONTinuous OFF;SENSe:STIMulus 1;UNIT:Y OHM;:SENS:DIEL 2.25")
velt.write("WINDow:STARt 0;STOP 4;:AVERage 4;:CALCulate:ZONE:LIMits 50,10")
check(velt.query("INITiate;*OPC?") == "1", "INITiate;*OPC? did not complete")
zone = velt.query("FETCh:ZONE? 1.8,3.2").split(",")
check(zone[-1] == "PASS" and abs(float(zone[0]) - 50) < 1, f"the cable's zone gave {zone}")

# The trace in both formats is the CSV export of the same acquisition.
ascii_y = velt.query_ascii_values("FETCh:TRACe?")
velt.write("FORMat REAL,32")
binary_y = velt.query_binary_values("FETCh:TRACe?", datatype="f", is_big_endian=False)
velt.write("FORMat ASCii")
x = velt.query_ascii_values("FETCh:TRACe:X?")
check(velt.query('MMEMory:STORe:CSV "story.csv";*OPC?') == "1", "the CSV export did not finish")
with open(os.path.join(datalogs, "story.csv")) as f:
    rows = [line.split(",") for line in f.read().splitlines()[1:]]
check(len(rows) == len(ascii_y) == len(binary_y) == len(x) == 1024, "traces of other lengths")
for i, row in enumerate(rows[: len(ascii_y)]):
    if not (abs(float(row[0]) - x[i]) <= 5.01e-4 and abs(float(row[1]) - ascii_y[i]) <= 5.01e-4
            and abs(binary_y[i] - ascii_y[i]) <= 1e-5 * max(1, abs(ascii_y[i]))):
        check(False, f"point {i}: CSV {row}, x {x[i]}, ASCII {ascii_y[i]}, REAL {binary_y[i]}")
        break

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
check(velt.query("AVER?") == "4", "a refused value changed the averaging")
velt.close()
print("remote story:", "FAIL" if failures else "PASS")
sys.exit(1 if failures else 0)
