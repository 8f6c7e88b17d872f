// Identifiers shared by the resource scripts and the windows.
#pragma once

#define IDD_INPUTBOX 200
#define IDC_INPUT_PROMPT 201
#define IDC_INPUT_EDIT 202
