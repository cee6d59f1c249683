// Message boxes. There is no one to press a button, so a box is one line on
// standard error, "<title>: <text>", and the caller goes on as if OK had been
// pressed.
#ifndef MAROVETIN_UI_MESSAGE_BOX_H_
#define MAROVETIN_UI_MESSAGE_BOX_H_

#include <cstdio>
#include <string>

namespace ui {

// The button that closed the box.
constexpr int kMessageBoxOk = 1;

// Writes "title: text" and a line feed to stream (standard error unless a
// test says otherwise) and returns kMessageBoxOk. A text that is itself made
// of several lines is written with its line breaks turned into blanks, so
// that one box stays one line.
int ShowMessageBox(const std::string& title, const std::string& text, std::FILE* stream = stderr);

}  // namespace ui

#endif  // MAROVETIN_UI_MESSAGE_BOX_H_
