#include "cli/progress.h"

namespace brenvale::cli {

void Progress::update(const std::string& text) {
    if (!enabled_) return;
    err_ << '\r' << text;
    if (text.size() < width_) err_ << std::string(width_ - text.size(), ' ');
    width_ = text.size();
    err_.flush();
}

void Progress::finish() {
    if (!enabled_ || width_ == 0) return;
    err_ << '\r' << std::string(width_, ' ') << '\r';
    err_.flush();
    width_ = 0;
}

}  // namespace brenvale::cli
