#!/usr/bin/python3
# The comparison reader of the stream benchmark: for each address on standard input, the
# source MMDB's place (the C extension of python3-maxminddb, memory-mapped), one line each:
# address, country code, region, city, latitude, longitude tab-separated, or "no match".
import sys

import maxminddb


def main():
    reader = maxminddb.open_database(sys.argv[1], maxminddb.MODE_MMAP_EXT)
    write = sys.stdout.write
    for line in sys.stdin:
        address = line.strip()
        try:
            place = reader.get(address)
        except ValueError:
            place = None
        if place is None:
            write(address + "\tno match\n")
            continue
        write("%s\t%s\t%s\t%s\t%s\t%s\n" % (address, place.get("country_code", ""), place.get("state1", ""),
                                             place.get("city", ""), place.get("latitude", ""),
                                             place.get("longitude", "")))


main()
