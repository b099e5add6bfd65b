// A static control that shows the wizard's rich-text markup (the welcome and
// finish texts; see RichTextMarkup.h for what the markup holds) instead of
// plain text: fonts, colours, centred lines and the logo, on white, with
// long lines wrapped at word boundaries to the control's width.
#pragma once

#include <windows.h>

#include <string>

// Takes over the control's painting by subclassing its window procedure, as
// Windows 95's controls allow; its window text is read as markup from now
// on, however it is set. Attaching a control twice changes nothing; the
// control returns to its own procedure when it is destroyed.
void AttachRichText(HWND staticControl);

// Attaches the control if need be and shows `markup`. The markup is also
// the control's window text, where tests can read it back.
void SetRichText(HWND staticControl, const std::string& markup);
