#pragma once

// Whether a file or an entry is text, for the line-end changes both zip
// libraries make only in text: one rule, so that what the zip library stored
// as text the unzip library reads back as text.

#include <cstddef>
#include <string_view>

namespace zipformat {

// How much of the start decides. A caller hands over this much of the data,
// or all of it when there is less, however the data arrives.
inline constexpr std::size_t textSampleLength = 256 * 1024;

// Whether data whose start is sample reads as text: no zero byte and no
// control code other than those text uses (tab, line feed, form feed,
// carriage return, escape, and backspace, which overstrikes). Bytes past
// textSampleLength are not looked at; nothing at all counts as text.
bool looksLikeText(std::string_view sample);

} // namespace zipformat
