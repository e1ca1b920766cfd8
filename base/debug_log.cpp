#include "base/debug_log.h"

namespace quokka {

Q_LOGGING_CATEGORY(lcQuokka, "quokka", QtWarningMsg)

} // namespace quokka
