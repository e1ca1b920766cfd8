#pragma once
// One line of `quokka-quokka --lookup`: the address, then the matching row's range, country
// code, country, region, city, latitude and longitude, tab-separated; or "no match".
#include "geo/geo_database.h"

#include <string>

std::string LookupLine(const GeoDatabase &database, const std::string &address);
