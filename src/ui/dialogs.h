// dialogs.h - the About box and the error box.
//
// Windows build: ShowAbout runs dialog 111 of the module modally (no owner), its text field
// 1083 showing the About text; ShowErrorBox is a MessageBoxA without owner, error icon and
// OK. Native build (no windows): ShowAbout stores the text and shows nothing; ShowErrorBox
// writes "title: text" and a line end to standard error.
#pragma once

#include <string>

namespace ov {

// Traces "ShowAbout()", copies the text into the module's About text and shows the About
// box until the user closes it.
void ShowAbout(const std::string& text);
// A message box with the error icon and a single OK button; returns when it is closed.
void ShowErrorBox(const std::string& title, const std::string& text);

} // namespace ov
