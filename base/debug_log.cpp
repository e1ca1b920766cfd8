#include "base/debug_log.h"

Q_LOGGING_CATEGORY(lcQuokka, "quokka", QtWarningMsg)
