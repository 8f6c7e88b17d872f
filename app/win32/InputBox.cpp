// The text input box, from the dialog template of the resource script.
#include "app/win32/InputBox.h"

#include "app/win32/Resources.h"
#include "app/win32/WinUi.h"

namespace qx::win32 {

namespace {

struct InputBoxData {
    std::wstring caption;
    std::wstring prompt;
    std::wstring value;
};

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: {
            auto* data = reinterpret_cast<InputBoxData*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            SetWindowTextW(dialog, data->caption.c_str());
            SetDlgItemTextW(dialog, IDC_INPUT_PROMPT, data->prompt.c_str());
            SetDlgItemTextW(dialog, IDC_INPUT_EDIT, data->value.c_str());
            SendDlgItemMessageW(dialog, IDC_INPUT_EDIT, EM_SETSEL, 0, -1);
            CentreWindow(dialog);
            return TRUE;  // the focus goes to the edit box, the first control that takes it
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* data = reinterpret_cast<InputBoxData*>(GetWindowLongPtrW(dialog, DWLP_USER));
                if (data) data->value = WindowText(GetDlgItem(dialog, IDC_INPUT_EDIT));
                // The box asks for the erase password: the edit control keeps no copy.
                SetDlgItemTextW(dialog, IDC_INPUT_EDIT, L"");
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

bool InputBox(HWND owner, const std::string& caption, const std::string& prompt, std::string& value) {
    InputBoxData data{Widen(caption), Widen(prompt), Widen(value)};
    const INT_PTR result = DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_INPUTBOX), owner, InputBoxProc,
                                           reinterpret_cast<LPARAM>(&data));
    if (result == IDOK) value = Narrow(data.value);
    SecureZeroMemory(data.value.data(), data.value.size() * sizeof(wchar_t));
    return result == IDOK;
}

}  // namespace qx::win32
