// The two message dialogs every part of the program uses.
#pragma once

#include <vector>

#include "platform/Platform.h"
#include "texts/TextTable.h"

namespace qel {

// Button set bits and modal results of the standard message dialog.
inline constexpr int kButtonOk = 4;
inline constexpr int kButtonCancel = 8;
inline constexpr int kButtonsOk = kButtonOk;
inline constexpr int kButtonsOkCancel = kButtonOk | kButtonCancel;
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

// Shows a standard message dialog with replaceable button captions; returns the modal result
// (1 OK, 2 Cancel or closed).
int LangMessageDlg(Platform& sys, const TextTable& texts, const Text& message, DialogKind kind,
                   int buttons, const std::vector<Text>& captions);

// Shows llerror as an error with one "OK" button.
void ShowSupportError(Platform& sys, const TextTable& texts);

}  // namespace qel
