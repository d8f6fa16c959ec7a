// Texts a worksheet hands to the extension's edit boxes (module name, description,
// channel names), checked where the worksheet is read. The boxes take characters,
// but what reaches the module is code page 932 bytes in a field of fixed size (the
// module name 12, the description 40, a channel name 20); a double-byte character
// such as a kanji takes two. Under Wine the boxes count characters (a 12-character
// box takes 11 kanji) and the module keeps 12 bytes (6 kanji), so the bytes are the
// limit that holds whatever the box counts.
#pragma once

#include <stddef.h>

#include <string>

namespace velk {

struct TextField {
    const char* what;     // "name", "comment", "channel name"
    const char* holder;   // "the module name", ...
    size_t bytes;         // code page 932 bytes the module keeps
    const char* tooLong;  // the message for a text of single-byte characters only
};

extern const TextField kModuleNameField;
extern const TextField kModuleCommentField;
extern const TextField kChannelNameField;

// Where UTF-8 text is broken: false with the byte offset of the first byte that does
// not start or continue a valid sequence (overlong forms and surrogates included).
bool validUtf8(const std::string& text, size_t* badOffset = nullptr);

// The text's code page 932 bytes as the field keeps them. False with the reason when
// it is not valid UTF-8, holds a control character (tabs and NUL included), has a
// character code page 932 cannot hold, or takes more bytes than the field keeps.
bool fieldText(const std::string& utf8, const TextField& field, std::string& cp932, std::string& why);

}  // namespace velk
