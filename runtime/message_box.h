#ifndef WEIGH_RUNTIME_MESSAGE_BOX_H_
#define WEIGH_RUNTIME_MESSAGE_BOX_H_

#include <cstdint>

#include "runtime/text.h"

namespace runtime {

// The style of a box with a single OK button, no icon, application-modal.
constexpr uint32_t MB_OK = 0;

// What ShowMessageBox returns when the operator pressed OK.
constexpr int32_t IDOK = 1;

// Starts the message box service once at program start: the platform's
// common controls and COM on Windows. Failures are ignored.
void StartMessageBox();

// Shows a modal message box and waits until the operator dismisses it.
// While it is shown, the calling thread's other visible top-level windows
// are disabled (all but the foreground one) and taken out of the
// always-on-top band; afterwards both are given back. The box is owned by
// the foreground window when that belongs to this process. `style` goes to
// the platform unchanged as the box type. Returns the identifier of the
// button that closed the box, or 0 when no box could be shown.
int32_t ShowMessageBox(const Text& title, const Text& text, uint32_t style = MB_OK);

// The same box for a title and a text in UTF-8, which Windows shows with
// every letter (MessageBoxW) where ShowMessageBox passes bytes in the ANSI
// code page (MessageBoxA): for reports whose text comes from paths and names.
int32_t ShowUtf8MessageBox(const Text& title, const Text& text, uint32_t style = MB_OK);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_MESSAGE_BOX_H_
