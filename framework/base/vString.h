// vString: the framework's owned text. It keeps a private heap copy of a
// zero-terminated 8-bit text (or null) and tells a derived class, through the
// virtual `changed`, when a notifying `set` stored a new text. It is the base
// of every node (the name) and every message window (the title), and the type
// of every other stored text.
#pragma once

class vString {
public:
    vString() = default;
    vString(const vString&) = delete;
    vString& operator=(const vString&) = delete;
    virtual ~vString();

    // Called after a notifying set, with the caller's text (null after clearing).
    virtual void changed(const char* text);

    // Stores a copy of `text` (null clears); the very pointer already stored is a no-op.
    void set(const char* text, bool notify);

    // The stored text, or null.
    const char* text() const { return text_; }

private:
    char* text_ = nullptr;
};
