#include "app/health_texts.h"

namespace brenvale::app {

std::string HealthText(std::uint8_t /*driveNumber*/) { return kHealthUnknownText; }

std::string TrimText(const scan::TUndelete& /*scan*/) { return kHealthUnknownText; }

}  // namespace brenvale::app
