#pragma once
// The part of the front end that every subsystem may talk to: message boxes and the event
// pump of long loops. Commands get the full UserInterface (app/user_interface.h), which
// extends this.

#include <string>

namespace brenvale::storage {

inline constexpr char kAppTitle[] = "Brenvale 1.1.2";

enum class MessageKind { Information, Warning, Error };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(MessageKind kind, const std::string& text, const std::string& caption) = 0;
    // Lets the front end process its pending events; called once per step of long work.
    virtual void Pump() {}
};

}  // namespace brenvale::storage
