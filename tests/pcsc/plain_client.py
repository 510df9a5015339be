#!/usr/bin/python3
"""A plain pyscard client, the benchmark's baseline for varnelo-reader.

    plain_client.py READER ROUNDS APDU...

Each round does what one run of the tool does: establish a context, list the readers, connect
to the first whose name contains READER, send the APDUs (hex), disconnect, release. Prints the
median milliseconds per round; exits non-zero on any PC/SC failure.
"""
import statistics
import sys
import time

from smartcard import scard


def check(result, what):
    if result != scard.SCARD_S_SUCCESS:
        sys.exit(f"{what}: {scard.SCardGetErrorMessage(result)}")


def round_trip(part, apdus):
    result, context = scard.SCardEstablishContext(scard.SCARD_SCOPE_USER)
    check(result, "SCardEstablishContext")
    result, names = scard.SCardListReaders(context, [])
    check(result, "SCardListReaders")
    name = next((n for n in names if part in n), None)
    if name is None:
        sys.exit(f"no reader with {part!r}")
    result, card, protocol = scard.SCardConnect(context, name, scard.SCARD_SHARE_SHARED,
                                                scard.SCARD_PROTOCOL_T0 | scard.SCARD_PROTOCOL_T1)
    check(result, "SCardConnect")
    for apdu in apdus:
        result, response = scard.SCardTransmit(card, protocol, apdu)
        check(result, "SCardTransmit")
    scard.SCardDisconnect(card, scard.SCARD_LEAVE_CARD)
    scard.SCardReleaseContext(context)


def main():
    part, rounds = sys.argv[1], int(sys.argv[2])
    apdus = [list(bytes.fromhex(a)) for a in sys.argv[3:]]
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        round_trip(part, apdus)
        times.append((time.perf_counter() - start) * 1000)
    print(f"{statistics.median(times):.3f}")


main()
