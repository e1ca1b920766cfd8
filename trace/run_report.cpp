#include "trace/run_report.h"
