#!/usr/bin/env python3
"""Checks a 50-ohm cable over VELT's SCPI remote control: its impedance profile and a zone verdict.

Start VELT first, with the simulated instrument and its default devices:

    velt serve --simulate                  # no window, listens on 127.0.0.1:5025
    velt --simulate --remote 5025          # or the window, serving remote control too

then run this script. The first argument is the VISA resource, by default
TCPIP0::127.0.0.1::5025::SOCKET. It prints the trace and the verdict, and ends with PASS (exit
status 0) or FAIL (exit status 1).
"""
import sys

import pyvisa

RESOURCE = sys.argv[1] if len(sys.argv) > 1 else "TCPIP0::127.0.0.1::5025::SOCKET"
# The default devices: PORT 1, CH 2 (stimulus 1) is one metre of 50-ohm cable, open at its end.
# Its start lies about 1.5 m (round trip) after the start of the window.
STIMULUS = 1
ZONE = (1.8, 3.2)  # metres, round trip: the cable's length without its two ends
LIMITS = (50, 10)  # ohms, percent


def main():
    rm = pyvisa.ResourceManager("@py")
    velt = rm.open_resource(RESOURCE, read_termination="\n", write_termination="\n",
                            timeout=60000)
    print(velt.query("*IDN?"))
    velt.write("*CLS")
    velt.write("INITiate:CONTinuous OFF")  # the program acquires only when asked
    velt.write(f"SENSe:STIMulus {STIMULUS}")
    velt.write("UNIT:X METer;UNIT:Y OHM")
    velt.write("SENSe:DIELectric 2.25;WINDow:STARt 0;WINDow:STOP 4;AVERage 4")
    velt.write(f"CALCulate:ZONE:LIMits {LIMITS[0]},{LIMITS[1]}")
    velt.query("INITiate;*OPC?")  # returns once the acquisition is complete

    x = velt.query_ascii_values("FETCh:TRACe:X?")
    velt.write("FORMat REAL,32")
    ohms = velt.query_binary_values("FETCh:TRACe?", datatype="f", is_big_endian=False)
    velt.write("FORMat ASCii")
    for i in range(0, len(x), 64):
        print(f"{x[i]:7.3f} m  {ohms[i]:8.2f} ohm")

    mean, low, high, spread, verdict = velt.query(f"FETCh:ZONE? {ZONE[0]},{ZONE[1]}").split(",")
    print(f"zone {ZONE[0]} to {ZONE[1]} m: mean {float(mean):.2f} ohm, "
          f"{float(low):.2f} to {float(high):.2f}, spread {float(spread):.3f}: {verdict}")
    error = velt.query("SYSTem:ERRor?")
    if not error.startswith("0,"):
        print(f"the instrument reported: {error}")
        verdict = "FAIL"
    velt.close()
    print("PASS" if verdict == "PASS" else "FAIL")
    return 0 if verdict == "PASS" else 1


if __name__ == "__main__":
    sys.exit(main())
