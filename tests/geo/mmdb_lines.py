#!/usr/bin/python3
# The comparison reader of the stream benchmark and the IPv6 table's test: for each address on
# standard input, the source MMDB's place (the C extension of python3-maxminddb,
# memory-mapped), one line each: address, country code, region, city, latitude, longitude
# tab-separated, or "no match". With a second MMDB (IPv6), addresses with a colon are looked
# up there.
import sys

import maxminddb


def main():
    reader = maxminddb.open_database(sys.argv[1], maxminddb.MODE_MMAP_EXT)
    reader6 = maxminddb.open_database(sys.argv[2], maxminddb.MODE_MMAP_EXT) if len(sys.argv) > 2 else reader
    write = sys.stdout.write
    for line in sys.stdin:
        address = line.strip()
        try:
            place = (reader6 if ":" in address else reader).get(address)
        except ValueError:
            place = None
        if place is None:
            write(address + "\tno match\n")
            continue
        write("%s\t%s\t%s\t%s\t%s\t%s\n" % (address, place.get("country_code", ""), place.get("state1", ""),
                                             place.get("city", ""), place.get("latitude", ""),
                                             place.get("longitude", "")))


main()
