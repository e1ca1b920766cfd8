#pragma once
// What the fuzz targets share: a broken promise aborts, which libFuzzer reports with the input.
#include <cstdlib>

inline void Check(bool promise)
{
    if (!promise)
        std::abort();
}
