// The text input box: a small modal dialog with a prompt, an edit box (the text is shown
// as typed), OK and Cancel.
#pragma once

#include <windows.h>

#include <string>

namespace qx::win32 {

// Shows the box over `owner` with `value` as the default text. True and the typed text
// in `value` on OK; false (value unchanged) on Cancel or when the box cannot be shown.
bool InputBox(HWND owner, const std::string& caption, const std::string& prompt, std::string& value);

}  // namespace qx::win32
