#pragma once
// A one-line progress display on stderr, drawn only when stderr is a terminal.

#include <ostream>
#include <string>

namespace brenvale::cli {

class Progress {
public:
    explicit Progress(std::ostream& err) : err_(err) {}
    void enable(bool on) { enabled_ = on; }
    void update(const std::string& text);
    // Clears the line so the next output starts clean.
    void finish();

private:
    std::ostream& err_;
    bool enabled_ = false;
    std::size_t width_ = 0;
};

}  // namespace brenvale::cli
